#include "help.h"

#include "app/installation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace app {

namespace {

struct HelpCache {
    QString path;
    bool loaded = false;
    QMap<int, HelpTopic> topics;
};

HelpCache& cache() {
    static HelpCache c;
    return c;
}

void finishTopic(QMap<int, HelpTopic>& topics, int number, HelpTopic topic) {
    if (number < 0)
        return;
    topic.body = topic.body.trimmed();
    topics.insert(number, topic);
}

struct TopicHeader {
    int number = -1;  // -1 when the digits do not make an int
    QStringView title;
};

// A line "@<digits><blanks><title>" starts a topic. Read by hand: start-up
// reads the help file, and a regular expression engine is a library more to
// load for one pattern.
std::optional<TopicHeader> topicHeader(QStringView line) {
    if (!line.startsWith(QLatin1Char('@')))
        return std::nullopt;
    qsizetype end = 1;
    while (end < line.size() && line[end].isDigit())
        ++end;
    if (end == 1)
        return std::nullopt;
    bool ok = false;
    const int number = line.sliced(1, end - 1).toInt(&ok);
    return TopicHeader{ok ? number : -1, line.sliced(end)};
}

}  // namespace

void setHelpFile(const QString& path) {
    if (cache().path != path)
        cache() = HelpCache{path, false, {}};
}

QString helpFileIn(const QString& programDir, const QString& language) {
    QString dir = programDir;
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return language.isEmpty() ? dir + QStringLiteral("/TALVO.HLP")
                              : dir + QStringLiteral("/TALVO.") + language + QStringLiteral(".HLP");
}

QString locateHelpFile(const QString& programDir, const QString& language) {
    const QString dataDir =
        QDir::cleanPath(QDir(programDir).filePath(QLatin1String(kDataDirFromProgramDir)));
    QStringList languages;
    for (QString wanted = language; !wanted.isEmpty();) {
        languages << wanted;
        const qsizetype cut = wanted.lastIndexOf(QLatin1Char('_'));
        wanted.truncate(qMax<qsizetype>(cut, 0));
    }
    languages << QString();
    for (const QString& candidate : languages) {
        for (const QString& dir : {programDir, dataDir}) {
            QString file = helpFileIn(dir, candidate);
            if (QFileInfo(file).isFile())
                return file;
        }
    }
    return helpFileIn(programDir);
}

QMap<int, HelpTopic> parseHelp(const QString& text) {
    QMap<int, HelpTopic> topics;
    int number = -1;
    HelpTopic topic;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (const std::optional<TopicHeader> header = topicHeader(line)) {
            finishTopic(topics, number, topic);
            number = header->number;
            topic = HelpTopic{header->title.trimmed().toString(), {}};
        } else if (number >= 0) {
            topic.body += line;
            topic.body += QLatin1Char('\n');
        }
    }
    finishTopic(topics, number, topic);
    return topics;
}

HelpTopic helpTopic(int number) {
    HelpCache& c = cache();
    if (!c.loaded) {
        c.loaded = true;
        QFile file(c.path);
        if (!c.path.isEmpty() && file.open(QIODevice::ReadOnly))
            c.topics = parseHelp(QString::fromUtf8(file.readAll()));
    }
    return c.topics.value(number);
}

}  // namespace app
