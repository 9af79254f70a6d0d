#include "busvalues.h"

#include "busframes.h"

#include <QStringList>

#include <systemd/sd-bus.h>

#include <cmath>
#include <limits>

namespace automation::busvalues {

namespace {

QString errnoText(int r) {
    return QString::fromLocal8Bit(strerror(-r));
}

// A whole number from a variant of any numeric type, or from its text.
bool wholeNumber(const QVariant& value, bool* negative, qulonglong* magnitude) {
    bool ok = false;
    switch (value.typeId()) {
        case QMetaType::Bool:
            return false;
        case QMetaType::Double:
        case QMetaType::Float: {
            const double d = value.toDouble();
            if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 1.8e19)
                return false;
            *negative = d < 0;
            *magnitude = qulonglong(std::fabs(d));
            return true;
        }
        case QMetaType::QString:
        case QMetaType::QByteArray: {
            const QString text = value.toString().trimmed();
            if (text.startsWith(QLatin1Char('-'))) {
                const qlonglong v = text.toLongLong(&ok);
                *negative = true;
                *magnitude = qulonglong(-(v + 1)) + 1;
                return ok;
            }
            *negative = false;
            *magnitude = text.toULongLong(&ok);
            return ok;
        }
        default:
            break;
    }
    if (value.canConvert<qlonglong>()) {
        const QMetaType t = value.metaType();
        const bool isUnsigned =
            t == QMetaType::fromType<uint>() || t == QMetaType::fromType<qulonglong>() ||
            t == QMetaType::fromType<ushort>() || t == QMetaType::fromType<uchar>() ||
            t == QMetaType::fromType<ulong>();
        if (isUnsigned) {
            *negative = false;
            *magnitude = value.toULongLong(&ok);
        } else {
            const qlonglong v = value.toLongLong(&ok);
            *negative = v < 0;
            *magnitude = v < 0 ? qulonglong(-(v + 1)) + 1 : qulonglong(v);
        }
        return ok;
    }
    return false;
}

template <typename T>
bool fits(const QVariant& value, T* out) {
    bool negative = false;
    qulonglong magnitude = 0;
    if (!wholeNumber(value, &negative, &magnitude))
        return false;
    if (negative) {
        if constexpr (std::is_unsigned_v<T>)
            return magnitude == 0 && (*out = 0, true);
        else {
            if (magnitude > qulonglong(std::numeric_limits<T>::max()) + 1)
                return false;
            *out = T(-qlonglong(magnitude - 1) - 1);
            return true;
        }
    }
    if (magnitude > qulonglong(std::numeric_limits<T>::max()))
        return false;
    *out = T(magnitude);
    return true;
}

bool toBool(const QVariant& value, int* out) {
    if (value.typeId() == QMetaType::Bool) {
        *out = value.toBool();
        return true;
    }
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        const QString text = value.toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("1"))
            return (*out = 1, true);
        if (text == QLatin1String("false") || text == QLatin1String("0"))
            return (*out = 0, true);
        return false;
    }
    qlonglong n = 0;
    if (fits(value, &n) && (n == 0 || n == 1))
        return (*out = int(n), true);
    return false;
}

bool toDouble(const QVariant& value, double* out) {
    bool ok = false;
    if (value.typeId() == QMetaType::Bool)
        return false;
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray)
        *out = value.toString().trimmed().toDouble(&ok);
    else if (value.canConvert<double>())
        *out = value.toDouble(&ok);
    return ok;
}

bool isText(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::QString:
        case QMetaType::QByteArray:
        case QMetaType::QChar:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::Bool:
            return true;
        default:
            return false;
    }
}

// The signature a variant's value goes as, inside a "v".
QByteArray signatureOfValue(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::QVariantHash:
            return "a{sv}";
        case QMetaType::Float:
            return "d";
        case QMetaType::Short:
            return "n";
        case QMetaType::UShort:
            return "q";
        case QMetaType::UChar:
            return "y";
        case QMetaType::Long:
            return "x";
        case QMetaType::ULong:
            return "t";
        default:
            return signatureOf(value.metaType());
    }
}

struct Writer {
    sd_bus_message* m;
    QString* error;
    int depth = 0;

    bool fail(const QString& reason) {
        if (error->isEmpty())
            *error = reason;
        return false;
    }
    bool check(int r) {
        return r >= 0 || fail(QStringLiteral("cannot encode: %1").arg(errnoText(r)));
    }

    bool value(const QByteArray& sig, const QVariant& v) {
        if (++depth > calls::MaxNesting)
            return fail(QStringLiteral("values are nested deeper than %1").arg(calls::MaxNesting));
        const bool ok = one(sig, v);
        --depth;
        return ok;
    }

    bool one(const QByteArray& sig, const QVariant& v) {
        const QString shown = v.toString();
        const auto wrong = [&] {
            return fail(isText(v) ? QStringLiteral("\"%1\" is not a value of type %2")
                                        .arg(shown, QString::fromLatin1(sig))
                                  : QStringLiteral("a %1 is not a value of type %2")
                                        .arg(QString::fromLatin1(v.metaType().name()),
                                             QString::fromLatin1(sig)));
        };
        const char t = sig.at(0);
        switch (t) {
            case 's':
            case 'o':
            case 'g': {
                if (!isText(v) || v.typeId() == QMetaType::Bool)
                    return wrong();
                const QByteArray utf8 = v.toString().toUtf8();
                return check(sd_bus_message_append_basic(m, t, utf8.constData()));
            }
            case 'b': {
                int b = 0;
                return toBool(v, &b) ? check(sd_bus_message_append_basic(m, t, &b)) : wrong();
            }
            case 'd': {
                double d = 0;
                return toDouble(v, &d) ? check(sd_bus_message_append_basic(m, t, &d)) : wrong();
            }
            case 'y': {
                quint8 n = 0;
                return fits(v, &n) ? check(sd_bus_message_append_basic(m, t, &n)) : wrong();
            }
            case 'n': {
                qint16 n = 0;
                return fits(v, &n) ? check(sd_bus_message_append_basic(m, t, &n)) : wrong();
            }
            case 'q': {
                quint16 n = 0;
                return fits(v, &n) ? check(sd_bus_message_append_basic(m, t, &n)) : wrong();
            }
            case 'i': {
                qint32 n = 0;
                return fits(v, &n) ? check(sd_bus_message_append_basic(m, t, &n)) : wrong();
            }
            case 'u': {
                quint32 n = 0;
                return fits(v, &n) ? check(sd_bus_message_append_basic(m, t, &n)) : wrong();
            }
            case 'x': {
                qint64 n = 0;
                return fits(v, &n) ? check(sd_bus_message_append_basic(m, t, &n)) : wrong();
            }
            case 't': {
                quint64 n = 0;
                return fits(v, &n) ? check(sd_bus_message_append_basic(m, t, &n)) : wrong();
            }
            case 'v': {
                const QVariant inner =
                    v.metaType() == QMetaType::fromType<QVariant>() ? v.value<QVariant>() : v;
                const QByteArray innerSig = signatureOfValue(inner);
                if (innerSig.isEmpty())
                    return fail(QStringLiteral("a %1 cannot be sent")
                                    .arg(QString::fromLatin1(inner.metaType().name())));
                return check(sd_bus_message_open_container(m, 'v', innerSig.constData())) &&
                       value(innerSig, inner) && check(sd_bus_message_close_container(m));
            }
            case 'a':
                return array(sig.mid(1), v, wrong);
            case '(':
                return structure(sig.mid(1, sig.size() - 2), v, wrong);
            default:
                return fail(QStringLiteral("type %1 cannot be sent").arg(QString::fromLatin1(sig)));
        }
    }

    template <typename Wrong>
    bool array(const QByteArray& element, const QVariant& v, const Wrong& wrong) {
        if (element == "y" && v.typeId() == QMetaType::QByteArray) {
            const QByteArray bytes = v.toByteArray();
            return check(
                sd_bus_message_append_array(m, 'y', bytes.constData(), size_t(bytes.size())));
        }
        if (element.startsWith('{')) {
            if (!v.canConvert<QVariantMap>() || isText(v))
                return wrong();
            const QByteArray entry = element.mid(1, element.size() - 2);
            const int keyLength = completeTypeLength(entry.constData());
            const QByteArray keySig = entry.left(keyLength);
            const QByteArray valueSig = entry.mid(keyLength);
            const QVariantMap map = v.toMap();
            if (!check(sd_bus_message_open_container(m, 'a', element.constData())))
                return false;
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                if (!check(sd_bus_message_open_container(m, 'e', entry.constData())) ||
                    !value(keySig, it.key()) || !value(valueSig, it.value()) ||
                    !check(sd_bus_message_close_container(m)))
                    return false;
            }
            return check(sd_bus_message_close_container(m));
        }
        if (v.typeId() != QMetaType::QVariantList && v.typeId() != QMetaType::QStringList &&
            v.typeId() != QMetaType::QByteArrayList)
            return wrong();
        const QVariantList list = v.toList();
        if (!check(sd_bus_message_open_container(m, 'a', element.constData())))
            return false;
        for (const QVariant& item : list)
            if (!value(element, item))
                return false;
        return check(sd_bus_message_close_container(m));
    }

    template <typename Wrong>
    bool structure(const QByteArray& members, const QVariant& v, const Wrong& wrong) {
        if (v.typeId() != QMetaType::QVariantList && v.typeId() != QMetaType::QStringList)
            return wrong();
        const QVariantList list = v.toList();
        if (!check(sd_bus_message_open_container(m, 'r', members.constData())))
            return false;
        int at = 0;
        int index = 0;
        while (at < members.size()) {
            const int length = completeTypeLength(members.constData() + at);
            if (index >= list.size())
                return fail(QStringLiteral("a structure (%1) needs more than %2 values")
                                .arg(QString::fromLatin1(members))
                                .arg(list.size()));
            if (!value(members.mid(at, length), list.at(index++)))
                return false;
            at += length;
        }
        if (index != list.size())
            return fail(QStringLiteral("a structure (%1) takes %2 values, not %3")
                            .arg(QString::fromLatin1(members))
                            .arg(index)
                            .arg(list.size()));
        return check(sd_bus_message_close_container(m));
    }
};

struct Reader {
    sd_bus_message* m;
    QString* error;
    int depth = 0;
    int values = 0;

    bool fail(const QString& reason) {
        if (error->isEmpty())
            *error = reason;
        return false;
    }
    bool check(int r) {
        return r >= 0 || fail(QStringLiteral("cannot decode: %1").arg(errnoText(r)));
    }

    // Reads the values up to the end of the open container (or message).
    bool rest(QVariantList* out) {
        for (;;) {
            char type = 0;
            const char* contents = nullptr;
            const int r = sd_bus_message_peek_type(m, &type, &contents);
            if (r == 0)
                return true;
            if (!check(r))
                return false;
            QVariant v;
            if (!next(type, contents, &v))
                return false;
            out->append(v);
        }
    }

    template <typename T>
    bool basic(char type, QVariant* out) {
        T v{};
        if (!check(sd_bus_message_read_basic(m, type, &v)))
            return false;
        *out = QVariant::fromValue(v);
        return true;
    }

    bool next(char type, const char* contents, QVariant* out) {
        if (++values > calls::MaxValues)
            return fail(
                QStringLiteral("a message holds more than %1 values").arg(calls::MaxValues));
        switch (type) {
            case 's':
            case 'o':
            case 'g': {
                const char* text = nullptr;
                if (!check(sd_bus_message_read_basic(m, type, &text)))
                    return false;
                *out = QString::fromUtf8(text);
                return true;
            }
            case 'b': {
                int b = 0;
                if (!check(sd_bus_message_read_basic(m, type, &b)))
                    return false;
                *out = bool(b);
                return true;
            }
            case 'y': {
                quint8 v = 0;
                if (!check(sd_bus_message_read_basic(m, type, &v)))
                    return false;
                *out = uint(v);
                return true;
            }
            case 'n': {
                qint16 v = 0;
                if (!check(sd_bus_message_read_basic(m, type, &v)))
                    return false;
                *out = int(v);
                return true;
            }
            case 'q': {
                quint16 v = 0;
                if (!check(sd_bus_message_read_basic(m, type, &v)))
                    return false;
                *out = uint(v);
                return true;
            }
            case 'i':
            case 'h':
                return basic<qint32>(type, out);
            case 'u':
                return basic<quint32>(type, out);
            case 'x':
                return basic<qlonglong>(type, out);
            case 't':
                return basic<qulonglong>(type, out);
            case 'd':
                return basic<double>(type, out);
            default:
                break;
        }
        if (++depth > calls::MaxNesting)
            return fail(QStringLiteral("values are nested deeper than %1").arg(calls::MaxNesting));
        const bool ok = container(type, contents, out);
        --depth;
        return ok;
    }

    bool container(char type, const char* contents, QVariant* out) {
        if (type == 'a' && qstrcmp(contents, "y") == 0) {
            const void* bytes = nullptr;
            size_t size = 0;
            if (!check(sd_bus_message_read_array(m, 'y', &bytes, &size)))
                return false;
            *out = QByteArray(static_cast<const char*>(bytes), qsizetype(size));
            return true;
        }
        if (!check(sd_bus_message_enter_container(m, type, contents)))
            return false;
        QVariantList items;
        if (!rest(&items))
            return false;
        if (!check(sd_bus_message_exit_container(m)))
            return false;
        if (type == 'v') {
            *out = items.value(0);
            return true;
        }
        if (type == 'a' && contents[0] == '{') {
            QVariantMap map;
            for (const QVariant& entry : items) {
                const QVariantList pair = entry.toList();
                map.insert(pair.value(0).toString(), pair.value(1));
            }
            *out = map;
            return true;
        }
        if (type == 'a' && qstrcmp(contents, "s") == 0) {
            QStringList strings;
            for (const QVariant& item : items)
                strings.append(item.toString());
            *out = strings;
            return true;
        }
        *out = items;
        return true;
    }
};

}  // namespace

QByteArray signatureOf(QMetaType type) {
    switch (type.id()) {
        case QMetaType::QString:
            return "s";
        case QMetaType::Bool:
            return "b";
        case QMetaType::Int:
            return "i";
        case QMetaType::UInt:
            return "u";
        case QMetaType::LongLong:
            return "x";
        case QMetaType::ULongLong:
            return "t";
        case QMetaType::Double:
            return "d";
        case QMetaType::QByteArray:
            return "ay";
        case QMetaType::QStringList:
            return "as";
        case QMetaType::QVariant:
            return "v";
        case QMetaType::QVariantList:
            return "av";
        case QMetaType::QVariantMap:
            return "a{sv}";
        default:
            return {};
    }
}

int completeTypeLength(const char* signature) {
    if (!signature || !*signature)
        return 0;
    switch (signature[0]) {
        case 'a': {
            const int inner = completeTypeLength(signature + 1);
            return inner ? inner + 1 : 0;
        }
        case '(':
        case '{': {
            const char close = signature[0] == '(' ? ')' : '}';
            int at = 1;
            while (signature[at] && signature[at] != close) {
                const int inner = completeTypeLength(signature + at);
                if (!inner)
                    return 0;
                at += inner;
            }
            return signature[at] == close && at > 1 ? at + 1 : 0;
        }
        default:
            return strchr("ybnqiuxtdsogvh", signature[0]) ? 1 : 0;
    }
}

bool append(sd_bus_message* message, const char* signature, const QVariant& value, QString* error) {
    Writer writer{message, error};
    return writer.value(QByteArray(signature), value);
}

bool readAll(sd_bus_message* message, QVariantList* values, QString* error) {
    Reader reader{message, error};
    return reader.rest(values);
}

bool toType(const QVariant& value, QMetaType type, QVariant* out) {
    if (type == QMetaType::fromType<QVariant>()) {
        *out = value;
        return true;
    }
    if (value.metaType() == type) {
        *out = value;
        return true;
    }
    QVariant converted = value;
    if (!converted.convert(type))
        return false;
    *out = converted;
    return true;
}

}  // namespace automation::busvalues
