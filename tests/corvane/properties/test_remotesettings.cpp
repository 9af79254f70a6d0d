// The remote settings update: what reaches the remote-activation component,
// the failure it returns, and the server entry recorded on success. Forced
// statuses go through the recording component; the other cases run against
// the automation layer's component and a class registration store of their own.
#include "recordingcomponent.h"
#include "registration/component.h"
#include "registration/remotesettings.h"
#include "settings/store.h"
#include "testenv.h"

#include <automation/remoteactivation.h>

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

const QString kClass = QStringLiteral("Server.Application");

// The update was written and the class remembered.
bool savedAndRemembered(const app::Result<registration::Remembered>& saved) {
    return saved && saved.value();
}

// The update was refused, as the properties dialog tells the user.
bool refused(const app::Result<registration::Remembered>& saved) {
    return !saved && saved.failure()->kind == app::Failure::Kind::RegistrationNotUpdated;
}

}  // namespace

class TestRemoteSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void remoteOnPassesAllFiveValues();
    void remoteOnPassesEmptyCodesForNone();
    void remoteOffPassesOnlyFlagAndName();
    void nonZeroStatusTellsAndRecordsNothing_data();
    void nonZeroStatusTellsAndRecordsNothing();
    void successRecordsANewClass();
    void successLeavesAListedClassAlone();
    void failingSettingsStoreStillReportsTheWrite();

    void realComponentWritesRemoteSettings();
    void realComponentWritesLocalActivation();
    void realComponentRefusals_data();
    void realComponentRefusals();

    void recordingComponentScriptsAndForwards();

private:
    std::unique_ptr<ScopedXdgEnvironment> m_env;
};

void TestRemoteSettings::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
}

void TestRemoteSettings::cleanup() {
    m_env.reset();
}

void TestRemoteSettings::remoteOnPassesAllFiveValues() {
    ScopedRecordingComponent component;
    QVERIFY(savedAndRemembered(registration::SaveRemoteSettings(
        true, QStringLiteral(" My.Class "), QStringLiteral(" hostA "),
        QStringLiteral("ncacn_ip_tcp"), QStringLiteral("6"))));
    QCOMPARE(component->setCalls().size(), 1);
    QCOMPARE(component->setCalls().first(),
             (RecordingComponent::SetCall{.remote = true,
                                          .className = QStringLiteral(" My.Class "),
                                          .machine = QStringLiteral(" hostA "),
                                          .protocol = QStringLiteral("ncacn_ip_tcp"),
                                          .level = QStringLiteral("6")}));
    QVERIFY(component->getCalls().isEmpty());
}

void TestRemoteSettings::remoteOnPassesEmptyCodesForNone() {
    ScopedRecordingComponent component;
    QVERIFY(registration::SaveRemoteSettings(true, kClass, QStringLiteral("hostA"), QString(),
                                             QString()));
    // Empty strings, not omitted values.
    QCOMPARE(component->setCalls().first(),
             (RecordingComponent::SetCall{.remote = true,
                                          .className = kClass,
                                          .machine = QStringLiteral("hostA"),
                                          .protocol = QString(),
                                          .level = QString()}));
}

void TestRemoteSettings::remoteOffPassesOnlyFlagAndName() {
    ScopedRecordingComponent component;
    QVERIFY(registration::SaveRemoteSettings(false, kClass, QStringLiteral("hostA"),
                                             QStringLiteral("ncacn_np"), QStringLiteral("2")));
    QCOMPARE(component->setCalls().size(), 1);
    QCOMPARE(component->setCalls().first(),
             (RecordingComponent::SetCall{.remote = false, .className = kClass}));
    // The machine given is not remembered either.
    QVERIFY(settings::Machines().value().isEmpty());
    QCOMPARE(settings::Servers().value(), QStringList{kClass});
}

void TestRemoteSettings::nonZeroStatusTellsAndRecordsNothing_data() {
    QTest::addColumn<bool>("remote");
    QTest::addColumn<int>("status");
    QTest::newRow("remote, status 1") << true << 1;
    QTest::newRow("remote, status 7") << true << 7;
    QTest::newRow("local, status 2") << false << 2;
    QTest::newRow("local, status 65535") << false << 65535;
}

void TestRemoteSettings::nonZeroStatusTellsAndRecordsNothing() {
    QFETCH(bool, remote);
    QFETCH(int, status);
    ScopedRecordingComponent component;
    component->setDefaultStatus(quint16(status));
    QVERIFY(refused(registration::SaveRemoteSettings(remote, kClass, QStringLiteral("hostA"),
                                                     QString(), QString())));
    QCOMPARE(component->setCalls().size(), 1);  // never retried
    QVERIFY(settings::Servers().value().isEmpty());
    QVERIFY(settings::Machines().value().isEmpty());
}

void TestRemoteSettings::successRecordsANewClass() {
    ScopedRecordingComponent component;
    QVERIFY(settings::AddServer(QStringLiteral("Other.Class")));
    QVERIFY(savedAndRemembered(registration::SaveRemoteSettings(false, kClass)));
    QCOMPARE(settings::Servers().value(), (QStringList{QStringLiteral("Other.Class"), kClass}));
    QCOMPARE(
        settings::defaultStore().GetSetting(settings::kApplication, settings::kServers, kClass),
        std::optional<QString>(QStringLiteral("saved")));
}

void TestRemoteSettings::successLeavesAListedClassAlone() {
    ScopedRecordingComponent component;
    QVERIFY(settings::AddServer(kClass));
    QVERIFY(settings::AddServer(QStringLiteral("Other.Class")));
    // The class listed with different letter case is the same entry.
    QVERIFY(registration::SaveRemoteSettings(true, QStringLiteral("server.application"),
                                             QStringLiteral("hostA"), QString(), QString()));
    const std::optional<settings::Entries> entries =
        settings::defaultStore().GetAllSettings(settings::kApplication, settings::kServers);
    QVERIFY(entries);
    QCOMPARE(entries->size(), 2);
    QCOMPARE(entries->at(0), std::make_pair(kClass, QStringLiteral("saved")));
    QCOMPARE(entries->at(1).first, QStringLiteral("Other.Class"));
}

void TestRemoteSettings::failingSettingsStoreStillReportsTheWrite() {
    ScopedRecordingComponent component;
    // A plain file where the store's directory belongs: the store cannot open.
    QFile blocker(m_env->configHome() + QStringLiteral("/corvane"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // The registration was written, so the update counts as done; why the
    // class is not remembered comes with it.
    const app::Result<registration::Remembered> saved =
        registration::SaveRemoteSettings(false, kClass);
    QVERIFY(saved);
    QCOMPARE(component->setCalls().size(), 1);
    QVERIFY(!saved.value());
    QCOMPARE(saved.value().failure()->kind, app::Failure::Kind::SettingsUnreadable);
    QCOMPARE(saved.value().failure()->file, settings::Store::defaultPath());
}

void TestRemoteSettings::realComponentWritesRemoteSettings() {
    registerForTest(kClass);
    QVERIFY(savedAndRemembered(
        registration::SaveRemoteSettings(true, kClass, QStringLiteral("  hostB  "),
                                         QStringLiteral("ncacn_np"), QStringLiteral("5"))));
    const auto stored = automation::RemoteActivation().GetRemoteActivation(kClass);
    QVERIFY(stored);
    QCOMPARE(stored->remote, true);
    QCOMPARE(stored->machine, QStringLiteral("  hostB  "));
    QCOMPARE(stored->protocol, QStringLiteral("ncacn_np"));
    QCOMPARE(stored->level, QStringLiteral("5"));
    QCOMPARE(settings::Servers().value(), QStringList{kClass});

    // "[None]" twice: no protocol and no level.
    QVERIFY(registration::SaveRemoteSettings(true, kClass, QStringLiteral("hostB"), QString(),
                                             QString()));
    const auto none = automation::RemoteActivation().GetRemoteActivation(kClass);
    QVERIFY(none);
    QCOMPARE(none->protocol, QString());
    QCOMPARE(none->level, QString());
    QCOMPARE(settings::Servers().value(), QStringList{kClass});
}

void TestRemoteSettings::realComponentWritesLocalActivation() {
    registerForTest(kClass);
    QCOMPARE(automation::RemoteActivation().SetRemoteActivation(
                 true, kClass, std::nullopt, QStringLiteral("hostB"),
                 QStringLiteral("ncacn_ip_tcp"), QStringLiteral("1")),
             quint16(0));
    QVERIFY(savedAndRemembered(registration::SaveRemoteSettings(
        false, kClass, QStringLiteral("ignored"), QStringLiteral("not-a-protocol"),
        QStringLiteral("not-a-level"))));
    const auto stored = automation::RemoteActivation().GetRemoteActivation(kClass);
    QVERIFY(stored);
    QCOMPARE(*stored, automation::ActivationSettings{});
    QCOMPARE(settings::Servers().value(), QStringList{kClass});
}

void TestRemoteSettings::realComponentRefusals_data() {
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QString>("protocol");
    QTest::newRow("class not registered")
        << QStringLiteral("Nowhere.Class") << QStringLiteral("hostA") << QString();
    QTest::newRow("blank machine") << kClass << QStringLiteral("   ") << QString();
    QTest::newRow("unknown protocol")
        << kClass << QStringLiteral("hostA") << QStringLiteral("ncacn_http");
}

void TestRemoteSettings::realComponentRefusals() {
    QFETCH(QString, className);
    QFETCH(QString, machine);
    QFETCH(QString, protocol);
    registerForTest(kClass);
    const auto before = automation::RemoteActivation().GetRemoteActivation(kClass);
    QVERIFY(
        refused(registration::SaveRemoteSettings(true, className, machine, protocol, QString())));
    QVERIFY(settings::Servers().value().isEmpty());
    QCOMPARE(automation::RemoteActivation().GetRemoteActivation(kClass), before);
}

// The recording component as other window tests use it: scripted answers
// first, then the automation layer's component when forwarding.
void TestRemoteSettings::recordingComponentScriptsAndForwards() {
    registerForTest(kClass);
    ScopedRecordingComponent component;
    RecordingComponent& recorder = component.get();
    QCOMPARE(&registration::component(),
             static_cast<registration::RemoteActivationComponent*>(&recorder));
    const registration::ActivationSettings remote{true, QStringLiteral("hostA"),
                                                  QStringLiteral("ncacn_np"), QStringLiteral("3")};
    recorder.setAnswer(QStringLiteral("Scripted.Class"), remote);
    recorder.setUnreadable(QStringLiteral("Broken.Class"), QStringLiteral("disk I/O error"));

    QCOMPARE(registration::component().GetRemoteActivation(QStringLiteral(" scripted.CLASS ")),
             std::optional(remote));
    QVERIFY(registration::component().lastError().isEmpty());
    QVERIFY(!registration::component().GetRemoteActivation(QStringLiteral("Broken.Class")));
    QCOMPARE(registration::component().lastError(), QStringLiteral("disk I/O error"));
    // Without forwarding, an unscripted class is not registered.
    QVERIFY(!registration::component().GetRemoteActivation(kClass));
    QVERIFY(registration::component().lastError().isEmpty());
    QCOMPARE(registration::component().SetRemoteActivation(true, kClass), quint16(0));
    QCOMPARE(automation::RemoteActivation().GetRemoteActivation(kClass),
             std::optional(registration::ActivationSettings{}));

    // Forwarding: the real store answers and is written; scripted statuses
    // still come first, one call each.
    recorder.forwardToAutomation(true);
    QCOMPARE(registration::component().GetRemoteActivation(kClass),
             std::optional(registration::ActivationSettings{}));
    recorder.setNextStatus(9);
    QCOMPARE(registration::component().SetRemoteActivation(true, kClass, std::nullopt,
                                                           QStringLiteral("hostB")),
             quint16(9));
    QCOMPARE(registration::component().SetRemoteActivation(true, kClass, std::nullopt,
                                                           QStringLiteral("hostB")),
             quint16(0));
    QCOMPARE(automation::RemoteActivation().GetRemoteActivation(kClass)->machine,
             QStringLiteral("hostB"));
    QCOMPARE(registration::component().SetRemoteActivation(true, kClass), quint16(6));

    QCOMPARE(recorder.getCalls().size(), 4);
    QCOMPARE(recorder.getCalls().first().className, QStringLiteral(" scripted.CLASS "));
    QCOMPARE(recorder.getCalls().first().classId, std::nullopt);
    QCOMPARE(recorder.setCalls().size(), 4);
    QCOMPARE(recorder.setCalls().last().machine, std::nullopt);
    recorder.clearCalls();
    QVERIFY(recorder.setCalls().isEmpty());
    QVERIFY(recorder.getCalls().isEmpty());
}

QTEST_GUILESS_MAIN(TestRemoteSettings)
#include "test_remotesettings.moc"
