#pragma once

#include "app/version.h"

#include <QList>
#include <QString>

#include <functional>

// Every message box of the program goes through MsgBox. The widgets layer
// installs the presenter that draws the box; tests install a recorder that
// answers instead of the user.
namespace app {

inline const QString kShortTitle = QStringLiteral("Corvane");

// Flags: buttons + icon, as the message-box convention of the program has them.
enum MsgFlags : int {
    kOkOnly = 0,          // OK, no icon
    kYesNoQuestion = 36,  // Yes and No, question icon
    kOkExclamation = 48,  // OK, exclamation icon
};

// Answer codes.
enum MsgAnswer : int {
    kAnswerOk = 1,
    kAnswerYes = 6,
    kAnswerNo = 7,
};

// Shows text with the given flags. An empty title shows the application title.
// Returns the answer code.
int MsgBox(const QString& text, int flags = kOkOnly, const QString& title = QString());

struct ShownMessage {
    QString text;
    int flags = 0;
    QString title;  // the title as shown, the application title when none was given
};

using MessagePresenter = std::function<int(const ShownMessage&)>;

// Installs the routine that shows boxes; returns the previous one.
MessagePresenter setMessagePresenter(MessagePresenter replacement);

// Test hook: while an instance exists, boxes are recorded instead of shown and
// answered with the scripted answers (one-shot, in order), or OK / No when
// none is scripted.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    void setNextAnswer(int answer);
    const QList<ShownMessage>& shown() const { return m_shown; }
    int count() const { return int(m_shown.size()); }
    ShownMessage last() const { return m_shown.isEmpty() ? ShownMessage{} : m_shown.last(); }
    void clear() {
        m_shown.clear();
        m_answers.clear();
    }

private:
    int record(const ShownMessage& message);

    QList<ShownMessage> m_shown;
    QList<int> m_answers;
    MessagePresenter m_previous;
};

}  // namespace app
