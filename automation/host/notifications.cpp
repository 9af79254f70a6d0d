#include "notifications.h"

#include "pairingdesk.h"

#include <automation/printable.h>

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace automation {

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString Accept = QStringLiteral("accept");
const QString Reject = QStringLiteral("reject");
}  // namespace

DesktopNotifications::DesktopNotifications(PairingDesk* desk, QObject* parent)
    : QObject(parent), m_desk(desk) {
    connect(desk, &PairingDesk::requested, this, &DesktopNotifications::notify);
    connect(desk, &PairingDesk::ended, this, &DesktopNotifications::ended);
}

// Only a session bus that is there: no bus is started for the host.
bool DesktopNotifications::connectBus() {
    if (m_tried)
        return m_connected;
    m_tried = true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                SLOT(invoked(uint, QString)));
    bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                SLOT(closed(uint)));
    m_connected = true;
    return true;
}

void DesktopNotifications::notify(const PairingRequest& request) {
    if (!connectBus())
        return;
    QString body = QStringLiteral("Code %1 from %2").arg(request.code, request.address);
    if (!request.comment.isEmpty())
        body += QStringLiteral(" (%1)").arg(printable(request.comment).simplified());
    body += QStringLiteral(". Accept only if the client shows the same code.");
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    call << QStringLiteral("automation-host") << uint(0) << QStringLiteral("network-wired")
         << QStringLiteral("Pairing request") << body
         << QStringList{Accept, QStringLiteral("Accept"), Reject, QStringLiteral("Reject")}
         << QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue(uchar(2))}} << int(0);
    const QString code = request.code;
    m_pending.insert(code, 0);
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, code] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            m_pending.remove(code);
            QTextStream(stderr) << "automation-host: no desktop notification of pairing request "
                                << code << ": " << printable(reply.error().message()) << Qt::endl;
            return;
        }
        // The request may have ended while Notify was on its way.
        if (!m_pending.contains(code)) {
            QDBusConnection::sessionBus().asyncCall(
                QDBusMessage::createMethodCall(Service, Path, Interface,
                                               QStringLiteral("CloseNotification"))
                << reply.value());
            return;
        }
        m_pending.insert(code, reply.value());
        m_codes.insert(reply.value(), code);
    });
}

void DesktopNotifications::invoked(uint id, const QString& action) {
    const QString code = m_codes.value(id);
    if (code.isEmpty() || (action != Accept && action != Reject))
        return;
    const Status s = action == Accept ? m_desk->accept(code, {}) : m_desk->reject(code);
    if (!s.ok())
        QTextStream(stderr) << "automation-host: " << printable(s.reason) << Qt::endl;
}

void DesktopNotifications::closed(uint id) {
    m_pending.remove(m_codes.take(id));
}

void DesktopNotifications::ended(const QString& code) {
    const auto it = m_pending.constFind(code);
    if (it == m_pending.cend())
        return;
    const uint id = it.value();
    m_pending.erase(it);
    if (id == 0)
        return;
    m_codes.remove(id);
    QDBusConnection::sessionBus().asyncCall(
        QDBusMessage::createMethodCall(Service, Path, Interface,
                                       QStringLiteral("CloseNotification"))
        << id);
}

}  // namespace automation
