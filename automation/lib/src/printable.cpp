#include <automation/printable.h>

namespace automation {

namespace {

// What a character is replaced by, or nothing when it stays as it is.
QString escapeOf(char16_t c) {
    switch (c) {
        case u'\n':
            return QStringLiteral("\\n");
        case u'\r':
            return QStringLiteral("\\r");
        case u'\t':
            return QStringLiteral("\\t");
        default:
            break;
    }
    if (c < 0x20 || c == 0x7f)
        return QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    if ((c >= 0x80 && c <= 0x9f) || c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e) ||
        (c >= 0x2066 && c <= 0x2069))
        return QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
    return {};
}

QString escape(QStringView text, bool quote) {
    QString out;
    out.reserve(text.size() + (quote ? 2 : 0));
    if (quote)
        out += QLatin1Char('"');
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            out += text.at(i);
            out += text.at(++i);
            continue;
        }
        if (QChar::isSurrogate(c)) {
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
            continue;
        }
        if (quote && (c == u'\\' || c == u'"')) {
            out += QLatin1Char('\\');
            out += QChar(c);
            continue;
        }
        const QString escaped = escapeOf(c);
        if (escaped.isEmpty())
            out += QChar(c);
        else
            out += escaped;
    }
    if (quote)
        out += QLatin1Char('"');
    return out;
}

}  // namespace

QString printable(QStringView text) {
    return escape(text, false);
}

QString quoted(QStringView text) {
    return escape(text, true);
}

}  // namespace automation
