#include "messages.h"

#include <QTextStream>

namespace app {

namespace {

int defaultAnswer(int flags) {
    return flags == kYesNoQuestion ? kAnswerNo : kAnswerOk;
}

// Without a window system the message still reaches the user, on stderr.
int printToStderr(const ShownMessage& message) {
    QTextStream(stderr) << message.title << ": " << message.text << Qt::endl;
    return defaultAnswer(message.flags);
}

MessagePresenter& presenter() {
    static MessagePresenter current = printToStderr;
    return current;
}

}  // namespace

int MsgBox(const QString& text, int flags, const QString& title) {
    return presenter()({text, flags, title.isEmpty() ? kAppTitle : title});
}

MessagePresenter setMessagePresenter(MessagePresenter replacement) {
    MessagePresenter previous = std::move(presenter());
    presenter() = replacement ? std::move(replacement) : printToStderr;
    return previous;
}

MessageRecorder::MessageRecorder()
    : m_previous(setMessagePresenter([this](const ShownMessage& m) { return record(m); })) {}

MessageRecorder::~MessageRecorder() {
    setMessagePresenter(std::move(m_previous));
}

void MessageRecorder::setNextAnswer(int answer) {
    m_answers.append(answer);
}

int MessageRecorder::record(const ShownMessage& message) {
    m_shown.append(message);
    return m_answers.isEmpty() ? defaultAnswer(message.flags) : m_answers.takeFirst();
}

}  // namespace app
