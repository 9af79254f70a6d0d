// Installing into a staging directory (DESTDIR), as a package build does: the
// files that land, and the installed programs, help, icon, completion, manual
// pages, desktop files and service units working from there.

#include "app/help.h"
#include "app/installation.h"

#include <automation/environment.h>

#include "processes.h"

#include <testenv.h>

#include <QDirIterator>
#include <QStandardPaths>
#include <QtTest>

#include <optional>

namespace {

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString& program, const QStringList& args,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QStringList sorted(QStringList names) {
    names.sort();
    names.removeDuplicates();
    return names;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Environment variables by name.
using Variables = QMap<QString, QString>;

// The value of `key=` in a desktop entry or a unit file, each occurrence.
QStringList values(const QByteArray& file, const QString& key) {
    QStringList found;
    for (const QString& line : QString::fromUtf8(file).split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char('=')))
            found.append(line.mid(key.size() + 1).trimmed());
    }
    return found;
}

}  // namespace

class TestInstall : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init() { m_env.emplace(); }
    void cleanup() { m_env.reset(); }

    void installsExactlyTheExpectedFiles();
    void helpFileBesideOrInstalled();
    void installedCorvaneShowsInstalledHelp();
    void installedCorvaneSpeaksTheUsersLanguage_data();
    void installedCorvaneSpeaksTheUsersLanguage();
    void installedCorvaneUsesThemedIcon();
    void installedCorvaneLoadsItsCreationModule();
    void installedToolsWorkTogether();
    void completionKnowsEveryCommandAndOption();
    void manualPagesRenderAndCoverTheCommands();
    void desktopEntryAndMetainfo();
    void serviceUnitsMatchTheHost();

private:
    // An installed file, by its path on the target system.
    QString staged(const QString& path) const { return m_dest.path() + path; }
    QString bin(const QString& program) const {
        return staged(QStringLiteral(BINDIR "/") + program);
    }
    // The commands automationctl lists in its help.
    QStringList commands() const;
    // The options a program's help lists, without --help.
    QStringList options(const QStringList& helpArgs, const QString& program) const;
    QStringList complete(const QStringList& words) const;
    // Runs the installed corvane until its main window shows (and, given a
    // class, until the test of that class has shown its outcome); what the
    // window probe saw of it.
    // Variables in locale are set for it (a value of its own for each of
    // LANGUAGE, LC_ALL, LC_MESSAGES and LANG, unset where none is given).
    QByteArray probeCorvane(const QString& dataDirs, const QString& testClass = {},
                            const Variables& locale = {}) const;

    QTemporaryDir m_dest;
    std::optional<ScopedXdgEnvironment> m_env;
};

void TestInstall::initTestCase() {
    useShortIdleTime();
    QVERIFY(m_dest.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DESTDIR"), m_dest.path());
    // Every install rule is in the default component; naming it keeps the
    // manifest of the user's own `make install` (install_manifest.txt) for
    // `make uninstall`.
    const Run r = run(QStringLiteral(CMAKE_COMMAND),
                      {"--install", BUILD_DIR, "--component", "Unspecified"}, env);
    QVERIFY2(r.code == 0, r.out + r.err);
}

void TestInstall::installsExactlyTheExpectedFiles() {
    const QString icons = QStringLiteral(DATADIR "/icons/hicolor/");
    QStringList expected = {
        BINDIR "/corvane",
        BINDIR "/automationctl",
        BINDIR "/automation-host",
        SERVERDIR "/Server.exe",
        QStringLiteral(MODULEDIR "/") + QLatin1String(app::kCreationModuleName),
        DATADIR "/corvane/TALVO.HLP",
        DATADIR "/applications/" APP_ID ".desktop",
        DATADIR "/metainfo/" APP_ID ".metainfo.xml",
        icons + "scalable/apps/corvane.svg",
        DATADIR "/doc/corvane/copyright",
        DATADIR "/doc/corvane/changelog.gz",
        BASH_COMPLETION_DIR "/automationctl",
        ZSH_COMPLETION_DIR "/_automationctl",
        UNIT_DIR "/automation-host.service",
        UNIT_DIR "/automation-host.socket",
    };
    for (int size : {16, 32, 48, 64, 128, 256})
        expected.append(icons + QStringLiteral("%1x%1/apps/corvane.png").arg(size));
    for (const QString& language : QStringLiteral(LANGUAGES).split(QLatin1Char(' '))) {
        expected.append(
            QStringLiteral(DATADIR "/corvane/translations/corvane_%1.qm").arg(language));
        expected.append(QStringLiteral(DATADIR "/corvane/TALVO.%1.HLP").arg(language));
    }
    if (MAN_PAGES) {
        for (const char* page : {"corvane", "automationctl", "automation-host"})
            expected.append(QStringLiteral(MANDIR "/man1/%1.1.gz").arg(QLatin1String(page)));
    }

    QStringList installed;
    QDirIterator it(m_dest.path(), QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        const QString path = file.filePath().mid(m_dest.path().size());
        installed.append(path);
        // Programs run; nothing else does.
        const bool program = path.startsWith(QStringLiteral(BINDIR "/")) ||
                             path == QStringLiteral(SERVERDIR "/Server.exe");
        QVERIFY2(file.isExecutable() == program, qPrintable(path));
    }
    QCOMPARE(sorted(installed), sorted(expected));
}

void TestInstall::helpFileBesideOrInstalled() {
    QTemporaryDir prefix;
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    const QString data =
        QDir::cleanPath(QDir(bin).filePath(QStringLiteral("../share/corvane/TALVO.HLP")));
    QVERIFY(QDir().mkpath(bin));
    const QString beside = bin + QStringLiteral("/TALVO.HLP");
    // None there: the path beside the program, whose absence the windows handle.
    QCOMPARE(app::locateHelpFile(bin), beside);
    QVERIFY(QDir().mkpath(QFileInfo(data).path()));
    QVERIFY(QFile(data).open(QIODevice::WriteOnly));
    QCOMPARE(app::locateHelpFile(bin), data);
    QCOMPARE(app::locateHelpFile(bin + QLatin1Char('/')), data);
    // A help file beside the program (a build tree) comes first.
    QVERIFY(QFile(beside).open(QIODevice::WriteOnly));
    QCOMPARE(app::locateHelpFile(bin), beside);
}

QByteArray TestInstall::probeCorvane(const QString& dataDirs, const QString& testClass,
                                     const Variables& locale) const {
    const QString output = m_env->root() + QStringLiteral("/probe.txt");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!locale.isEmpty()) {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            env.remove(QLatin1String(name));
        for (auto it = locale.cbegin(); it != locale.cend(); ++it)
            env.insert(it.key(), it.value());
    }
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(WINDOW_PROBE));
    env.insert(QStringLiteral("WINDOW_PROBE_OUTPUT"), output);
    if (!testClass.isEmpty())
        env.insert(QStringLiteral("WINDOW_PROBE_TEST"), testClass);
    // Where a desktop looks for icons.
    env.insert(QStringLiteral("XDG_DATA_DIRS"), dataDirs);
    const Run r = run(bin(QStringLiteral("corvane")), {}, env);
    if (r.code != 0)
        qWarning() << "corvane failed:" << r.code << r.err;
    return readFile(output);
}

void TestInstall::installedCorvaneShowsInstalledHelp() {
    QVERIFY(!QFile::exists(bin(QStringLiteral("TALVO.HLP"))));
    // The installed copy of the help file gets a title of its own, so that
    // what the window shows can only have come from there.
    const QString help = staged(QStringLiteral(DATADIR "/corvane/TALVO.HLP"));
    QByteArray contents = readFile(help);
    QVERIFY(contents.contains("\n@1 "));
    contents.replace("\n@1 ", "\n@1 Installed help, ");
    QFile file(help);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    file.close();

    const QByteArray report = probeCorvane(staged(QStringLiteral(DATADIR)));
    const auto topics = app::parseHelp(QString::fromUtf8(contents));
    int shown = 0;
    for (const QString& line : QString::fromUtf8(report).split(QLatin1Char('\n'))) {
        const auto match = QRegularExpression(QStringLiteral("^topic (\\d+) (.*)$")).match(line);
        if (!match.hasMatch())
            continue;
        const int topic = match.captured(1).toInt();
        QVERIFY2(topics.contains(topic), qPrintable(line));
        QVERIFY2(match.captured(2).contains(topics.value(topic).title.toHtmlEscaped()),
                 qPrintable(line));
        ++shown;
    }
    QVERIFY2(report.contains("Installed help, "), report);
    QVERIFY(shown >= 7);
}

void TestInstall::installedCorvaneSpeaksTheUsersLanguage_data() {
    QTest::addColumn<Variables>("locale");
    QTest::addColumn<QString>("close");      // the Close button as shown
    QTest::addColumn<QString>("helpTitle");  // of the class name's help topic
    QTest::newRow("LANGUAGE=de") << Variables{{"LANGUAGE", "de"}, {"LANG", "C.UTF-8"}}
                                 << "Schließen"
                                 << "Klassenname des Servers";
    QTest::newRow("LANGUAGE=fr") << Variables{{"LANGUAGE", "fr"}, {"LANG", "C.UTF-8"}} << "Fermer"
                                 << "Nom de classe du serveur";
    QTest::newRow("LANG=de_AT") << Variables{{"LANG", "de_AT.UTF-8"}} << "Schließen"
                                << "Klassenname des Servers";
    QTest::newRow("LANGUAGE=en before fr")
        << Variables{{"LANGUAGE", "en:fr"}, {"LANG", "fr_FR.UTF-8"}} << "Close"
        << "Server class name";
    QTest::newRow("LANGUAGE=en") << Variables{{"LANGUAGE", "en"}} << "Close"
                                 << "Server class name";
    QTest::newRow("C locale") << Variables{{"LC_ALL", "C"}} << "Close"
                              << "Server class name";
}

// The .qm files and the translated help files, found from where the program
// is installed, in the language the environment asks for; English otherwise.
void TestInstall::installedCorvaneSpeaksTheUsersLanguage() {
    QFETCH(Variables, locale);
    QFETCH(QString, close);
    QFETCH(QString, helpTitle);
    const QString report =
        QString::fromUtf8(probeCorvane(staged(QStringLiteral(DATADIR)), {}, locale));
    QVERIFY2(report.contains(QStringLiteral("\nbutton cmdClose ") + close + QLatin1Char('\n')),
             qPrintable(report));
    // The title ends the bold text (an earlier case put a word before the
    // installed English one).
    QVERIFY2(report.contains(QRegularExpression(
                 QStringLiteral("\ntopic 1 <p><b>[^<]*%1</b></p>")
                     .arg(QRegularExpression::escape(helpTitle.toHtmlEscaped())))),
             qPrintable(report));
}

void TestInstall::installedCorvaneUsesThemedIcon() {
    // Icon themes are looked up by the platform's theme, which the offscreen
    // platform does not have.
    if (qgetenv("QT_QPA_PLATFORM") != "xcb")
        QSKIP("needs a window system (runs under Xvfb as test_install_icon)");
    // The index that hicolor-icon-theme puts beside the installed icons.
    QFile index(staged(QStringLiteral(DATADIR "/icons/hicolor/index.theme")));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write(
        "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps,scalable/apps\n\n"
        "[48x48/apps]\nSize=48\nType=Fixed\n\n"
        "[scalable/apps]\nSize=48\nMinSize=1\nMaxSize=512\nType=Scalable\n");
    index.close();
    QVERIFY(probeCorvane(staged(QStringLiteral(DATADIR))).startsWith("icon corvane\n"));
    // Without the installed icons the built-in one stands in.
    QVERIFY(probeCorvane(m_env->dataHome()).startsWith("icon \n"));
}

void TestInstall::installedCorvaneLoadsItsCreationModule() {
    // The installed sample server registers itself with its installed path.
    QCOMPARE(run(staged(QStringLiteral(SERVERDIR "/Server.exe")), {}).code, 0);
    const QByteArray report =
        probeCorvane(staged(QStringLiteral(DATADIR)), QStringLiteral("Server.Application"));
    QStringList atStart;
    QStringList afterTest;
    for (const QString& line : QString::fromUtf8(report).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("mapped ")))
            atStart.append(line.section(QLatin1Char(' '), 1));
        else if (line.startsWith(QLatin1String("mapped-after ")))
            afterTest.append(line.section(QLatin1Char(' '), 1));
    }
    QVERIFY2(report.contains("\nstatus Object Created Successfully\n"), report);
    // Staged under another root than the one it was built for, the program
    // finds its module relative to itself, and maps Qt Network only then.
    const QString module =
        QFileInfo(staged(QStringLiteral(MODULEDIR "/") + QLatin1String(app::kCreationModuleName)))
            .canonicalFilePath();
    QVERIFY(!module.isEmpty());
    QVERIFY(!atStart.contains(module));
    QVERIFY(afterTest.contains(module));
    QVERIFY(!atStart.isEmpty() && atStart.filter(QStringLiteral("/libQt6Network.so")).isEmpty());
    QVERIFY(!afterTest.filter(QStringLiteral("/libQt6Network.so")).isEmpty());
}

void TestInstall::installedToolsWorkTogether() {
    const Run help = run(bin(QStringLiteral("automationctl")), {"--help"});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.contains("Usage: automationctl COMMAND"));
    // The installed sample server registers itself with its installed path,
    // and the installed tool starts it there to create an object.
    const QString server = staged(QStringLiteral(SERVERDIR "/Server.exe"));
    QCOMPARE(run(server, {}).code, 0);
    const Run list = run(bin(QStringLiteral("automationctl")), {"list"});
    QVERIFY2(list.out.contains(server.toUtf8()), list.out);
    const Run create = run(bin(QStringLiteral("automationctl")), {"create", "Server.Application"});
    QVERIFY2(create.code == 0 && create.out.contains("created Server.Application"),
             create.out + create.err);
}

QStringList TestInstall::commands() const {
    const Run help = run(bin(QStringLiteral("automationctl")), {"--help"});
    QStringList names;
    bool listing = false;
    for (const QByteArray& line : help.out.split('\n')) {
        if (line.startsWith("Commands:"))
            listing = true;
        else if (listing && line.startsWith("  "))
            names.append(QString::fromUtf8(line.trimmed().split(' ').first()));
        else if (listing && !names.empty())
            break;
    }
    return sorted(names);
}

QStringList TestInstall::options(const QStringList& helpArgs, const QString& program) const {
    QStringList names;
    const QRegularExpression option(QStringLiteral("^\\s+(?:-\\w, )?(--[\\w-]+)"),
                                    QRegularExpression::MultilineOption);
    auto it = option.globalMatch(QString::fromUtf8(run(bin(program), helpArgs).out));
    while (it.hasNext())
        names.append(it.next().captured(1));
    // Every Qt program has these; completion offers --help only.
    names.removeAll(QStringLiteral("--help"));
    names.removeAll(QStringLiteral("--help-all"));
    return sorted(names);
}

QStringList TestInstall::complete(const QStringList& words) const {
    // As bash calls it when Tab is pressed after these words.
    const QString script = QStringLiteral(
        "source \"$0\" && COMP_WORDS=(automationctl \"$@\") && COMP_CWORD=$# && "
        "{ _automationctl; printf '%s\\n' \"${COMPREPLY[@]}\"; }");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"),
               staged(QStringLiteral(BINDIR)) + QLatin1Char(':') + env.value("PATH"));
    const Run r =
        run(QStringLiteral("bash"),
            QStringList{"-c", script, staged(BASH_COMPLETION_DIR "/automationctl")} + words, env);
    if (r.code != 0 || !r.err.isEmpty())
        qWarning() << "completion failed:" << r.code << r.err;
    return sorted(QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
}

void TestInstall::completionKnowsEveryCommandAndOption() {
    if (QStandardPaths::findExecutable(QStringLiteral("bash")).isEmpty())
        QSKIP("bash is not installed");
    const QStringList commands = this->commands();
    QVERIFY(commands.size() >= 7);
    QCOMPARE(complete({""}), sorted(commands + QStringList{"--help"}));

    const QByteArray zsh = readFile(staged(ZSH_COMPLETION_DIR "/_automationctl"));
    for (const QString& command : commands) {
        const QStringList options =
            this->options({command, "--help"}, QStringLiteral("automationctl"));
        QVERIFY2(zsh.contains("'" + command.toUtf8() + ":"), qPrintable(command));
        for (const QString& option : options) {
            const QRegularExpression described(
                QStringLiteral("['\\)]%1=?\\[").arg(QRegularExpression::escape(option)));
            QVERIFY2(described.match(QString::fromUtf8(zsh)).hasMatch(),
                     qPrintable(command + ' ' + option));
        }
        QCOMPARE(complete({command, "--"}), sorted(options + QStringList{"--help"}));
    }

    QCOMPARE(complete({"set", "X", "--protocol", "ncadg"}),
             (QStringList{"ncadg_ip_udp", "ncadg_ipx"}));
    QCOMPARE(complete({"set", "X", "--level", ""}).size(), 7);
    QCOMPARE(run(staged(SERVERDIR "/Server.exe"), {}).code, 0);
    // Class names come from the registration, past options and their values.
    QCOMPARE(complete({"set", "--machine", "m", "Serv"}), QStringList{"Server.Application"});

    const QString zshProgram = QStandardPaths::findExecutable(QStringLiteral("zsh"));
    if (!zshProgram.isEmpty())
        QCOMPARE(run(zshProgram, {"-n", staged(ZSH_COMPLETION_DIR "/_automationctl")}).code, 0);
}

void TestInstall::manualPagesRenderAndCoverTheCommands() {
    if (!MAN_PAGES)
        QSKIP("built without manual pages");
    const auto page = [this](const char* name) {
        return staged(QStringLiteral(MANDIR "/man1/%1.1.gz").arg(QLatin1String(name)));
    };
    // The roff source, with its escaped hyphens as plain ones.
    const auto source = [&](const char* name) {
        return QString::fromUtf8(run(QStringLiteral("gzip"), {"-dc", page(name)}).out)
            .replace(QStringLiteral("\\-"), QStringLiteral("-"));
    };
    const QString automationctl = source("automationctl");
    for (const QString& command : commands()) {
        QVERIFY2(automationctl.contains(QStringLiteral("\\fB%1\\fR").arg(command)),
                 qPrintable(command));
        for (const QString& option : options({command, "--help"}, QStringLiteral("automationctl")))
            QVERIFY2(automationctl.contains(option), qPrintable(command + ' ' + option));
    }
    const QString host = source("automation-host");
    for (const QString& option : options({"--help"}, QStringLiteral("automation-host")))
        QVERIFY2(host.contains(option), qPrintable(option));

    const QString man = QStandardPaths::findExecutable(QStringLiteral("man"));
    if (man.isEmpty())
        QSKIP("man is not installed: pages not rendered");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    for (const char* name : {"corvane", "automationctl", "automation-host"}) {
        const Run r = run(man, {"--warnings", "-l", page(name)}, env);
        QVERIFY2(r.code == 0 && r.err.isEmpty(), r.err);
        QVERIFY2(r.out.contains("NAME"), name);
    }
}

void TestInstall::desktopEntryAndMetainfo() {
    const QString desktop = staged(DATADIR "/applications/" APP_ID ".desktop");
    const QString metainfo = staged(DATADIR "/metainfo/" APP_ID ".metainfo.xml");
    const QByteArray entry = readFile(desktop);
    const QStringList icon = values(entry, QStringLiteral("Icon"));
    QCOMPARE(icon.size(), 1);
    QVERIFY(QFile::exists(staged(DATADIR "/icons/hicolor/scalable/apps/") + icon.first() + ".svg"));
    QVERIFY(readFile(metainfo).contains("<launchable type=\"desktop-id\">" APP_ID
                                        ".desktop</launchable>"));
    // Each language the windows speak: named in the catalogue entry, and the
    // desktop entry's words in it.
    for (const QString& language : QStringLiteral(LANGUAGES).split(QLatin1Char(' '))) {
        QVERIFY2(readFile(metainfo).contains("<lang>" + language.toUtf8() + "</lang>"),
                 qPrintable(language));
        for (const char* key : {"Name", "GenericName", "Comment"}) {
            const QStringList translated =
                values(entry, QStringLiteral("%1[%2]").arg(QLatin1String(key), language));
            QCOMPARE(translated.size(), 1);
            QVERIFY(!translated.first().isEmpty());
        }
    }

    bool validated = false;
    const QString desktopValidator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!desktopValidator.isEmpty()) {
        const Run r = run(desktopValidator, {desktop});
        QVERIFY2(r.code == 0 && r.out.isEmpty() && r.err.isEmpty(), r.out + r.err);
        validated = true;
    }
    const QString appstream = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    if (!appstream.isEmpty()) {
        const Run r = run(appstream, {"validate", "--no-net", "--pedantic", metainfo});
        QVERIFY2(
            r.code == 0 && !r.out.contains("W:") && !r.out.contains("I:") && !r.out.contains("P:"),
            r.out + r.err);
        validated = true;
    }
    if (!validated)
        QSKIP("neither desktop-file-validate nor appstreamcli is installed");
}

void TestInstall::serviceUnitsMatchTheHost() {
    const QString service = staged(UNIT_DIR "/automation-host.service");
    const QString socket = staged(UNIT_DIR "/automation-host.socket");
    const QStringList exec = values(readFile(service), QStringLiteral("ExecStart"));
    QCOMPARE(exec, QStringList{QStringLiteral(BINDIR "/automation-host")});
    // The socket listens where a host started by hand would.
    const QString port = QString::number(automation::DefaultHostPort);
    QCOMPARE(values(readFile(socket), QStringLiteral("ListenStream")),
             (QStringList{"127.0.0.1:" + port, "[::1]:" + port}));

    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (analyze.isEmpty())
        QSKIP("systemd-analyze is not installed: units not verified");
    // A copy whose ExecStart names the staged program, which must exist.
    QDir units(m_env->root());
    QVERIFY(units.mkpath(QStringLiteral("units")) && units.cd(QStringLiteral("units")));
    QByteArray contents = readFile(service);
    contents.replace("ExecStart=" BINDIR, "ExecStart=" + staged(BINDIR).toUtf8());
    QFile copy(units.filePath(QStringLiteral("automation-host.service")));
    QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(contents) == contents.size());
    copy.close();
    QVERIFY(QFile::copy(socket, units.filePath(QStringLiteral("automation-host.socket"))));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MANPATH"), staged(MANDIR));
    const Run r = run(analyze,
                      {"--user", "verify", units.filePath("automation-host.socket"),
                       units.filePath("automation-host.service")},
                      env);
    QVERIFY2(r.code == 0 && r.out.isEmpty() && r.err.isEmpty(), r.out + r.err);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
