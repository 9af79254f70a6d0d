#pragma once

#include <QMap>
#include <QString>

// The application help file, TALVO.HLP beside the executable or in the data
// folder of an installation. Its format is
// plain UTF-8 text: lines starting with ';' before the first topic are comments;
// a line "@<number> <title>" starts a topic, whose body runs to the next such
// line. Blank lines separate paragraphs.
namespace app {

struct HelpTopic {
    QString title;
    QString body;
};

// Sets the help file the windows use; start-up points it beside the executable.
void setHelpFile(const QString& path);

// The help file for the executable in directory programDir; with a language
// ("de", "fr_CA"), its translated copy TALVO.<language>.HLP.
QString helpFileIn(const QString& programDir, const QString& language = QString());

// The help file start-up uses for the executable in programDir: the one beside
// it (a build tree) when there is one, else the one in the installation's data
// folder (share/corvane beside bin), else the path beside it all the same.
// With a language, a translated copy in either place comes first ("fr_CA",
// then "fr"), and the English file stands in for a language without one.
QString locateHelpFile(const QString& programDir, const QString& language = QString());

// Parses help text; malformed lines before the first topic are ignored.
QMap<int, HelpTopic> parseHelp(const QString& text);

// The topic with that number from the current help file; an empty topic when
// the file or the topic is missing. The file is read once per path.
HelpTopic helpTopic(int number);

}  // namespace app
