#include "translation.h"

#include "app/installation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

namespace app {

namespace {

const QString kCatalogue = QStringLiteral("corvane_");

bool isTranslation(const QString& directory, const QString& language) {
    return QFileInfo(QDir(directory).filePath(kCatalogue + language + QStringLiteral(".qm")))
        .isFile();
}

bool install(const QString& name, const QString& directory) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(name, directory) && QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}

}  // namespace

QString translationsDirIn(const QString& programDir) {
    QString beside = QDir(programDir).filePath(QStringLiteral("translations"));
    if (QFileInfo(beside).isDir())
        return beside;
    return QDir::cleanPath(
        QDir(programDir)
            .filePath(QLatin1String(kDataDirFromProgramDir) + QStringLiteral("/translations")));
}

QString translationLanguage(const QString& directory, const QStringList& wanted) {
    for (QString name : wanted) {
        name.replace(QLatin1Char('-'), QLatin1Char('_'));
        const QLocale::Language language = QLocale(name).language();
        // The source texts are English: a user who puts English first gets
        // them, whatever languages follow.
        if (language == QLocale::English || language == QLocale::C)
            return {};
        // "de_AT" first, then "de"; a script or region more is dropped.
        QString candidate = name;
        while (true) {
            if (isTranslation(directory, candidate))
                return candidate;
            const qsizetype cut = candidate.lastIndexOf(QLatin1Char('_'));
            if (cut <= 0)
                break;
            candidate.truncate(cut);
        }
    }
    return {};
}

bool installTranslations(const QString& directory, const QString& language) {
    if (!install(kCatalogue + language, directory))
        return false;
    // Qt's own, as the distribution packages them; without them standard
    // buttons stay English, which is no reason to give up Corvane's.
    install(QStringLiteral("qtbase_") + language,
            QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    return true;
}

}  // namespace app
