#pragma once

#include "registration/component.h"

#include <automation/remoteactivation.h>
#include <automation/serverkit.h>

#include <QCoreApplication>
#include <QtTest>

#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <utility>

// A remote-activation component for tests: it answers with chosen statuses
// and settings and records every call with its arguments exactly as passed,
// an omitted argument as std::nullopt (so that an omitted value and an empty
// string can be told apart).
//
// Unscripted calls either get the defaults (status 0; no registration for
// any class) or, with forwardToAutomation(true), go on to the automation
// layer's own component, so that a test can watch the calls of a program
// that works against a real class registration store.
class RecordingComponent final : public registration::RemoteActivationComponent {
public:
    struct SetCall {
        bool remote = false;
        std::optional<QString> className{};
        std::optional<QString> classId{};
        std::optional<QString> machine{};
        std::optional<QString> protocol{};
        std::optional<QString> level{};

        friend bool operator==(const SetCall&, const SetCall&) = default;
        // How QCOMPARE shows a call that differs.
        friend char* toString(const SetCall& call) {
            const auto shown = [](const std::optional<QString>& argument) {
                return argument ? QLatin1Char('"') + *argument + QLatin1Char('"')
                                : QStringLiteral("omitted");
            };
            return qstrdup(
                qPrintable(QStringLiteral("(%1, %2, %3, %4, %5, %6)")
                               .arg(call.remote ? QStringLiteral("true") : QStringLiteral("false"),
                                    shown(call.className), shown(call.classId), shown(call.machine),
                                    shown(call.protocol), shown(call.level))));
        }
    };
    struct GetCall {
        QString className;
        std::optional<QString> classId;
    };

    // The status of the next SetRemoteActivation calls, one each, in order.
    void setNextStatus(quint16 status) { m_statuses.append(status); }
    // The status of every SetRemoteActivation call not given one by
    // setNextStatus (without forwarding).
    void setDefaultStatus(quint16 status) { m_defaultStatus = status; }

    // The answer of GetRemoteActivation for a class name (matched trimmed and
    // without regard to letter case, as the registration store matches them);
    // std::nullopt answers "not registered".
    void setAnswer(const QString& className,
                   const std::optional<registration::ActivationSettings>& answer) {
        m_answers.insert(key(className), answer);
    }

    // GetRemoteActivation for a class name answers nothing and lastError()
    // gives reason, as when the registration store cannot be read.
    void setUnreadable(const QString& className, const QString& reason) {
        m_unreadable.insert(key(className), reason);
    }

    // Unscripted calls go to the automation layer's component (default store).
    void forwardToAutomation(bool forward) { m_forward = forward; }

    const QList<SetCall>& setCalls() const { return m_setCalls; }
    const QList<GetCall>& getCalls() const { return m_getCalls; }
    void clearCalls() {
        m_setCalls.clear();
        m_getCalls.clear();
    }

    quint16 SetRemoteActivation(bool remote, const std::optional<QString>& className,
                                const std::optional<QString>& classId,
                                const std::optional<QString>& machine,
                                const std::optional<QString>& protocol,
                                const std::optional<QString>& level) override {
        m_setCalls.append({remote, className, classId, machine, protocol, level});
        if (!m_statuses.isEmpty())
            return m_statuses.takeFirst();
        if (m_forward) {
            return automation::RemoteActivation().SetRemoteActivation(remote, className, classId,
                                                                      machine, protocol, level);
        }
        return m_defaultStatus;
    }

    std::optional<registration::ActivationSettings> GetRemoteActivation(
        const QString& className, const std::optional<QString>& classId) override {
        m_getCalls.append({className, classId});
        m_lastError.clear();
        const auto answer = m_answers.constFind(key(className));
        if (answer != m_answers.cend())
            return *answer;
        const auto unreadable = m_unreadable.constFind(key(className));
        if (unreadable != m_unreadable.cend()) {
            m_lastError = *unreadable;
            return std::nullopt;
        }
        if (m_forward) {
            automation::RemoteActivation real;
            std::optional<registration::ActivationSettings> settings =
                real.GetRemoteActivation(className, classId);
            m_lastError = real.lastError();
            return settings;
        }
        return std::nullopt;
    }

    QString lastError() const override { return m_lastError; }

private:
    static QString key(const QString& className) { return className.trimmed().toCaseFolded(); }

    QList<quint16> m_statuses;
    quint16 m_defaultStatus = 0;
    QMap<QString, std::optional<registration::ActivationSettings>> m_answers;
    QMap<QString, QString> m_unreadable;
    QString m_lastError;
    bool m_forward = false;
    QList<SetCall> m_setCalls;
    QList<GetCall> m_getCalls;
};

// Puts a RecordingComponent in place of the component in use for its own
// lifetime, then restores what was there before.
class ScopedRecordingComponent {
public:
    ScopedRecordingComponent() {
        auto recorder = std::make_unique<RecordingComponent>();
        m_recorder = recorder.get();
        m_previous = registration::substituteComponent(std::move(recorder));
    }
    ~ScopedRecordingComponent() { registration::substituteComponent(std::move(m_previous)); }
    Q_DISABLE_COPY_MOVE(ScopedRecordingComponent)

    RecordingComponent& get() const { return *m_recorder; }
    RecordingComponent* operator->() const { return m_recorder; }

private:
    RecordingComponent* m_recorder;
    std::unique_ptr<registration::RemoteActivationComponent> m_previous;
};

// Registers a class for local activation in the test's own class store, so
// that the real component has something to read and write.
inline void registerForTest(const QString& name) {
    const automation::Status s =
        automation::registerClass(name, QString(), QCoreApplication::applicationFilePath());
    QVERIFY2(s.ok(), qPrintable(s.reason));
}
