#pragma once

#include <QHash>
#include <QObject>

namespace automation {

class PairingDesk;
struct PairingRequest;

// Tells the host's user of each pairing request through the desktop's
// notification service (org.freedesktop.Notifications on the session bus),
// with Accept and Reject, when the user has a session bus. Accept there
// authorizes the client for every class. The bus is joined at the first
// request, so that a host without one pays nothing.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifications(PairingDesk* desk, QObject* parent = nullptr);

private Q_SLOTS:
    // The service's signals, connected by name as QtDBus connects them.
    void invoked(uint id, const QString& action);
    void closed(uint id);

private:
    bool connectBus();
    void notify(const PairingRequest& request);
    void ended(const QString& code);

    PairingDesk* m_desk;
    bool m_tried = false;
    bool m_connected = false;
    QHash<uint, QString> m_codes;    // notification id: request code
    QHash<QString, uint> m_pending;  // code: 0 while Notify is in flight
};

}  // namespace automation
