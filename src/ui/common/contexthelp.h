#pragma once

class QWidget;

namespace common {

// Context help: every descendant whose "helpTopic" property holds a topic
// number gets that topic of the help file as its What's-This text, and the
// topic's text as its accessible description (its edit field too, when it is
// a composite control), so that a screen reader says what What's-This shows.
// F1 shows the topic of the control with the focus, Shift+F1 starts
// What's-This mode.
void installContextHelp(QWidget* window);

}  // namespace common
