#include "platform/db/FieldType.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QTime>

namespace rpt {

const char *fieldTypeName(TFieldType t)
{
    switch (t) {
    case ftUnknown: return "ftUnknown";
    case ftString: return "ftString";
    case ftFixedChar: return "ftFixedChar";
    case ftWideString: return "ftWideString";
    case ftMemo: return "ftMemo";
    case ftWideMemo: return "ftWideMemo";
    case ftSmallint: return "ftSmallint";
    case ftInteger: return "ftInteger";
    case ftWord: return "ftWord";
    case ftAutoInc: return "ftAutoInc";
    case ftLargeint: return "ftLargeint";
    case ftBoolean: return "ftBoolean";
    case ftFloat: return "ftFloat";
    case ftCurrency: return "ftCurrency";
    case ftBCD: return "ftBCD";
    case ftFMTBcd: return "ftFMTBcd";
    case ftDate: return "ftDate";
    case ftTime: return "ftTime";
    case ftDateTime: return "ftDateTime";
    case ftTimeStamp: return "ftTimeStamp";
    case ftBlob: return "ftBlob";
    case ftBytes: return "ftBytes";
    case ftVarBytes: return "ftVarBytes";
    }
    return "ftUnknown";
}

bool isStringType(TFieldType t) { return t == ftString || t == ftFixedChar || t == ftWideString; }
bool isAnsiType(TFieldType t) { return t == ftString || t == ftFixedChar || t == ftMemo; }
bool isMemoType(TFieldType t) { return t == ftMemo || t == ftWideMemo; }
bool isBlobType(TFieldType t) { return isMemoType(t) || t == ftBlob; }
bool isIntegerType(TFieldType t)
{
    return t == ftSmallint || t == ftInteger || t == ftWord || t == ftAutoInc || t == ftLargeint;
}
bool isDecimalType(TFieldType t) { return t == ftBCD || t == ftFMTBcd; }

int TFieldDefs::IndexOf(const QString &name) const
{
    for (int i = 0; i < size(); ++i)
        if (at(i).Name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

namespace {

QDate parseDate(const QString &s)
{
    for (const char *f : {"yyyy-MM-dd", "yyyy/MM/dd", "yyyy/M/d", "yyyy-M-d", "yyyyMMdd"}) {
        QDate d = QDate::fromString(s, QLatin1String(f));
        if (d.isValid())
            return d;
    }
    return QDate();
}

QTime parseTime(const QString &s)
{
    for (const char *f : {"HH:mm:ss.zzz", "HH:mm:ss", "HH:mm", "H:mm:ss", "H:mm"}) {
        QTime t = QTime::fromString(s, QLatin1String(f));
        if (t.isValid())
            return t;
    }
    return QTime();
}

QDateTime parseDateTime(const QString &s)
{
    const QString t = s.trimmed();
    const qsizetype sep = t.indexOf(QRegularExpression(QStringLiteral("[ T]")));
    if (sep < 0) {
        QDate d = parseDate(t);
        return d.isValid() ? QDateTime(d, QTime(0, 0), Qt::UTC) : QDateTime();
    }
    QDate d = parseDate(t.left(sep));
    QTime tm = parseTime(t.mid(sep + 1).trimmed());
    if (!d.isValid() || !tm.isValid())
        return QDateTime();
    return QDateTime(d, tm, Qt::UTC);
}

} // namespace

QVariant coerceValue(const QVariant &v, TFieldType type, bool *ok)
{
    if (ok)
        *ok = true;
    if (!v.isValid() || v.isNull())
        return QVariant();
    auto fail = [&]() {
        if (ok)
            *ok = false;
        return QVariant();
    };
    const int tid = v.userType();
    switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
    case ftWideMemo:
        if (tid == QMetaType::QString)
            return v;
        if (tid == QMetaType::QByteArray)
            return QString::fromUtf8(v.toByteArray());
        return valueToText(v, ftUnknown);
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: {
        bool good = false;
        qlonglong n = 0;
        if (tid == QMetaType::QString) {
            n = v.toString().trimmed().toLongLong(&good);
        } else if (tid == qMetaTypeId<Decimal>()) {
            auto i = v.value<Decimal>().toInt64();
            good = i.has_value();
            n = i.value_or(0);
        } else {
            n = v.toLongLong(&good);
        }
        if (type == ftLargeint)
            return good ? QVariant(n) : fail();
        if (!good || n < INT_MIN || n > INT_MAX)
            return fail();
        return QVariant(int(n));
    }
    case ftBoolean:
        if (tid == QMetaType::QString) {
            const QString s = v.toString().trimmed().toLower();
            if (s == u"true" || s == u"1" || s == u"t" || s == u"yes")
                return QVariant(true);
            if (s == u"false" || s == u"0" || s == u"f" || s == u"no" || s.isEmpty())
                return QVariant(false);
            return fail();
        }
        return QVariant(v.toBool());
    case ftFloat:
    case ftCurrency: {
        bool good = false;
        double d = 0;
        if (tid == qMetaTypeId<Decimal>()) {
            d = v.value<Decimal>().toDouble();
            good = true;
        } else if (tid == QMetaType::QString)
            d = v.toString().trimmed().toDouble(&good);
        else
            d = v.toDouble(&good);
        if (!good)
            return fail();
        return QVariant(d);
    }
    case ftBCD:
    case ftFMTBcd: {
        if (tid == qMetaTypeId<Decimal>())
            return v;
        std::optional<Decimal> d;
        if (tid == QMetaType::Double || tid == QMetaType::Float)
            d = Decimal::fromString(QString::number(v.toDouble(), 'g', 17));
        else
            d = Decimal::fromString(v.toString());
        if (!d)
            return fail();
        return QVariant::fromValue(*d);
    }
    case ftDate: {
        QDate d;
        if (tid == QMetaType::QDate)
            d = v.toDate();
        else if (tid == QMetaType::QDateTime)
            d = v.toDateTime().date();
        else
            d = parseDate(v.toString().trimmed());
        if (!d.isValid())
            return fail();
        return QVariant(d);
    }
    case ftTime: {
        QTime t;
        if (tid == QMetaType::QTime)
            t = v.toTime();
        else if (tid == QMetaType::QDateTime)
            t = v.toDateTime().time();
        else
            t = parseTime(v.toString().trimmed());
        if (!t.isValid())
            return fail();
        return QVariant(t);
    }
    case ftDateTime:
    case ftTimeStamp: {
        QDateTime dt;
        if (tid == QMetaType::QDateTime) {
            const QDateTime in = v.toDateTime();
            dt = QDateTime(in.date(), in.time(), Qt::UTC);
        } else if (tid == QMetaType::QDate)
            dt = QDateTime(v.toDate(), QTime(0, 0), Qt::UTC);
        else
            dt = parseDateTime(v.toString());
        if (!dt.isValid())
            return fail();
        return QVariant(dt);
    }
    case ftBlob:
    case ftBytes:
    case ftVarBytes:
        if (tid == QMetaType::QString)
            return QVariant(v.toString().toUtf8());
        return QVariant(v.toByteArray());
    case ftUnknown:
        return v;
    }
    return v;
}

QString valueToText(const QVariant &v, TFieldType type)
{
    if (!v.isValid() || v.isNull())
        return QString();
    const int tid = v.userType();
    if (tid == qMetaTypeId<Decimal>())
        return v.value<Decimal>().toString();
    switch (tid) {
    case QMetaType::QString:
        return v.toString();
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(v.toDouble(), 'g', 15);
    case QMetaType::QDate:
        return v.toDate().toString(QStringLiteral("yyyy/MM/dd"));
    case QMetaType::QTime:
        return v.toTime().toString(v.toTime().msec() ? QStringLiteral("HH:mm:ss.zzz")
                                                    : QStringLiteral("HH:mm:ss"));
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        return dt.toString(dt.time().msec() ? QStringLiteral("yyyy/MM/dd HH:mm:ss.zzz")
                                            : QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    }
    case QMetaType::QByteArray:
        if (type == ftMemo || type == ftString || type == ftFixedChar)
            return QString::fromUtf8(v.toByteArray());
        return QString::fromLatin1(v.toByteArray().toHex());
    default:
        return v.toString();
    }
}

} // namespace rpt
