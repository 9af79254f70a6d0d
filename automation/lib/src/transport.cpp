#include "transport.h"

#include <automation/trust.h>

#include <QLocalSocket>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace automation {

void Transport::fail(const Status& status) {
    QMetaObject::invokeMethod(
        this, [this, status] { emit failed(status); }, Qt::QueuedConnection);
}

namespace {

class LocalTransport final : public Transport {
public:
    LocalTransport(const QString& path, const QString& server, QObject* parent)
        : Transport(parent), m_path(path), m_server(server), m_socket(new QLocalSocket(this)) {
        connect(m_socket, &QLocalSocket::connected, this, &LocalTransport::checkPeer);
        connect(m_socket, &QLocalSocket::errorOccurred, this, [this] {
            if (!m_ready)
                fail(
                    Status::failure(Error::ConnectionRefused,
                                    QStringLiteral("%1: %2").arg(peer(), m_socket->errorString())));
        });
        connect(m_socket, &QLocalSocket::disconnected, this, [this] {
            if (m_ready)
                emit disconnected();
        });
    }

    void open() override { m_socket->connectToServer(m_path); }
    QIODevice* device() const override { return m_socket; }
    QString peer() const override { return QStringLiteral("server %1").arg(m_server); }
    void close() override { m_socket->disconnectFromServer(); }

private:
    // Only a server of our own user may hand us objects: another user's
    // program at this path would be an impostor.
    void checkPeer() {
        emit connected();
        if (const Status s = checkPeerUser(m_socket->socketDescriptor()); !s.ok()) {
            m_socket->abort();
            return fail(
                Status::failure(s.error, QStringLiteral("%1: the process at %2 %3; it is not used")
                                             .arg(peer(), m_path, s.reason)));
        }
        m_ready = true;
        emit ready();
    }

    QString m_path;
    QString m_server;
    QLocalSocket* m_socket;
    bool m_ready = false;
};

// TCP, with or without TLS.
class NetworkTransport : public Transport {
public:
    NetworkTransport(QTcpSocket* socket, const QString& machine, quint16 port, QObject* parent)
        : Transport(parent), m_socket(socket), m_machine(machine), m_port(port) {
        socket->setParent(this);
        // Requests and answers are single small writes: Nagle's algorithm
        // would hold them back for the peer's delayed acknowledgement.
        connect(m_socket, &QAbstractSocket::connected, this,
                [this] { m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
        connect(m_socket, &QAbstractSocket::errorOccurred, this,
                [this](QAbstractSocket::SocketError error) {
                    if (!m_ready && !m_failed)
                        socketFailed(error);
                });
        connect(m_socket, &QAbstractSocket::disconnected, this, [this] {
            if (m_ready)
                emit disconnected();
        });
    }

    QIODevice* device() const override { return m_socket; }
    QString peer() const override {
        return QStringLiteral("automation-host on %1 port %2").arg(m_machine).arg(m_port);
    }
    void close() override { m_socket->disconnectFromHost(); }

protected:
    void refuse(const Status& status) {
        m_failed = true;
        m_socket->abort();
        fail(status);
    }
    void accept() {
        m_ready = true;
        emit ready();
    }

    virtual QString closedEarly() const {
        return QStringLiteral("%1 closed the connection").arg(peer());
    }

    QTcpSocket* m_socket;
    QString m_machine;
    quint16 m_port;

private:
    void socketFailed(QAbstractSocket::SocketError error) {
        const QString detail = QStringLiteral("%1: %2").arg(peer(), m_socket->errorString());
        switch (error) {
            case QAbstractSocket::HostNotFoundError:
                return refuse(
                    Status::failure(Error::MachineNotFound,
                                    QStringLiteral("machine %1 was not found").arg(m_machine)));
            case QAbstractSocket::ConnectionRefusedError:
                return refuse(Status::failure(Error::ConnectionRefused,
                                              QStringLiteral("%1 refused the connection (is "
                                                             "automation-host running there?)")
                                                  .arg(peer())));
            case QAbstractSocket::RemoteHostClosedError:
                return refuse(Status::failure(Error::HostRefused, closedEarly()));
            case QAbstractSocket::SocketTimeoutError:
            case QAbstractSocket::NetworkError:
                return refuse(Status::failure(Error::Timeout, detail));
            case QAbstractSocket::SslHandshakeFailedError:
            case QAbstractSocket::SslInternalError:
            case QAbstractSocket::SslInvalidUserDataError:
                return refuse(Status::failure(Error::ProtocolError,
                                              QStringLiteral("%1: the TLS handshake failed: %2")
                                                  .arg(peer(), m_socket->errorString())));
            default:
                return refuse(Status::failure(Error::ConnectionRefused, detail));
        }
    }

    bool m_ready = false;
    bool m_failed = false;
};

class TcpTransport final : public NetworkTransport {
public:
    TcpTransport(const QString& machine, quint16 port, QObject* parent)
        : NetworkTransport(new QTcpSocket, machine, port, parent) {
        connect(m_socket, &QAbstractSocket::connected, this, [this] {
            emit connected();
            accept();
        });
    }
    void open() override { m_socket->connectToHost(m_machine, m_port); }
};

class TlsTransport final : public NetworkTransport {
public:
    TlsTransport(const QString& machine, quint16 port, const Identity& identity, QObject* parent,
                 HostCheck check)
        : NetworkTransport(new QSslSocket, machine, port, parent),
          m_ownId(identity.id),
          m_check(check) {
        auto* tls = ssl();
        tls->setSslConfiguration(tlsConfiguration(identity));
        connect(tls, &QSslSocket::connected, this, &Transport::connected);
        connect(tls, &QSslSocket::encrypted, this, &TlsTransport::checkHost);
    }
    void open() override {
        if (!QSslSocket::supportsSsl())
            return refuse(Status::failure(
                Error::ProtocolNotSupported,
                QStringLiteral("TLS is not available here (Qt's OpenSSL backend is missing)")));
        ssl()->connectToHostEncrypted(m_machine, m_port);
    }

private:
    QSslSocket* ssl() const { return static_cast<QSslSocket*>(m_socket); }

    QString closedEarly() const override {
        return QStringLiteral("%1 closed the connection during the TLS handshake").arg(peer());
    }

    // Nothing is sent before the host has shown an identity we trust.
    void checkHost() {
        m_peerId = identityOf(ssl()->peerCertificate());
        if (m_check == HostCheck::Pinned) {
            const Status trusted = checkHostIdentity(m_peerId, m_ownId, m_machine, peer());
            if (!trusted.ok())
                return refuse(trusted);
        }
        accept();
    }

    QString peerIdentity() const override { return m_peerId; }

    QString m_ownId;
    HostCheck m_check;
    QString m_peerId;
};

}  // namespace

Transport* localTransport(const QString& path, const QString& server, QObject* parent) {
    return new LocalTransport(path, server, parent);
}

Transport* tcpTransport(const QString& machine, quint16 port, QObject* parent) {
    return new TcpTransport(machine, port, parent);
}

Transport* tlsTransport(const QString& machine, quint16 port, const Identity& identity,
                        QObject* parent, HostCheck check) {
    return new TlsTransport(machine, port, identity, parent, check);
}

QString bareMachine(const QString& machine) {
    QString name = machine.trimmed();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    return name;
}

}  // namespace automation
