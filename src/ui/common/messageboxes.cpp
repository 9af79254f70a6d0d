#include "messageboxes.h"

#include "app/messages.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>

namespace common {

void installMessageBoxes() {
    app::setMessagePresenter([](const app::ShownMessage& message) {
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(message.title);
        // Names and paths in a message are the user's: never taken for markup.
        box.setTextFormat(Qt::PlainText);
        box.setText(message.text);
        switch (message.flags) {
            case app::kYesNoQuestion:
                box.setIcon(QMessageBox::Question);
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                box.setDefaultButton(QMessageBox::Yes);
                break;
            case app::kOkExclamation:
                box.setIcon(QMessageBox::Warning);
                box.setStandardButtons(QMessageBox::Ok);
                break;
            default:
                box.setIcon(QMessageBox::NoIcon);
                box.setStandardButtons(QMessageBox::Ok);
                break;
        }
        return box.exec() == QMessageBox::Yes         ? app::kAnswerYes
               : message.flags == app::kYesNoQuestion ? app::kAnswerNo
                                                      : app::kAnswerOk;
    });
}

QString failureText(const app::Failure& failure) {
    using Kind = app::Failure::Kind;
    switch (failure.kind) {
        case Kind::SettingsUnreadable:
            return QCoreApplication::translate(
                       "Failure",
                       "The settings file\n%1\ncould not be read: %2.\n\nThe lists of servers and "
                       "machines stay empty until it can be read; the file has not been changed.")
                .arg(failure.file, failure.reason);
        case Kind::NotRemembered:
            return QCoreApplication::translate(
                       "Failure",
                       "The settings file\n%1\ncould not be updated: %2.\n\n\"%3\" has not been "
                       "remembered.")
                .arg(failure.file, failure.reason, failure.name);
        case Kind::NotForgotten:
            return QCoreApplication::translate(
                       "Failure",
                       "The settings file\n%1\ncould not be updated: %2.\n\n\"%3\" has not been "
                       "forgotten.")
                .arg(failure.file, failure.reason, failure.name);
        case Kind::RegistrationNotUpdated:
            return QCoreApplication::translate("Failure",
                                               "Unable to update registry, please try again");
        case Kind::RegistrationUnreadable:
            return QCoreApplication::translate("Failure",
                                               "The class registration could not be read: %1")
                .arg(failure.reason);
        case Kind::ServerNotStarted:
            return QCoreApplication::translate("Failure", "%1 could not be started: %2.")
                .arg(failure.file, failure.reason);
    }
    return failure.reason;
}

QString asSentence(const QString& reason) {
    QString text = reason.trimmed();
    if (text.isEmpty() || text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char('!')) ||
        text.endsWith(QLatin1Char('?')))
        return text;
    return text + QLatin1Char('.');
}

void reportFailure(const app::Failure& failure) {
    if (failure.repeated)
        return;
    using Kind = app::Failure::Kind;
    switch (failure.kind) {
        case Kind::RegistrationNotUpdated:
            app::MsgBox(failureText(failure), app::kOkOnly);
            break;
        case Kind::ServerNotStarted:
            app::MsgBox(failureText(failure), app::kOkExclamation);
            break;
        default:
            app::MsgBox(failureText(failure), app::kOkExclamation, app::kShortTitle);
            break;
    }
}

}  // namespace common
