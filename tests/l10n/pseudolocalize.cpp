// Writes the pseudo-translation that shows which texts escape translation:
//   pseudolocalize ts <out.ts> <in.ts>...   every text of the .ts files
//   pseudolocalize help <out.HLP> <in.HLP>  every topic of a help file
// Each text becomes "[Ṕŕóṕéŕţíéś]": accented letters in brackets, with its
// placeholders (%1), access keys (&), line breaks and markup kept, so that
// the windows work as they do in English.
#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QSaveFile>
#include <QTextStream>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

QChar accented(QChar c) {
    static const QMap<QChar, QChar> map = [] {
        const QString plain = QStringLiteral("AaCcEeGgIiKkLlNnOoPpRrSsTtUuYyZz");
        const QString marked = QStringLiteral("ÁáĆćÉéǴǵÍíḰḱĹĺŃńÓóṔṕŔŕŚśŢţÚúÝýŹź");
        QMap<QChar, QChar> m;
        for (qsizetype i = 0; i < plain.size(); ++i)
            m.insert(plain[i], marked[i]);
        return m;
    }();
    return map.value(c, c);
}

// One text: letters accented, placeholders, markup tags and the patterns of
// a file type ("(*.exe)") kept as they are.
QString pseudoPart(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const QChar next = i + 1 < text.size() ? text[i + 1] : QChar();
        const qsizetype tagEnd = text.indexOf(QLatin1Char('>'), i);
        const qsizetype groupEnd = text.indexOf(QLatin1Char(')'), i);
        qsizetype keep = -1;
        if (c == QLatin1Char('%') && (next.isDigit() || next == QLatin1Char('n')))
            keep = i + 1;
        else if (c == QLatin1Char('<') && (next.isLetter() || next == QLatin1Char('/')))
            keep = tagEnd;
        else if (c == QLatin1Char('(') && groupEnd > i &&
                 text.mid(i, groupEnd - i).contains(QLatin1Char('*')))
            keep = groupEnd;
        if (keep > i) {
            out += text.mid(i, keep - i + 1);
            i = keep;
        } else {
            out += accented(c);
        }
    }
    return QLatin1Char('[') + out + QLatin1Char(']');
}

// File dialog filters ("Server (*.exe);;VB Reg (*.vbr)") are pseudo-translated
// filter by filter, so that each stays one.
QString pseudo(const QString& text) {
    if (text.trimmed().isEmpty())
        return text;
    QStringList parts = text.split(QStringLiteral(";;"));
    for (QString& part : parts)
        part = pseudoPart(part);
    return parts.join(QStringLiteral(";;"));
}

struct Message {
    QString source;
    QString comment;
};

// The messages of every .ts file, each once, by context.
bool readCatalogues(const QStringList& files, QMap<QString, QList<Message>>& contexts) {
    for (const QString& name : files) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly)) {
            QTextStream(stderr) << name << ": " << file.errorString() << Qt::endl;
            return false;
        }
        QXmlStreamReader xml(&file);
        QString context;
        Message message;
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            if (xml.name() == QLatin1String("name"))
                context = xml.readElementText();
            else if (xml.name() == QLatin1String("message"))
                message = {};
            else if (xml.name() == QLatin1String("source"))
                message.source = xml.readElementText();
            else if (xml.name() == QLatin1String("comment"))
                message.comment = xml.readElementText();
            else if (xml.name() == QLatin1String("translation")) {
                QList<Message>& list = contexts[context];
                const bool known = std::any_of(list.cbegin(), list.cend(), [&](const Message& m) {
                    return m.source == message.source && m.comment == message.comment;
                });
                if (!known)
                    list.append(message);
            }
        }
        if (xml.hasError()) {
            QTextStream(stderr) << name << ": " << xml.errorString() << Qt::endl;
            return false;
        }
    }
    return true;
}

bool writeCatalogue(const QString& name, const QMap<QString, QList<Message>>& contexts) {
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral("<!DOCTYPE TS>"));
    xml.writeStartElement(QStringLiteral("TS"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.1"));
    xml.writeAttribute(QStringLiteral("language"), QStringLiteral("en_XA"));
    for (auto it = contexts.cbegin(); it != contexts.cend(); ++it) {
        xml.writeStartElement(QStringLiteral("context"));
        xml.writeTextElement(QStringLiteral("name"), it.key());
        for (const Message& message : it.value()) {
            xml.writeStartElement(QStringLiteral("message"));
            xml.writeTextElement(QStringLiteral("source"), message.source);
            if (!message.comment.isEmpty())
                xml.writeTextElement(QStringLiteral("comment"), message.comment);
            xml.writeTextElement(QStringLiteral("translation"), pseudo(message.source));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return file.commit();
}

// Topic titles and paragraphs pseudo-translated; comments and numbers kept.
bool writeHelp(const QString& name, const QString& from) {
    QFile in(from);
    QSaveFile out(name);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    QString text;
    bool topics = false;
    for (const QString& line : QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('@'))) {
            topics = true;
            const qsizetype blank = line.indexOf(QLatin1Char(' '));
            text += blank < 0 ? line : line.left(blank + 1) + pseudo(line.mid(blank + 1));
        } else {
            text += topics ? pseudo(line) : line;
        }
        text += QLatin1Char('\n');
    }
    text.chop(1);
    out.write(text.toUtf8());
    return out.commit();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    bool ok = false;
    if (args.size() >= 3 && args[0] == QLatin1String("ts")) {
        QMap<QString, QList<Message>> contexts;
        ok = readCatalogues(args.mid(2), contexts) && writeCatalogue(args[1], contexts);
    } else if (args.size() == 3 && args[0] == QLatin1String("help")) {
        ok = writeHelp(args[1], args[2]);
    } else {
        QTextStream(stderr) << "usage: pseudolocalize ts OUT.ts IN.ts... | help OUT.HLP IN.HLP"
                            << Qt::endl;
    }
    return ok ? 0 : 1;
}
