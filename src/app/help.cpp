#include "help.h"

#include "app/installation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

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

}  // namespace

void setHelpFile(const QString& path) {
    if (cache().path != path)
        cache() = HelpCache{path, false, {}};
}

QString helpFileIn(const QString& programDir) {
    QString dir = programDir;
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir + QStringLiteral("/TALVO.HLP");
}

QString locateHelpFile(const QString& programDir) {
    QString beside = helpFileIn(programDir);
    if (QFileInfo(beside).isFile())
        return beside;
    const QString installed = helpFileIn(
        QDir::cleanPath(QDir(programDir).filePath(QLatin1String(kDataDirFromProgramDir))));
    return QFileInfo(installed).isFile() ? installed : beside;
}

QMap<int, HelpTopic> parseHelp(const QString& text) {
    static const QRegularExpression header(QStringLiteral("^@(\\d+)\\s*(.*)$"));
    QMap<int, HelpTopic> topics;
    int number = -1;
    HelpTopic topic;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const auto match = header.match(line);
        if (match.hasMatch()) {
            finishTopic(topics, number, topic);
            bool ok = false;
            number = match.captured(1).toInt(&ok);
            if (!ok)
                number = -1;
            topic = HelpTopic{match.captured(2).trimmed(), {}};
        } else if (number >= 0) {
            topic.body += line + QLatin1Char('\n');
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
