#include "modules/report/ValueFormat.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>

#include <cmath>

namespace rpt::report {

namespace {

using Int = Decimal::Int;
using UInt = unsigned __int128;

UInt magnitude(Int v)
{
    return v < 0 ? UInt(-(v + 1)) + 1 : UInt(v);
}

// Digits of a magnitude, most significant first.
QString digitsOf(UInt mag)
{
    char buf[48];
    int n = 0;
    do {
        buf[n++] = char('0' + int(mag % 10));
        mag /= 10;
    } while (mag);
    QString out;
    out.reserve(n);
    while (n > 0)
        out += QLatin1Char(buf[--n]);
    return out;
}

QString groupThousands(const QString &intDigits)
{
    if (intDigits.size() <= 3)
        return intDigits;
    QString out;
    out.reserve(intDigits.size() + intDigits.size() / 3);
    const qsizetype lead = intDigits.size() % 3;
    for (qsizetype i = 0; i < intDigits.size(); ++i) {
        if (i > 0 && (i - lead) % 3 == 0)
            out += u',';
        out += intDigits[i];
    }
    return out;
}

// Sign, grouped integer digits and the fraction digits.
QString assemble(bool negative, const QString &digits, int scale, bool thousands)
{
    QString padded = digits;
    if (padded.size() <= scale)
        padded = QString(scale - padded.size() + 1, u'0') + padded;
    QString intPart = padded.left(padded.size() - scale);
    QString out;
    if (negative)
        out += u'-';
    out += thousands ? groupThousands(intPart) : intPart;
    if (scale > 0) {
        out += u'.';
        out += QStringView(padded).right(scale);
    }
    return out;
}

Int pow10(int n)
{
    Int p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

QString oneLine(QString s)
{
    for (QChar &c : s)
        if (c == u'\n' || c == u'\r' || c == u'\t')
            c = u' ';
    return s;
}

} // namespace

bool isNumericType(TFieldType type)
{
    return isIntegerType(type) || isDecimalType(type) || type == ftFloat || type == ftCurrency;
}

CellFormat defaultFormat(TFieldType type)
{
    CellFormat f;
    if (type == ftCurrency) {
        f.decimals = 2;
        f.thousands = true;
    } else if (isDecimalType(type) || type == ftFloat) {
        f.thousands = true;
    }
    return f;
}

QString formatDecimal(const Decimal &value, int decimals, bool thousands)
{
    Int v = value.unscaled();
    int scale = value.scale();
    if (decimals >= 0 && decimals < scale) {
        const Int p = pow10(scale - decimals);
        UInt mag = magnitude(v);
        UInt q = mag / UInt(p);
        const UInt r = mag % UInt(p);
        if (r * 2 >= UInt(p))
            ++q;
        const bool neg = v < 0 && q != 0;
        return assemble(neg, digitsOf(q), decimals, thousands);
    }
    QString digits = digitsOf(magnitude(v));
    if (decimals > scale) {
        digits += QString(decimals - scale, u'0');
        scale = decimals;
    }
    return assemble(v < 0, digits, scale, thousands);
}

QString formatInteger(qint64 value, bool thousands)
{
    return assemble(value < 0, digitsOf(magnitude(value)), 0, thousands);
}

QString formatDouble(double value, int decimals, bool thousands)
{
    if (!std::isfinite(value))
        return QString::number(value);
    // Through the shortest exact text, so 2.675 rounds to 2.68 as a person expects
    // and not to the 2.67 that its binary neighbour would give.
    const QString shortest = QString::number(value, 'f', QLocale::FloatingPointShortest);
    if (auto d = Decimal::fromString(shortest))
        return formatDecimal(*d, decimals, thousands);
    const QString plain = QString::number(value, 'f', decimals < 0 ? 6 : decimals);
    const bool neg = plain.startsWith(u'-');
    const QString body = neg ? plain.mid(1) : plain;
    const qsizetype dot = body.indexOf(u'.');
    const QString intPart = dot < 0 ? body : body.left(dot);
    return (neg ? QStringLiteral("-") : QString()) + (thousands ? groupThousands(intPart) : intPart)
        + (dot < 0 ? QString() : body.mid(dot));
}

QString formatValue(const QVariant &value, TFieldType type, const CellFormat &format)
{
    if (!value.isValid() || value.isNull())
        return QString();
    const int tid = value.userType();
    if (tid == qMetaTypeId<Decimal>())
        return formatDecimal(value.value<Decimal>(), format.decimals, format.thousands);
    switch (tid) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UInt:
    case QMetaType::UShort:
        if (format.decimals > 0)
            return formatDecimal(Decimal(value.toLongLong(), 0), format.decimals, format.thousands);
        return formatInteger(value.toLongLong(), format.thousands);
    case QMetaType::ULongLong: {
        const qulonglong u = value.toULongLong();
        return formatDecimal(Decimal(Int(u), 0), format.decimals, format.thousands);
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        int decimals = format.decimals;
        if (decimals < 0 && type == ftCurrency)
            decimals = 2;
        return formatDouble(value.toDouble(), decimals, format.thousands);
    }
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("是") : QStringLiteral("否");
    case QMetaType::QDate:
        return value.toDate().toString(format.dateFormat.isEmpty() ? QStringLiteral("yyyy/MM/dd")
                                                                   : format.dateFormat);
    case QMetaType::QTime:
        return value.toTime().toString(format.dateFormat.isEmpty() ? QStringLiteral("HH:mm:ss")
                                                                   : format.dateFormat);
    case QMetaType::QDateTime:
        // Stored as UTC but meant as the shop's wall clock: print the fields as they are.
        return value.toDateTime().toString(format.dateFormat.isEmpty()
                                               ? QStringLiteral("yyyy/MM/dd HH:mm:ss")
                                               : format.dateFormat);
    case QMetaType::QByteArray:
        if (isAnsiType(type) || isMemoType(type))
            return oneLine(valueToText(value, type));
        return QStringLiteral("（二進位資料）");
    case QMetaType::QString:
        return oneLine(value.toString());
    default:
        return oneLine(valueToText(value, type));
    }
}

void ColumnSum::addExact(Int unscaled, int scale)
{
    if (m_overflow)
        return;
    // Bring both sides to the larger scale, then add; any overflow poisons the total
    // rather than printing a wrong figure.
    auto widen = [this](Int &v, int from, int to) {
        for (int i = from; i < to; ++i)
            if (__builtin_mul_overflow(v, Int(10), &v)) {
                m_overflow = true;
                return;
            }
    };
    if (scale > m_scale) {
        widen(m_value, m_scale, scale);
        m_scale = scale;
    } else if (scale < m_scale) {
        widen(unscaled, scale, m_scale);
    }
    if (m_overflow)
        return;
    if (__builtin_add_overflow(m_value, unscaled, &m_value))
        m_overflow = true;
}

void ColumnSum::add(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return;
    const int tid = value.userType();
    if (tid == qMetaTypeId<Decimal>()) {
        const Decimal d = value.value<Decimal>();
        addExact(d.unscaled(), d.scale());
    } else if (tid == QMetaType::Double || tid == QMetaType::Float) {
        // Neumaier summation keeps long columns of money close to the exact total.
        const double x = value.toDouble();
        const double t = m_double + x;
        if (std::fabs(m_double) >= std::fabs(x))
            m_compensation += (m_double - t) + x;
        else
            m_compensation += (x - t) + m_double;
        m_double = t;
        m_hasDouble = true;
    } else if (tid == QMetaType::ULongLong) {
        addExact(Int(value.toULongLong()), 0);
    } else if (tid == QMetaType::Bool) {
        return;
    } else {
        bool ok = false;
        const qlonglong n = value.toLongLong(&ok);
        if (!ok)
            return;   // text in a numeric column is counted by nobody
        addExact(n, 0);
    }
    ++m_count;
}

QString ColumnSum::text(TFieldType type, const CellFormat &format) const
{
    if (m_overflow)
        return QStringLiteral("溢位");
    if (m_hasDouble) {
        const double total = m_double + m_compensation + exact().toDouble();
        int decimals = format.decimals;
        if (decimals < 0 && type == ftCurrency)
            decimals = 2;
        if (decimals < 0)
            decimals = 2;   // a sum of doubles has no meaningful shortest form
        return formatDouble(total, decimals, format.thousands);
    }
    return formatDecimal(exact(), format.decimals, format.thousands);
}

} // namespace rpt::report
