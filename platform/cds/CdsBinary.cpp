// The binary packet: a 24-byte header, field descriptors, packet properties, then
// the records. All integers little-endian.

#include "platform/cds/CdsFormat.h"

#include "platform/text/CodePage.h"

#include <QStringDecoder>
#include <QtEndian>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace rpt::cds::detail {

namespace {

// ================================================================ reading

class Cursor {
public:
    Cursor(const QByteArray &data, const QString &file)
        : m_begin(reinterpret_cast<const uchar *>(data.constData())),
          m_p(m_begin),
          m_end(m_begin + data.size()),
          m_file(file)
    {
    }

    qint64 offset() const { return m_p - m_begin; }
    qint64 remaining() const { return m_end - m_p; }
    bool atEnd() const { return m_p == m_end; }
    const QString &file() const { return m_file; }

    void seek(qint64 offset) { m_p = m_begin + offset; }

    // Every length in the file passes through here before it is used.
    const uchar *take(qint64 n, const char *what)
    {
        if (n < 0 || n > remaining())
            invalid(m_file, QStringLiteral("the data ends inside %1 (offset %2 needs %3 bytes, %4 remain)")
                                .arg(QLatin1String(what))
                                .arg(offset())
                                .arg(n)
                                .arg(remaining()));
        const uchar *p = m_p;
        m_p += n;
        return p;
    }
    quint8 u8(const char *what) { return *take(1, what); }
    quint16 u16(const char *what) { return qFromLittleEndian<quint16>(take(2, what)); }
    quint32 u32(const char *what) { return qFromLittleEndian<quint32>(take(4, what)); }
    // A length prefix of 1, 2 or 4 bytes.
    quint32 length(int prefix, const char *what)
    {
        switch (prefix) {
        case 1: return u8(what);
        case 2: return u16(what);
        default: return u32(what);
        }
    }

private:
    const uchar *m_begin;
    const uchar *m_p;
    const uchar *m_end;
    QString m_file;
};

quint64 readUnsigned(const uchar *p, int size)
{
    quint64 v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

qint64 readSigned(const uchar *p, int size)
{
    const quint64 u = readUnsigned(p, size);
    if (size == 8)
        return qint64(u);
    const int bits = size * 8;
    const quint64 sign = quint64(1) << (bits - 1);
    return qint64((u ^ sign) - sign);
}

double readDouble(const uchar *p) { return std::bit_cast<double>(readUnsigned(p, 8)); }

// 80-bit extended: sign, 15-bit exponent, 64-bit mantissa with an explicit integer bit.
double readExtended(const uchar *p)
{
    const quint64 mant = readUnsigned(p, 8);
    const quint16 se = qFromLittleEndian<quint16>(p + 8);
    const bool neg = se & 0x8000;
    const int exp = se & 0x7FFF;
    double v;
    if (exp == 0x7FFF)
        v = (mant << 1) == 0 ? std::numeric_limits<double>::infinity()
                             : std::numeric_limits<double>::quiet_NaN();
    else
        v = std::ldexp(double(mant), exp - 16383 - 63);
    return neg ? -v : v;
}

QString fromUtf16Le(const uchar *p, qsizetype units)
{
    QString s(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        s[i] = QChar(char16_t(p[2 * i] | (p[2 * i + 1] << 8)));
    return s;
}

// Names are ANSI (code page 950) in the files this program meets; a name that is not
// valid there but is valid UTF-8 comes from a writer that uses UTF-8.
QString decodeName(const QByteArray &bytes)
{
    QString s = cp950::toUnicode(bytes);
    if (s.contains(QChar(0xFFFD))) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString u = utf8.decode(bytes);
        if (!utf8.hasError())
            return u;
    }
    return s;
}

struct Property {
    QByteArray name;
    quint16 size = 0;
    quint16 type = 0;
    const uchar *data = nullptr;
    qint64 length = 0;   // bytes at data
    quint32 count = 0;   // elements of an array
};

Property readProperty(Cursor &c, const char *what)
{
    Property p;
    const quint8 n = c.u8(what);
    p.name = QByteArray(reinterpret_cast<const char *>(c.take(n, what)), n);
    p.size = c.u16(what);
    p.type = c.u16(what);
    if (p.type & kArray) {
        p.count = c.u32(what);
        p.length = qint64(p.count) * p.size;
    } else if (p.type & kVarying) {
        if (p.size != 1 && p.size != 2 && p.size != 4)
            invalid(c.file(), QStringLiteral("property %1 has a length prefix of %2 bytes")
                                  .arg(QString::fromLatin1(p.name))
                                  .arg(p.size));
        p.length = c.length(p.size, what);
    } else {
        p.length = p.size;
    }
    p.data = c.take(p.length, what);
    return p;
}

std::optional<quint64> propertyNumber(const Property &p)
{
    const quint16 base = p.type & kTypeMask;
    if ((p.type & (kArray | kVarying)) || (base != btInt && base != btUInt))
        return std::nullopt;
    if (p.size != 1 && p.size != 2 && p.size != 4 && p.size != 8)
        return std::nullopt;
    if (base == btInt) {
        const qint64 v = readSigned(p.data, p.size);
        return v < 0 ? std::nullopt : std::optional<quint64>(quint64(v));
    }
    return readUnsigned(p.data, p.size);
}

std::optional<QByteArray> propertyString(const Property &p)
{
    const quint16 base = p.type & kTypeMask;
    if ((p.type & kArray) || (base != btAnsi && base != btBytes))
        return std::nullopt;
    QByteArray s(reinterpret_cast<const char *>(p.data), p.length);
    const qsizetype nul = s.indexOf('\0');
    if (nul >= 0)
        s.truncate(nul);
    return s;
}

struct ReadField {
    TFieldDef def;
    Kind kind = Kind::Int;
    quint16 base = 0;
    int size = 0;   // value bytes (fixed) or prefix width (varying)
    bool varying = false;
};

ReadField readDescriptor(Cursor &c, int index)
{
    const char *what = "a field descriptor";
    const quint8 n = c.u8(what);
    QByteArray rawName(reinterpret_cast<const char *>(c.take(n, what)), n);
    const quint16 size = c.u16(what);
    const quint16 type = c.u16(what);
    const quint16 attrs = c.u16(what);
    const quint16 propCount = c.u16(what);

    qint64 width = -1, decimals = -1;
    QByteArray subtype;
    std::optional<QByteArray> fullName;
    for (int i = 0; i < propCount; ++i) {
        const Property p = readProperty(c, "a field property");
        if (p.name == "WIDTH")
            width = qint64(propertyNumber(p).value_or(0));
        else if (p.name == "DECIMALS")
            decimals = qint64(propertyNumber(p).value_or(0));
        else if (p.name == "SUBTYPE")
            subtype = propertyString(p).value_or(QByteArray());
        else if (p.name == "FIELDNAME")
            fullName = propertyString(p);
    }

    ReadField f;
    f.def.Name = decodeName(fullName && !fullName->isEmpty() ? *fullName : rawName);
    f.def.Required = attrs & attrRequired;
    f.def.ReadOnly = attrs & attrReadOnly;
    f.base = type & kTypeMask;
    f.size = size;
    f.varying = type & kVarying;

    const QString label = QStringLiteral("field %1 (\"%2\")").arg(index + 1).arg(f.def.Name);
    if (type & (kArray | kComposite | 0x0200 | 0x0400))
        invalid(c.file(), QStringLiteral("%1 has the composite type word 0x%2, which is not supported")
                              .arg(label)
                              .arg(type, 4, 16, QLatin1Char('0')));
    auto badSize = [&]() {
        invalid(c.file(), QStringLiteral("%1 has the type word 0x%2 with the unsupported size %3")
                              .arg(label)
                              .arg(type, 4, 16, QLatin1Char('0'))
                              .arg(size));
    };
    auto fixedOnly = [&]() {
        if (f.varying)
            badSize();
    };
    auto clampWidth = [](qint64 w, int fallback) {
        return w > 0 ? int(std::min<qint64>(w, std::numeric_limits<int>::max())) : fallback;
    };

    switch (f.base) {
    case btInt:
        fixedOnly();
        if (size == 1 || size == 2)
            f.def.DataType = ftSmallint;
        else if (size == 4)
            f.def.DataType = subtype == "Autoinc" ? ftAutoInc : ftInteger;
        else if (size == 8)
            f.def.DataType = ftLargeint;
        else
            badSize();
        break;
    case btUInt:
        fixedOnly();
        if (size == 1 || size == 2)
            f.def.DataType = ftWord;
        else if (size == 4 || size == 8)
            f.def.DataType = ftLargeint;
        else
            badSize();
        break;
    case btBool:
        fixedOnly();
        if (size != 1 && size != 2 && size != 4)
            badSize();
        f.def.DataType = ftBoolean;
        break;
    case btFloat:
        fixedOnly();
        if (size != 8 && size != 10)
            badSize();
        f.def.DataType = subtype == "Money" ? ftCurrency : ftFloat;
        break;
    case btSingle:
        fixedOnly();
        if (size != 4)
            badSize();
        f.def.DataType = ftFloat;
        break;
    case btBcd:
    case btFmtBcd:
        fixedOnly();
        if (size < 2 || size > 2 + 32)
            badSize();
        f.def.DataType = f.base == btBcd ? ftBCD : ftFMTBcd;
        f.def.Precision = clampWidth(width, 2 * (size - 2));
        f.def.Size = decimals > 0 ? int(std::min<qint64>({decimals, 63, f.def.Precision})) : 0;
        break;
    case btDate:
    case btTime:
        fixedOnly();
        if (size != 4)
            badSize();
        f.def.DataType = f.base == btDate ? ftDate : ftTime;
        break;
    case btDateTime:
        fixedOnly();
        if (size != 8)
            badSize();
        f.def.DataType = ftDateTime;
        break;
    case btSqlTimeStamp:
    case btSqlTimeStampOffset:
        fixedOnly();
        if (size != (f.base == btSqlTimeStamp ? 16 : 20))
            badSize();
        f.def.DataType = ftTimeStamp;
        break;
    case btAnsi:
        if (f.varying) {
            if (size != 1 && size != 2)
                badSize();
            f.def.DataType = subtype == "FixedChar" ? ftFixedChar : ftString;
            f.def.Size = clampWidth(width, size == 1 ? 255 : 0xFFFF);
        } else {
            if (size < 1)
                badSize();
            f.def.DataType = ftFixedChar;
            f.def.Size = size;
        }
        break;
    case btWide:
        if (f.varying) {
            if (size != 1 && size != 2)
                badSize();
            f.def.Size = clampWidth(width, size == 1 ? 127 : 0x7FFF);
        } else {
            if (size < 2 || size % 2)
                badSize();
            f.def.Size = size / 2;
        }
        f.def.DataType = ftWideString;
        break;
    case btBytes:
        if (f.varying) {
            if (size == 4) {
                if (subtype == "Text" || subtype == "HMemo")
                    f.def.DataType = ftMemo;
                else if (subtype == "WideText")
                    f.def.DataType = ftWideMemo;
                else
                    f.def.DataType = ftBlob;
                f.def.Size = clampWidth(width, 0);
            } else if (size == 1 || size == 2) {
                f.def.DataType = ftVarBytes;
                f.def.Size = clampWidth(width, size == 1 ? 255 : 0xFFFF);
            } else {
                badSize();
            }
        } else {
            if (size < 1)
                badSize();
            f.def.DataType = ftBytes;
            f.def.Size = size;
        }
        break;
    default:
        invalid(c.file(), QStringLiteral("%1 has the unknown type word 0x%2")
                              .arg(label)
                              .arg(type, 4, 16, QLatin1Char('0')));
    }
    f.kind = kindOf(f.def.DataType);
    return f;
}

QVariant decodeBcd(Cursor &c, const ReadField &f, const uchar *p, const QString &label)
{
    const int capacity = 2 * (f.size - 2);
    const int digits = p[0];
    const int places = p[1] & 0x3F;
    const bool negative = p[1] & 0x80;
    if (digits > capacity)
        invalid(c.file(), QStringLiteral("%1 holds %2 decimal digits in room for %3")
                              .arg(label)
                              .arg(digits)
                              .arg(capacity));
    if (places > Decimal::MaxScale)
        invalid(c.file(), QStringLiteral("%1 has %2 decimal places, more than %3")
                              .arg(label)
                              .arg(places)
                              .arg(Decimal::MaxScale));
    constexpr Decimal::Int limit = (~static_cast<unsigned __int128>(0)) >> 1;
    Decimal::Int v = 0;
    for (int i = 0; i < digits; ++i) {
        const uchar b = p[2 + i / 2];
        const int d = (i % 2 == 0) ? (b >> 4) : (b & 0x0F);
        if (d > 9)
            invalid(c.file(), QStringLiteral("%1 holds the invalid BCD digit %2").arg(label).arg(d));
        if (v > (limit - d) / 10)
            invalid(c.file(), QStringLiteral("%1 holds a decimal too large to read").arg(label));
        v = v * 10 + d;
    }
    Decimal dec(negative ? -v : v, places);
    if (auto r = dec.rescaled(f.def.Size))
        dec = *r;
    return QVariant::fromValue(dec);
}

QVariant readValue(Cursor &c, const ReadField &f, int index, quint32 record)
{
    auto label = [&]() {
        return QStringLiteral("field \"%1\" of record %2").arg(f.def.Name).arg(record);
    };
    const char *what = "a record";
    auto prefixed = [&](int prefix) -> std::pair<const uchar *, quint32> {
        const quint32 len = c.length(prefix, what);
        return {c.take(len, what), len};
    };
    switch (f.kind) {
    case Kind::Int: {
        const uchar *p = c.take(f.size, what);
        if (f.base == btUInt) {
            const quint64 u = readUnsigned(p, f.size);
            if (u > quint64(std::numeric_limits<qint64>::max()))
                invalid(c.file(), QStringLiteral("%1 holds %2, too large for a 64-bit integer")
                                      .arg(label())
                                      .arg(u));
            return f.def.DataType == ftLargeint ? QVariant(qlonglong(u)) : QVariant(int(u));
        }
        const qint64 v = readSigned(p, f.size);
        return f.def.DataType == ftLargeint ? QVariant(qlonglong(v)) : QVariant(int(v));
    }
    case Kind::Bool:
        return QVariant(readUnsigned(c.take(f.size, what), f.size) != 0);
    case Kind::Float: {
        const uchar *p = c.take(f.size, what);
        if (f.size == 8)
            return QVariant(readDouble(p));
        if (f.size == 10)
            return QVariant(readExtended(p));
        return QVariant(double(std::bit_cast<float>(quint32(readUnsigned(p, 4)))));
    }
    case Kind::Bcd:
        return decodeBcd(c, f, c.take(f.size, what), label());
    case Kind::Date: {
        const qint64 day = readSigned(c.take(4, what), 4);
        if (!dayInRange(day))
            invalid(c.file(), QStringLiteral("%1 holds the day number %2, outside 1 to %3")
                                  .arg(label())
                                  .arg(day)
                                  .arg(kMaxDayNumber));
        return QVariant(dateOfDayNumber(day));
    }
    case Kind::Time: {
        const qint64 ms = readSigned(c.take(4, what), 4);
        if (ms < 0 || ms >= kMsPerDay)
            invalid(c.file(), QStringLiteral("%1 holds the time %2 ms, outside one day")
                                  .arg(label())
                                  .arg(ms));
        return QVariant(QTime::fromMSecsSinceStartOfDay(int(ms)));
    }
    case Kind::DateTime: {
        const double v = readDouble(c.take(8, what));
        if (!(v >= double(kMsPerDay) - 0.5 && v < double(kMaxDayNumber + 1) * kMsPerDay - 0.5))
            invalid(c.file(), QStringLiteral("%1 holds the timestamp %2, outside 0001-01-01 to 9999-12-31")
                                  .arg(label())
                                  .arg(v, 0, 'g', 17));
        const qint64 ms = std::llround(v);
        return QVariant(QDateTime(dateOfDayNumber(ms / kMsPerDay),
                                  QTime::fromMSecsSinceStartOfDay(int(ms % kMsPerDay)), Qt::UTC));
    }
    case Kind::SqlTimeStamp: {
        const uchar *p = c.take(f.size, what);
        const int year = int(readSigned(p, 2));
        const int month = qFromLittleEndian<quint16>(p + 2), day = qFromLittleEndian<quint16>(p + 4);
        const int hour = qFromLittleEndian<quint16>(p + 6), minute = qFromLittleEndian<quint16>(p + 8);
        const int second = qFromLittleEndian<quint16>(p + 10);
        const quint32 fraction = qFromLittleEndian<quint32>(p + 12);
        const QDate d(year, month, day);
        const bool ok = year >= 1 && d.isValid() && hour < 24 && minute < 60 && second < 60
                        && fraction < 1000000000u;
        if (!ok)
            invalid(c.file(), QStringLiteral("%1 holds an invalid timestamp").arg(label()));
        // The zone offset of the 20-byte form is dropped: values are wall-clock readings.
        return QVariant(QDateTime(d, QTime(hour, minute, second, int(fraction / 1000000)), Qt::UTC));
    }
    case Kind::Ansi:
    case Kind::AnsiMemo: {
        if (!f.varying) {
            const uchar *p = c.take(f.size, what);
            qsizetype n = f.size;
            while (n > 0 && p[n - 1] == 0)
                --n;
            return QVariant(cp950::toUnicode(reinterpret_cast<const char *>(p), n));
        }
        auto [p, len] = prefixed(f.size);
        QString s = cp950::toUnicode(reinterpret_cast<const char *>(p), len);
        if (s.isNull())
            s = QLatin1String(""); // present but empty, not NULL
        return QVariant(s);
    }
    case Kind::Wide:
    case Kind::WideMemo: {
        const uchar *p;
        qsizetype units;
        if (!f.varying) {
            p = c.take(f.size, what);
            units = f.size / 2;
            while (units > 0 && p[2 * units - 1] == 0 && p[2 * units - 2] == 0)
                --units;
        } else {
            auto [q, len] = prefixed(f.size);
            if (len % 2)
                invalid(c.file(), QStringLiteral("%1 holds %2 bytes of UTF-16 text, an odd count")
                                      .arg(label())
                                      .arg(len));
            p = q;
            units = len / 2;
        }
        QString s = fromUtf16Le(p, units);
        if (s.isNull())
            s = QLatin1String("");
        return QVariant(s);
    }
    case Kind::Blob:
    case Kind::VarBytes: {
        auto [p, len] = prefixed(f.size);
        return QVariant(QByteArray(reinterpret_cast<const char *>(p), len));
    }
    case Kind::FixedBytes:
        return QVariant(QByteArray(reinterpret_cast<const char *>(c.take(f.size, what)), f.size));
    }
    Q_UNUSED(index);
    return QVariant();
}

// ================================================================ writing

class Out {
public:
    explicit Out(QByteArray &buf, const ChunkFlush *flush = nullptr) : m_buf(buf), m_flush(flush) {}
    void u8(quint8 v) { m_buf.append(char(v)); }
    void u16(quint16 v)
    {
        char b[2];
        qToLittleEndian(v, b);
        m_buf.append(b, 2);
    }
    void u32(quint32 v)
    {
        char b[4];
        qToLittleEndian(v, b);
        m_buf.append(b, 4);
    }
    void u64(quint64 v)
    {
        char b[8];
        qToLittleEndian(v, b);
        m_buf.append(b, 8);
    }
    void uint(quint64 v, int size)
    {
        for (int i = 0; i < size; ++i, v >>= 8)
            m_buf.append(char(v & 0xFF));
    }
    void bytes(const char *p, qsizetype n) { m_buf.append(p, n); }
    void bytes(const QByteArray &b) { m_buf.append(b); }
    void length(quint32 v, int prefix) { uint(v, prefix); }
    void maybeFlush()
    {
        if (m_flush && *m_flush && m_buf.size() >= (1 << 20))
            (*m_flush)(m_buf);
    }
    void finish()
    {
        if (m_flush && *m_flush && !m_buf.isEmpty())
            (*m_flush)(m_buf);
    }
    QByteArray &buffer() { return m_buf; }

private:
    QByteArray &m_buf;
    const ChunkFlush *m_flush;
};

void writeName(QByteArray &m, const QByteArray &name)
{
    m.append(char(name.size()));
    m.append(name);
}

void writeNumberProperty(QByteArray &m, const char *name, quint16 typeWord, int size, quint64 value)
{
    writeName(m, QByteArray(name));
    Out o(m);
    o.u16(quint16(size));
    o.u16(typeWord);
    o.uint(value, size);
}

void writeStringProperty(QByteArray &m, const char *name, const QByteArray &value)
{
    // Counted with its terminating NUL, behind a 2-byte prefix.
    writeName(m, QByteArray(name));
    Out o(m);
    o.u16(2);
    o.u16(btAnsi | kVarying);
    const QByteArray v = value.left(0xFFFE);
    o.u16(quint16(v.size() + 1));
    o.bytes(v);
    o.u8(0);
}

QByteArray metadata(const std::vector<FieldPlan> &plans, const WriteOptions &options)
{
    QByteArray m;
    for (const FieldPlan &p : plans) {
        writeName(m, p.nameBytes);
        Out o(m);
        o.u16(p.size);
        o.u16(p.typeWord);
        o.u16(p.attrs);
        const int props = int(!p.subtype.isEmpty()) + int(p.width >= 0) + int(p.decimals >= 0)
                          + int(p.longName);
        o.u16(quint16(props));
        if (!p.subtype.isEmpty())
            writeStringProperty(m, "SUBTYPE", p.subtype);
        if (p.width >= 0)
            writeNumberProperty(m, "WIDTH", btUInt, 2, quint64(p.width));
        if (p.decimals >= 0)
            writeNumberProperty(m, "DECIMALS", btUInt, 2, quint64(p.decimals));
        if (p.longName)
            writeStringProperty(m, "FIELDNAME", cp950::fromUnicode(p.def.Name));
    }
    Out o(m);
    o.u16(1);
    writeNumberProperty(m, "LCID", btInt, 4, options.lcid);
    return m;
}

void writeBcd(Out &o, const FieldPlan &p, const Decimal &d)
{
    unsigned __int128 mag = d.unscaled() < 0
                                ? static_cast<unsigned __int128>(-(d.unscaled() + 1)) + 1
                                : static_cast<unsigned __int128>(d.unscaled());
    // Right-aligned on the field's precision when the value is in the field's own
    // scale; otherwise just the value's digits (normalise() made sure they fit).
    int digits = (d.scale() == p.bcdScale && d.digits() <= p.bcdPrecision)
                     ? p.bcdPrecision
                     : std::max(d.digits(), d.scale());
    QByteArray b(p.size, '\0');
    b[0] = char(digits);
    b[1] = char((d.unscaled() < 0 ? 0x80 : 0) | d.scale());
    for (int i = digits - 1; i >= 0; --i) {
        const int digit = int(mag % 10);
        mag /= 10;
        uchar &byte = reinterpret_cast<uchar &>(b[2 + i / 2]);
        byte |= (i % 2 == 0) ? uchar(digit << 4) : uchar(digit);
    }
    o.bytes(b);
}

void writeValue(Out &o, const FieldPlan &p, const QVariant &v)
{
    switch (p.kind) {
    case Kind::Int:
        o.uint(quint64(v.toLongLong()), p.size);
        break;
    case Kind::Bool:
        o.u16(v.toBool() ? 1 : 0);
        break;
    case Kind::Float:
        o.u64(std::bit_cast<quint64>(v.toDouble()));
        break;
    case Kind::Bcd:
        writeBcd(o, p, v.value<Decimal>());
        break;
    case Kind::Date:
        o.u32(quint32(qint32(dayNumber(v.toDate()))));
        break;
    case Kind::Time:
        o.u32(quint32(v.toTime().msecsSinceStartOfDay()));
        break;
    case Kind::DateTime: {
        const QDateTime dt = v.toDateTime();
        const qint64 ms = dayNumber(dt.date()) * kMsPerDay + dt.time().msecsSinceStartOfDay();
        o.u64(std::bit_cast<quint64>(double(ms)));
        break;
    }
    case Kind::SqlTimeStamp: {
        const QDateTime dt = v.toDateTime();
        const QDate d = dt.date();
        const QTime t = dt.time();
        o.u16(quint16(qint16(d.year())));
        o.u16(quint16(d.month()));
        o.u16(quint16(d.day()));
        o.u16(quint16(t.hour()));
        o.u16(quint16(t.minute()));
        o.u16(quint16(t.second()));
        o.u32(quint32(t.msec()) * 1000000u);
        break;
    }
    case Kind::Ansi:
    case Kind::VarBytes: {
        const QByteArray b = v.toByteArray();
        o.length(quint32(b.size()), p.size);
        o.bytes(b);
        break;
    }
    case Kind::AnsiMemo:
    case Kind::Blob: {
        const QByteArray b = v.toByteArray();
        o.u32(quint32(b.size()));
        o.bytes(b);
        break;
    }
    case Kind::Wide:
    case Kind::WideMemo: {
        const QString s = v.toString();
        o.length(quint32(s.size() * 2), p.kind == Kind::Wide ? p.size : 4);
        for (QChar ch : s)
            o.u16(ch.unicode());
        break;
    }
    case Kind::FixedBytes:
        o.bytes(v.toByteArray());
        break;
    }
}

} // namespace

void readBinary(const QByteArray &data, RecordSink &sink, const QString &file)
{
    Cursor c(data, file);
    if (c.remaining() < 24)
        invalid(file, QStringLiteral("the file has %1 bytes, fewer than the 24-byte header")
                          .arg(c.remaining()));
    if (c.u32("the header") != kSignature)
        invalid(file, QStringLiteral("the signature is wrong"));
    const quint16 major = c.u16("the header");
    const quint16 minor = c.u16("the header");
    if (major != 1)
        invalid(file, QStringLiteral("the packet version %1.%2 is not supported").arg(major).arg(minor));
    const quint32 headerSize = c.u32("the header");
    const quint16 fieldCount = c.u16("the header");
    const quint32 recordCount = c.u32("the header");
    const quint32 flags = c.u32("the header");
    const quint16 dataOffset = c.u16("the header");
    if (headerSize < 24 || headerSize > quint32(data.size()))
        invalid(file, QStringLiteral("the header size %1 is impossible").arg(headerSize));
    if (!(flags & 1))
        invalid(file, QStringLiteral("the packet carries no field descriptions"));
    c.seek(headerSize);

    std::vector<ReadField> fields;
    TFieldDefs defs;
    // Each descriptor takes at least 9 bytes: no count can run past the data.
    if (qint64(fieldCount) * 9 > c.remaining())
        invalid(file, QStringLiteral("%1 field descriptors cannot fit in the %2 bytes that remain")
                          .arg(fieldCount)
                          .arg(c.remaining()));
    fields.reserve(fieldCount);
    for (int i = 0; i < fieldCount; ++i) {
        fields.push_back(readDescriptor(c, i));
        defs.append(fields.back().def);
    }

    RowResolver resolver(sink, fieldCount, file);
    const quint16 propCount = c.u16("the packet properties");
    for (int i = 0; i < propCount; ++i) {
        const Property p = readProperty(c, "a packet property");
        if (p.name != "CHANGE_LOG")
            continue;
        const int elem = p.size;
        if (!(p.type & kArray) || ((p.type & kTypeMask) != btUInt && (p.type & kTypeMask) != btInt)
            || (elem != 2 && elem != 4))
            invalid(file, QStringLiteral("the change log has the unsupported type word 0x%1, size %2")
                              .arg(p.type, 4, 16, QLatin1Char('0'))
                              .arg(elem));
        std::vector<quint32> entries(p.count);
        for (quint32 k = 0; k < p.count; ++k)
            entries[k] = quint32(readUnsigned(p.data + qint64(k) * elem, elem));
        resolver.setChangeLog(entries, recordCount);
    }
    if ((flags & 2) && c.offset() != dataOffset)
        invalid(file, QStringLiteral("the metadata ends at offset %1, but the header puts the records at %2")
                          .arg(c.offset())
                          .arg(dataOffset));

    const int bitmapBytes = (fieldCount + 3) / 4;
    if (qint64(recordCount) * (1 + bitmapBytes) > c.remaining())
        invalid(file, QStringLiteral("%1 records cannot fit in the %2 bytes that remain")
                          .arg(recordCount)
                          .arg(c.remaining()));

    sink.setFields(defs);
    std::vector<bool> unchanged(fieldCount);
    for (quint32 r = 1; r <= recordCount; ++r) {
        const quint8 status = c.u8("a record");
        const uchar *bitmap = c.take(bitmapBytes, "a record");
        QVector<QVariant> values(fieldCount);
        bool anyUnchanged = false;
        for (int i = 0; i < fieldCount; ++i) {
            const int st = (bitmap[i / 4] >> (2 * (i % 4))) & 3;
            unchanged[size_t(i)] = st == 2;
            anyUnchanged |= st == 2;
            if (st == 0)
                values[i] = readValue(c, fields[size_t(i)], i, r);
        }
        resolver.add(status, std::move(values), anyUnchanged ? &unchanged : nullptr);
    }
    if (!c.atEnd())
        invalid(file, QStringLiteral("%1 bytes follow the last record").arg(c.remaining()));
    resolver.finish();
}

void writeBinary(const RecordSource &source, const WriteOptions &options, QByteArray &out,
                 const ChunkFlush &flush)
{
    const std::vector<FieldPlan> plans = planFields(source.fields());
    const qsizetype rows = source.rowCount();
    if (rows < 0 || quint64(rows) > 0xFFFFFFFFull)
        throw CdsError(QStringLiteral("A client dataset file holds at most 4294967295 rows, not %1.")
                           .arg(rows));
    const QByteArray meta = metadata(plans, options);
    const qint64 dataOffset = 24 + meta.size();
    // The data offset is 16 bits wide; a longer metadata block goes without it.
    const bool offsetFits = dataOffset <= 0xFFFF;

    Out o(out, &flush);
    o.u32(kSignature);
    o.u16(1);
    o.u16(0);
    o.u32(24);
    o.u16(quint16(plans.size()));
    o.u32(quint32(rows));
    o.u32(offsetFits ? 3 : 1);
    o.u16(offsetFits ? quint16(dataOffset) : 0);
    o.bytes(meta);

    const int fieldCount = int(plans.size());
    const int bitmapBytes = (fieldCount + 3) / 4;
    QVector<QVariant> values(fieldCount);
    QByteArray bitmap(bitmapBytes, '\0');
    for (qsizetype r = 0; r < rows; ++r) {
        bitmap.fill('\0');
        for (int i = 0; i < fieldCount; ++i) {
            values[i] = normalise(plans[size_t(i)], source.value(r, i), r);
            if (!values[i].isValid())
                bitmap[i / 4] = char(uchar(bitmap[i / 4]) | (1 << (2 * (i % 4))));
        }
        o.u8(0);
        o.bytes(bitmap);
        for (int i = 0; i < fieldCount; ++i)
            if (values[i].isValid())
                writeValue(o, plans[size_t(i)], values[i]);
        o.maybeFlush();
    }
    o.finish();
}

} // namespace rpt::cds::detail
