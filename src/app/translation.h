#pragma once

#include <QLocale>
#include <QString>

// The user's language: Corvane's translation and Qt's own (standard buttons,
// the file dialog), found as the help file is.
namespace app {

// The folder of Corvane's translations for the executable in programDir:
// "translations" beside it (a build tree) when there is one, else the one in
// the installation's data folder.
QString translationsDirIn(const QString& programDir);

// The language, among those with a translation in directory, that the user
// reads first of the languages wanted ("de-AT", "fr", in order, as
// QLocale::uiLanguages() gives the user's): "de_AT" or "de" as the file is
// named. Empty when English comes first (or the C locale) or none is
// translated: the texts are then the English ones the program is written with.
QString translationLanguage(const QString& directory,
                            const QStringList& wanted = QLocale::system().uiLanguages());

// Installs Corvane's translation for language from directory, and Qt's own
// for it where Qt has one; the translators belong to the application. False
// when Corvane's cannot be loaded (a missing or damaged file), which leaves
// the English texts.
bool installTranslations(const QString& directory, const QString& language);

}  // namespace app
