#pragma once

#include <QEvent>
#include <QObject>

#include <unistd.h>

// Ends the process, without any teardown, when the watched window has been
// painted for the first time: the moment a user sees it.
class ExitOnFirstPaint : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            // Let the paint happen first.
            QMetaObject::invokeMethod(
                this, [] { _exit(0); }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }
};
