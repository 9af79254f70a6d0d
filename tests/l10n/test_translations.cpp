// Corvane in the user's language. A pseudo-translation made from the .ts
// files shows every text that escapes translation; in German and French (and
// in English, as it is) no text is cut off by its control and no access key
// is used twice in a window, at any scale factor (this executable runs again
// at 2); start-up picks the language the user reads first.
#include "app/help.h"
#include "app/translation.h"
#include "windowtour.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// Marked by the pseudo-translation: in brackets, with accented letters where
// it has letters. Data put into a text (a machine's name) keeps its letters;
// the words around it do not.
bool isPseudo(const QString& text) {
    static const QString accents = QStringLiteral("ÁáĆćÉéǴǵÍíḰḱĹĺŃńÓóṔṕŔŕŚśŢţÚúÝýŹź");
    const QString trimmed = text.trimmed();
    const auto accentedLetter = [](QChar c) { return accents.contains(c); };
    const auto plainLetter = [](QChar c) { return c.isLetter() && c.unicode() < 128; };
    return trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']')) &&
           (std::any_of(trimmed.cbegin(), trimmed.cend(), accentedLetter) ||
            std::none_of(trimmed.cbegin(), trimmed.cend(), plainLetter));
}

// The placeholders of a text, in order of number: "%1", "%2".
QStringList placeholders(const QString& text) {
    QStringList found;
    QRegularExpressionMatchIterator it =
        QRegularExpression(QStringLiteral("%\\d")).globalMatch(text);
    while (it.hasNext())
        found << it.next().captured();
    found.sort();
    return found;
}

// Access keys marked in a caption ("&&" is an ampersand shown).
qsizetype accessKeys(const QString& text) {
    return QString(text).remove(QStringLiteral("&&")).count(QLatin1Char('&'));
}

void removeTranslators() {
    const QList<QTranslator*> translators = qApp->findChildren<QTranslator*>();
    for (QTranslator* translator : translators) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

}  // namespace

class TestTranslations : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    void translationsAreComplete();
    void everyTextIsTranslated();
    void translationsFitTheirControls_data();
    void translationsFitTheirControls();
    void usersLanguageIsChosen_data();
    void usersLanguageIsChosen();
};

void TestTranslations::cleanup() {
    rejectModalsLeftOpen();
    removeTranslators();
    app::setHelpFile(QString());
}

// Every text of every .ts file translated, with the placeholders of its
// source (a name left out of a message is lost to the user) and an access
// key where the source has one.
void TestTranslations::translationsAreComplete() {
    const QStringList files = QStringLiteral(TS_FILES).split(QLatin1Char(','));
    QVERIFY(!files.isEmpty());
    for (const QString& name : files) {
        QFile file(name);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(name));
        QXmlStreamReader xml(&file);
        QStringList faults;
        QString source;
        int messages = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                ++messages;
                const bool unfinished = xml.attributes().hasAttribute(QStringLiteral("type"));
                const QString translation = xml.readElementText();
                if (unfinished || translation.isEmpty())
                    faults << QStringLiteral("untranslated: ") + source;
                else if (placeholders(translation) != placeholders(source))
                    faults << QStringLiteral("placeholders differ: ") + translation;
                else if (accessKeys(translation) != accessKeys(source))
                    faults << QStringLiteral("access keys differ: ") + translation;
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(name + QStringLiteral(": ") + xml.errorString()));
        QVERIFY2(messages > 100, qPrintable(name));
        QVERIFY2(faults.isEmpty(),
                 qPrintable(name + QStringLiteral(":\n") + faults.join(QLatin1Char('\n'))));
    }
}

void TestTranslations::everyTextIsTranslated() {
    auto* pseudo = new QTranslator(qApp);
    QVERIFY(pseudo->load(QStringLiteral(PSEUDO_QM)));
    QCoreApplication::installTranslator(pseudo);
    app::setHelpFile(QStringLiteral(PSEUDO_HELP));

    QStringList escaped;
    QStringList withoutText;
    tour::WindowTour tour;
    tour.visit([&](const tour::Scene& scene, QWidget* window) {
        const QList<tour::Shown> texts = tour::textsOf(scene, window);
        if (texts.isEmpty())
            withoutText << scene.name;
        for (const tour::Shown& shown : texts) {
            if (!isPseudo(shown.text))
                escaped << QStringLiteral("%1: %2 \"%3\"").arg(scene.name, shown.where, shown.text);
        }
    });
    QVERIFY2(withoutText.isEmpty(), qPrintable(withoutText.join(QStringLiteral("; "))));
    // A text new since the .ts files were last brought up to date shows
    // here too: `make translations` adds it.
    QVERIFY2(escaped.isEmpty(),
             qPrintable(QStringLiteral("not translated:\n") + escaped.join(QLatin1Char('\n'))));
}

void TestTranslations::translationsFitTheirControls_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("close");  // the main window's Close button
    QTest::addColumn<QString>("yes");    // Qt's own Yes button
    QTest::newRow("English") << QString() << "Close"
                             << "&Yes";
    QTest::newRow("German") << "de"
                            << "Schließen"
                            << "&Ja";
    QTest::newRow("French") << "fr"
                            << "Fermer"
                            << "&Oui";
}

void TestTranslations::translationsFitTheirControls() {
    QFETCH(QString, language);
    QFETCH(QString, close);
    QFETCH(QString, yes);
    if (!language.isEmpty())
        QVERIFY(app::installTranslations(QStringLiteral(TRANSLATIONS_DIR), language));
    app::setHelpFile(app::locateHelpFile(QStringLiteral(BUILD_DIR), language));

    QStringList cut;
    QStringList keys;
    QString closeShown;
    QString yesShown;
    tour::WindowTour tour;
    tour.visit([&](const tour::Scene& scene, QWidget* window) {
        const QString at = scene.name + QStringLiteral(": ");
        if (scene.layout == tour::Layout::Fixed) {
            for (const QString& text : cutOffTexts(window))
                cut << at + text;
        }
        if (scene.layout != tour::Layout::FileDialog) {
            for (const QString& key : tour::repeatedAccessKeys(window))
                keys << at + key;
        }
        if (window->objectName() == QLatin1String("frmServerReg"))
            closeShown = control<QPushButton>(window, "cmdClose")->text();
        if (auto* box = qobject_cast<QMessageBox*>(window); box && box->button(QMessageBox::Yes))
            yesShown = box->button(QMessageBox::Yes)->text();
    });
    QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("cut off:\n") + cut.join(QLatin1Char('\n'))));
    QVERIFY2(keys.isEmpty(), qPrintable(QStringLiteral("access keys used twice:\n") +
                                        keys.join(QLatin1Char('\n'))));
    // Looked at in the language asked for, Qt's own texts too.
    QCOMPARE(closeShown, close);
    QCOMPARE(yesShown, yes);
}

void TestTranslations::usersLanguageIsChosen_data() {
    QTest::addColumn<QStringList>("wanted");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("helpTitle");  // of the first help topic
    const QString english = QStringLiteral("Server class name");
    const QString german = QStringLiteral("Klassenname des Servers");
    const QString french = QStringLiteral("Nom de classe du serveur");
    QTest::newRow("German") << QStringList{"de-DE", "de"} << "de" << german;
    QTest::newRow("Austrian German: German") << QStringList{"de-AT"} << "de" << german;
    QTest::newRow("Canadian French: French") << QStringList{"fr-CA", "fr"} << "fr" << french;
    QTest::newRow("English") << QStringList{"en-US", "en"} << QString() << english;
    QTest::newRow("English before German") << QStringList{"en-GB", "de"} << QString() << english;
    QTest::newRow("C locale") << QStringList{"C"} << QString() << english;
    QTest::newRow("untranslated, then French")
        << QStringList{"ja-JP", "ja", "fr"} << "fr" << french;
    QTest::newRow("untranslated only") << QStringList{"pt-BR", "pt"} << QString() << english;
    QTest::newRow("none") << QStringList{} << QString() << english;
}

void TestTranslations::usersLanguageIsChosen() {
    QFETCH(QStringList, wanted);
    QFETCH(QString, language);
    QFETCH(QString, helpTitle);
    QCOMPARE(app::translationLanguage(QStringLiteral(TRANSLATIONS_DIR), wanted), language);
    app::setHelpFile(app::locateHelpFile(QStringLiteral(BUILD_DIR), language));
    QCOMPARE(app::helpTopic(1).title, helpTitle);
    // A regional variant without a help file of its own has its language's.
    if (!language.isEmpty()) {
        app::setHelpFile(app::locateHelpFile(QStringLiteral(BUILD_DIR), language + "_XX"));
        QCOMPARE(app::helpTopic(1).title, helpTitle);
    }
}

QTEST_MAIN(TestTranslations)
#include "test_translations.moc"
