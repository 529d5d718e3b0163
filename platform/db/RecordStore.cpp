#include "platform/db/RecordStore.h"

#include "platform/db/DbErrors.h"
#include "platform/text/CodePage.h"

#include <cstring>

namespace rpt {

namespace {

template <typename T>
T load(const QByteArray &rec, int off)
{
    T v;
    std::memcpy(&v, rec.constData() + off, sizeof(T));
    return v;
}

template <typename T>
void store(char *base, int off, T v)
{
    std::memcpy(base + off, &v, sizeof(T));
}

// Date slots hold the Julian day; 0 is reserved for "invalid" and never written for a
// valid date (Julian day 0 is in 4713 BC).
constexpr qint64 kMsPerDay = 86400000;

} // namespace

RecordLayout::Kind RecordLayout::kindOf(const TFieldDef &d)
{
    switch (d.DataType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
        return KInt32;
    case ftLargeint:
        return KInt64;
    case ftBoolean:
        return KBool;
    case ftFloat:
    case ftCurrency:
        return KDouble;
    case ftBCD:
    case ftFMTBcd:
        // Up to 18 declared digits always fit a 64-bit mantissa.
        return d.Precision > 0 && d.Precision <= 18 ? KDecimal64 : KDecimal;
    case ftDate:
        return KDate;
    case ftTime:
        return KTime;
    case ftDateTime:
    case ftTimeStamp:
        return KDateTime;
    case ftString:
    case ftFixedChar:
    case ftMemo:
        return KAnsi;
    case ftWideString:
    case ftWideMemo:
        return KWide;
    case ftBlob:
    case ftBytes:
    case ftVarBytes:
    case ftUnknown:
        return KBytes;
    }
    return KBytes;
}

int RecordLayout::slotWidth(Kind k)
{
    switch (k) {
    case KInt32: return 4;
    case KInt64: return 8;
    case KBool: return 1;
    case KDouble: return 8;
    case KDecimal: return 17;
    case KDecimal64: return 9;
    case KDate: return 4;
    case KTime: return 4;
    case KDateTime: return 8;
    case KAnsi:
    case KWide:
    case KBytes: return 8;
    }
    return 8;
}

void RecordLayout::build(const TFieldDefs &defs)
{
    m_defs = defs;
    m_slots.clear();
    m_nullBytes = (int(defs.size()) + 7) / 8;
    int off = m_nullBytes;
    for (const TFieldDef &d : defs) {
        Slot s;
        s.kind = kindOf(d);
        s.offset = off;
        s.size = (s.kind == KAnsi || s.kind == KWide) && !isMemoType(d.DataType) ? d.Size : 0;
        off += slotWidth(s.kind);
        m_slots.append(s);
    }
    m_fixedSize = off;
}

QByteArray RecordLayout::blank() const
{
    QByteArray rec(m_fixedSize, '\0');
    for (int i = 0; i < m_nullBytes; ++i)
        rec[i] = char(0xFF);
    return rec;
}

bool RecordLayout::isNull(const QByteArray &rec, int f) const
{
    if (rec.size() < m_fixedSize)
        return true;
    return (uchar(rec[f >> 3]) >> (f & 7)) & 1;
}

QByteArrayView RecordLayout::raw(const QByteArray &rec, int f) const
{
    const Slot &s = m_slots[f];
    if (isNull(rec, f) || (s.kind != KAnsi && s.kind != KWide && s.kind != KBytes))
        return {};
    const quint32 off = load<quint32>(rec, s.offset);
    const quint32 len = load<quint32>(rec, s.offset + 4);
    return QByteArrayView(rec.constData() + off, len);
}

QVariant RecordLayout::get(const QByteArray &rec, int f) const
{
    if (isNull(rec, f))
        return QVariant();
    const Slot &s = m_slots[f];
    switch (s.kind) {
    case KInt32:
        return QVariant(load<qint32>(rec, s.offset));
    case KInt64:
        return QVariant(qlonglong(load<qint64>(rec, s.offset)));
    case KBool:
        return QVariant(rec[s.offset] != 0);
    case KDouble:
        return QVariant(load<double>(rec, s.offset));
    case KDecimal: {
        const auto v = load<Decimal::Int>(rec, s.offset);
        return QVariant::fromValue(Decimal(v, uchar(rec[s.offset + 16])));
    }
    case KDecimal64:
        return QVariant::fromValue(Decimal(load<qint64>(rec, s.offset), uchar(rec[s.offset + 8])));
    case KDate:
        return QVariant(QDate::fromJulianDay(load<qint32>(rec, s.offset)));
    case KTime:
        return QVariant(QTime::fromMSecsSinceStartOfDay(load<qint32>(rec, s.offset)));
    case KDateTime: {
        const qint64 v = load<qint64>(rec, s.offset);
        qint64 day = v / kMsPerDay, ms = v % kMsPerDay;
        if (ms < 0) {
            ms += kMsPerDay;
            --day;
        }
        return QVariant(QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(ms)), Qt::UTC));
    }
    case KAnsi: {
        const QByteArrayView b = raw(rec, f);
        return QVariant(cp950::toUnicode(b.data(), b.size()));
    }
    case KWide: {
        const QByteArrayView b = raw(rec, f);
        return QVariant(QString(reinterpret_cast<const QChar *>(b.data()), b.size() / 2));
    }
    case KBytes: {
        const QByteArrayView b = raw(rec, f);
        return QVariant(QByteArray(b.data(), b.size()));
    }
    }
    return QVariant();
}

bool RecordLayout::set(QByteArray &rec, int f, const QVariant &v) const
{
    // Rebuild through the builder: keeps the variable area compact after edits.
    RecordBuilder b(*this);
    b.begin();
    for (int i = 0; i < fieldCount(); ++i) {
        if (i == f)
            continue;
        if (isNull(rec, i)) {
            b.setNull(i);
            continue;
        }
        const Slot &s = m_slots[i];
        if (s.kind == KAnsi || s.kind == KWide || s.kind == KBytes) {
            const QByteArrayView r = raw(rec, i);
            b.setBytes(i, r.data(), r.size());
        } else {
            std::memcpy(b.m_buf.data() + s.offset, rec.constData() + s.offset, size_t(slotWidth(s.kind)));
            b.m_buf[i >> 3] = char(uchar(b.m_buf[i >> 3]) & ~(1u << (i & 7)));
        }
    }
    bool ok = true;
    const QVariant c = coerceValue(v, m_defs[f].DataType, &ok);
    if (!ok)
        return false;
    b.setValue(f, c);
    rec = b.finish();
    return true;
}

qsizetype RecordLayout::footprint(const QByteArray &rec)
{
    // A row kept in an arena has no allocation of its own (capacity 0).
    const qsizetype own = rec.capacity() ? rec.capacity() + 32 : rec.size();
    return own + qsizetype(sizeof(QByteArray));
}

// ---------------------------------------------------------------------------------------

RecordBuilder::RecordBuilder(const RecordLayout &layout) : m_layout(layout) {}

void RecordBuilder::begin()
{
    m_buf.resize(m_layout.m_fixedSize);
    std::memset(m_buf.data(), 0, size_t(m_layout.m_fixedSize));
    for (int i = 0; i < m_layout.m_nullBytes; ++i)
        m_buf[i] = char(0xFF);
    m_varSize = 0;
}

void RecordBuilder::setNull(int f)
{
    m_buf[f >> 3] = char(uchar(m_buf[f >> 3]) | (1u << (f & 7)));
}

#define RPT_MARK_SET(f) (m_buf[(f) >> 3] = char(uchar(m_buf[(f) >> 3]) & ~(1u << ((f) & 7))))

void RecordBuilder::setInt(int f, qint64 v)
{
    const auto &s = m_layout.m_slots[f];
    switch (s.kind) {
    case RecordLayout::KInt32: store<qint32>(m_buf.data(), s.offset, qint32(v)); break;
    case RecordLayout::KInt64: store<qint64>(m_buf.data(), s.offset, v); break;
    case RecordLayout::KBool: m_buf[s.offset] = v != 0; break;
    case RecordLayout::KDouble: store<double>(m_buf.data(), s.offset, double(v)); break;
    case RecordLayout::KDecimal:
    case RecordLayout::KDecimal64: setDecimal(f, Decimal(v, 0)); return;
    default: setValue(f, QVariant(qlonglong(v))); return;
    }
    RPT_MARK_SET(f);
}

void RecordBuilder::setDouble(int f, double v)
{
    const auto &s = m_layout.m_slots[f];
    if (s.kind != RecordLayout::KDouble) {
        setValue(f, QVariant(v));
        return;
    }
    store<double>(m_buf.data(), s.offset, v);
    RPT_MARK_SET(f);
}

void RecordBuilder::setDecimal(int f, const Decimal &v)
{
    const auto &s = m_layout.m_slots[f];
    if (s.kind == RecordLayout::KDecimal64) {
        if (v.unscaled() > std::numeric_limits<qint64>::max() || v.unscaled() < std::numeric_limits<qint64>::min())
            throw EConvertError(QStringLiteral("'%1' does not fit field '%2' (%3 digits)")
                                    .arg(v.toString(), m_layout.m_defs[f].Name)
                                    .arg(m_layout.m_defs[f].Precision));
        store<qint64>(m_buf.data(), s.offset, qint64(v.unscaled()));
        m_buf[s.offset + 8] = char(v.scale());
        RPT_MARK_SET(f);
        return;
    }
    if (s.kind != RecordLayout::KDecimal) {
        setValue(f, QVariant::fromValue(v));
        return;
    }
    store<Decimal::Int>(m_buf.data(), s.offset, v.unscaled());
    m_buf[s.offset + 16] = char(v.scale());
    RPT_MARK_SET(f);
}

void RecordBuilder::setBool(int f, bool v)
{
    const auto &s = m_layout.m_slots[f];
    if (s.kind != RecordLayout::KBool) {
        setValue(f, QVariant(v));
        return;
    }
    m_buf[s.offset] = v;
    RPT_MARK_SET(f);
}

void RecordBuilder::setDate(int f, const QDate &d)
{
    const auto &s = m_layout.m_slots[f];
    if (!d.isValid()) {
        setNull(f);
        return;
    }
    if (s.kind == RecordLayout::KDate) {
        store<qint32>(m_buf.data(), s.offset, qint32(d.toJulianDay()));
        RPT_MARK_SET(f);
    } else {
        setValue(f, QVariant(d));
    }
}

void RecordBuilder::setTime(int f, const QTime &t)
{
    const auto &s = m_layout.m_slots[f];
    if (!t.isValid()) {
        setNull(f);
        return;
    }
    if (s.kind == RecordLayout::KTime) {
        store<qint32>(m_buf.data(), s.offset, t.msecsSinceStartOfDay());
        RPT_MARK_SET(f);
    } else {
        setValue(f, QVariant(t));
    }
}

void RecordBuilder::setDateTime(int f, const QDateTime &dt)
{
    const auto &s = m_layout.m_slots[f];
    if (!dt.isValid()) {
        setNull(f);
        return;
    }
    if (s.kind == RecordLayout::KDateTime) {
        store<qint64>(m_buf.data(), s.offset,
                      dt.date().toJulianDay() * kMsPerDay + dt.time().msecsSinceStartOfDay());
        RPT_MARK_SET(f);
    } else {
        setValue(f, QVariant(dt));
    }
}

void RecordBuilder::setBytes(int f, const char *data, qsizetype len)
{
    const auto &s = m_layout.m_slots[f];
    if (s.kind != RecordLayout::KAnsi && s.kind != RecordLayout::KWide && s.kind != RecordLayout::KBytes) {
        setValue(f, QVariant(QByteArray(data, len)));
        return;
    }
    if (s.size > 0) {
        if (s.kind == RecordLayout::KAnsi && len > s.size) {
            // Cut on a character boundary of code page 950.
            qsizetype i = 0;
            while (i < s.size) {
                const qsizetype w = cp950::isLeadByte(uchar(data[i])) && i + 1 < len ? 2 : 1;
                if (i + w > s.size)
                    break;
                i += w;
            }
            len = i;
        } else if (s.kind == RecordLayout::KWide && len > qsizetype(s.size) * 2) {
            len = qsizetype(s.size) * 2;
        }
    }
    const qsizetype off = m_layout.m_fixedSize + m_varSize;
    m_buf.resize(off + len);
    if (len)
        std::memcpy(m_buf.data() + off, data, size_t(len));
    m_varSize += len;
    store<quint32>(m_buf.data(), s.offset, quint32(off));
    store<quint32>(m_buf.data(), s.offset + 4, quint32(len));
    RPT_MARK_SET(f);
}

void RecordBuilder::setText(int f, QStringView text)
{
    const auto &s = m_layout.m_slots[f];
    if (s.kind == RecordLayout::KAnsi) {
        const QByteArray b = cp950::fromUnicode(text);
        setBytes(f, b.constData(), b.size());
    } else if (s.kind == RecordLayout::KWide) {
        setBytes(f, reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    } else if (s.kind == RecordLayout::KBytes) {
        const QByteArray b = text.toUtf8();
        setBytes(f, b.constData(), b.size());
    } else {
        setValue(f, QVariant(text.toString()));
    }
}

void RecordBuilder::setValue(int f, const QVariant &v)
{
    bool ok = true;
    const QVariant c = coerceValue(v, m_layout.m_defs[f].DataType, &ok);
    if (!c.isValid()) {
        setNull(f);
        return;
    }
    const auto &s = m_layout.m_slots[f];
    switch (s.kind) {
    case RecordLayout::KInt32:
    case RecordLayout::KInt64:
        setInt(f, c.toLongLong());
        break;
    case RecordLayout::KBool:
        setBool(f, c.toBool());
        break;
    case RecordLayout::KDouble:
        setDouble(f, c.toDouble());
        break;
    case RecordLayout::KDecimal:
    case RecordLayout::KDecimal64:
        setDecimal(f, c.value<Decimal>());
        break;
    case RecordLayout::KDate:
        setDate(f, c.toDate());
        break;
    case RecordLayout::KTime:
        setTime(f, c.toTime());
        break;
    case RecordLayout::KDateTime:
        setDateTime(f, c.toDateTime());
        break;
    case RecordLayout::KAnsi:
    case RecordLayout::KWide:
        setText(f, c.toString());
        break;
    case RecordLayout::KBytes: {
        const QByteArray b = c.toByteArray();
        setBytes(f, b.constData(), b.size());
        break;
    }
    }
}

QByteArray RowArena::store(const char *data, qsizetype size)
{
    if (size > kBlock / 4) {
        // A large row (a whole memo) gets a block of its own.
        m_blocks.emplace_back(new char[size_t(size)]);
        std::memcpy(m_blocks.back().get(), data, size_t(size));
        m_reserved += size;
        const char *p = m_blocks.back().get();
        // Keep filling the previous block: put the big one before it.
        if (m_blocks.size() >= 2)
            std::swap(m_blocks[m_blocks.size() - 1], m_blocks[m_blocks.size() - 2]);
        return QByteArray::fromRawData(p, size);
    }
    if (m_used + size > kBlock) {
        m_blocks.emplace_back(new char[size_t(kBlock)]);
        m_used = 0;
        m_reserved += kBlock;
    }
    char *p = m_blocks.back().get() + m_used;
    std::memcpy(p, data, size_t(size));
    m_used += (size + 7) & ~qsizetype(7);
    return QByteArray::fromRawData(p, size);
}

QByteArray RecordBuilder::finish()
{
    return QByteArray(m_buf.constData(), m_buf.size());
}

} // namespace rpt
