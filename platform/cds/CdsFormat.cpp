#include "platform/cds/CdsFormat.h"

#include "platform/text/CodePage.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace rpt::cds::detail {

void invalid(const QString &file, const QString &reason)
{
    throw CdsError(QStringLiteral("%1 is not a valid client dataset file: %2").arg(file, reason));
}

int bcdSize(int precision)
{
    // Two digits a byte, rounded to an even number of bytes, plus the precision and
    // sign/places bytes. Rounding the digit count up (not down) keeps room for every
    // digit of an odd precision such as 5 or 9.
    int h = (precision + 1) / 2;
    if (h % 2)
        ++h;
    return h + 2;
}

Kind kindOf(TFieldType t)
{
    switch (t) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: return Kind::Int;
    case ftBoolean: return Kind::Bool;
    case ftFloat:
    case ftCurrency: return Kind::Float;
    case ftBCD:
    case ftFMTBcd: return Kind::Bcd;
    case ftDate: return Kind::Date;
    case ftTime: return Kind::Time;
    case ftDateTime: return Kind::DateTime;
    case ftTimeStamp: return Kind::SqlTimeStamp;
    case ftString:
    case ftFixedChar: return Kind::Ansi;
    case ftWideString: return Kind::Wide;
    case ftMemo: return Kind::AnsiMemo;
    case ftWideMemo: return Kind::WideMemo;
    case ftBlob: return Kind::Blob;
    case ftBytes: return Kind::FixedBytes;
    case ftVarBytes: return Kind::VarBytes;
    case ftUnknown: break;
    }
    return Kind::Blob;
}

std::vector<FieldPlan> planFields(const TFieldDefs &defs)
{
    if (defs.size() > 0xFFFF)
        throw CdsError(QStringLiteral("A client dataset holds at most 65535 fields, not %1.")
                           .arg(defs.size()));
    std::vector<FieldPlan> plans;
    plans.reserve(size_t(defs.size()));
    for (const TFieldDef &d : defs) {
        FieldPlan p;
        p.def = d;
        auto bad = [&](const QString &why) {
            throw CdsError(QStringLiteral("Cannot write field \"%1\": %2").arg(d.Name, why));
        };
        auto needSize = [&](int lo, int hi) {
            if (d.Size < lo || d.Size > hi)
                bad(QStringLiteral("a %1 field needs a size from %2 to %3, not %4")
                        .arg(QLatin1String(fieldTypeName(d.DataType)))
                        .arg(lo)
                        .arg(hi)
                        .arg(d.Size));
        };
        const QByteArray name = cp950::fromUnicode(d.Name);
        p.nameBytes = cp950::truncateBytes(name, 255);
        p.longName = p.nameBytes.size() != name.size();
        if (d.Required)
            p.attrs |= attrRequired;
        if (d.ReadOnly)
            p.attrs |= attrReadOnly;
        p.kind = kindOf(d.DataType);

        switch (d.DataType) {
        case ftString:
        case ftFixedChar:
            needSize(1, 0xFFFF);
            p.typeWord = btAnsi | kVarying;
            p.size = d.Size < 255 ? 1 : 2;
            p.width = d.Size;
            p.limit = d.Size;
            if (d.DataType == ftFixedChar)
                p.subtype = "FixedChar";
            p.xmlType = "string";
            break;
        case ftWideString:
            needSize(1, 0x7FFF);
            p.typeWord = btWide | kVarying;
            // The prefix counts bytes, two per character: choose it from the byte
            // width so that a full-width value always fits its prefix.
            p.size = d.Size * 2 < 255 ? 1 : 2;
            p.width = d.Size;
            p.limit = d.Size;
            p.xmlType = "string.uni";
            break;
        case ftMemo:
        case ftWideMemo:
        case ftBlob:
            p.typeWord = btBytes | kVarying;
            p.size = 4;
            p.subtype = d.DataType == ftMemo ? "Text" : d.DataType == ftWideMemo ? "WideText" : "Binary";
            if (d.Size > 0 && d.Size <= 0xFFFF)
                p.width = d.Size;
            p.xmlType = "bin.hex";
            break;
        case ftSmallint:
            p.typeWord = btInt;
            p.size = 2;
            p.intMin = std::numeric_limits<qint16>::min();
            p.intMax = std::numeric_limits<qint16>::max();
            p.xmlType = "i2";
            break;
        case ftInteger:
        case ftAutoInc:
            p.typeWord = btInt;
            p.size = 4;
            p.intMin = std::numeric_limits<qint32>::min();
            p.intMax = std::numeric_limits<qint32>::max();
            p.xmlType = "i4";
            if (d.DataType == ftAutoInc) {
                p.subtype = "Autoinc";
                p.attrs |= attrReadOnly;
            }
            break;
        case ftWord:
            p.typeWord = btUInt;
            p.size = 2;
            p.intMin = 0;
            p.intMax = 0xFFFF;
            p.xmlType = "ui2";
            break;
        case ftLargeint:
            p.typeWord = btInt;
            p.size = 8;
            p.intMin = std::numeric_limits<qint64>::min();
            p.intMax = std::numeric_limits<qint64>::max();
            p.xmlType = "i8";
            break;
        case ftBoolean:
            p.typeWord = btBool;
            p.size = 2;
            p.xmlType = "boolean";
            break;
        case ftFloat:
        case ftCurrency:
            p.typeWord = btFloat;
            p.size = 8;
            if (d.DataType == ftCurrency)
                p.subtype = "Money";
            p.xmlType = "r8";
            break;
        case ftBCD:
        case ftFMTBcd: {
            // No known precision: the widest the data layer assumes.
            const int prec = d.Precision > 0 ? d.Precision : 32;
            if (prec > 64)
                bad(QStringLiteral("a decimal precision of %1 digits is more than 64").arg(prec));
            if (d.Size < 0 || d.Size > prec || d.Size > 63)
                bad(QStringLiteral("a decimal scale of %1 does not suit precision %2")
                        .arg(d.Size)
                        .arg(prec));
            p.typeWord = d.DataType == ftBCD ? btBcd : btFmtBcd;
            p.size = quint16(bcdSize(prec));
            p.width = prec;
            if (d.Size != 0)
                p.decimals = d.Size;
            p.bcdPrecision = prec;
            p.bcdScale = d.Size;
            p.xmlType = d.DataType == ftBCD ? "fixed" : "fixedFMT";
            break;
        }
        case ftDate:
            p.typeWord = btDate;
            p.size = 4;
            p.xmlType = "date";
            break;
        case ftTime:
            p.typeWord = btTime;
            p.size = 4;
            p.xmlType = "time";
            break;
        case ftDateTime:
            p.typeWord = btDateTime;
            p.size = 8;
            p.xmlType = "dateTime";
            break;
        case ftTimeStamp:
            p.typeWord = btSqlTimeStamp;
            p.size = 16;
            p.xmlType = "SQLdateTime";
            break;
        case ftBytes:
            needSize(1, 0xFFFF);
            p.typeWord = btBytes;
            p.size = quint16(d.Size);
            p.limit = d.Size;
            p.xmlType = "bin.hex";
            break;
        case ftVarBytes:
            needSize(1, 0xFFFF);
            p.typeWord = btBytes | kVarying;
            p.size = d.Size < 255 ? 1 : 2;
            p.subtype = "Binary";
            p.width = d.Size;
            p.limit = d.Size;
            p.xmlType = "bin.hex";
            break;
        case ftUnknown:
            bad(QStringLiteral("the field type is unknown"));
        }
        plans.push_back(std::move(p));
    }
    return plans;
}

namespace {

[[noreturn]] void badValue(const FieldPlan &plan, qsizetype row, const QString &why)
{
    throw CdsError(QStringLiteral("Cannot write field \"%1\" of row %2: %3")
                       .arg(plan.def.Name)
                       .arg(row + 1)
                       .arg(why));
}

QVariant coerced(const FieldPlan &plan, const QVariant &v, qsizetype row, TFieldType as)
{
    bool ok = false;
    QVariant c = coerceValue(v, as, &ok);
    if (!ok || !c.isValid())
        badValue(plan, row,
                 QStringLiteral("\"%1\" is not a valid %2 value")
                     .arg(valueToText(v, ftUnknown), QLatin1String(fieldTypeName(plan.def.DataType))));
    return c;
}

Decimal stripTrailingZeros(Decimal d)
{
    Decimal::Int u = d.unscaled();
    int s = d.scale();
    while (s > 0 && u % 10 == 0) {
        u /= 10;
        --s;
    }
    return Decimal(u, s);
}

void checkDate(const FieldPlan &plan, qsizetype row, const QDate &d)
{
    if (!dayInRange(dayNumber(d)))
        badValue(plan, row,
                 QStringLiteral("the date %1%2 is outside 0001-01-01 to 9999-12-31")
                     .arg(d.year() < 0 ? QStringLiteral("-") : QString())
                     .arg(QString::asprintf("%04d-%02d-%02d", std::abs(d.year()), d.month(), d.day())));
}

} // namespace

QVariant normalise(const FieldPlan &plan, const QVariant &v, qsizetype row)
{
    if (!v.isValid() || v.isNull())
        return QVariant();
    const int tid = v.userType();
    switch (plan.kind) {
    case Kind::Int: {
        qint64 n;
        if (tid == QMetaType::Int)
            n = v.toInt();
        else if (tid == QMetaType::LongLong)
            n = v.toLongLong();
        else
            n = coerced(plan, v, row, ftLargeint).toLongLong();
        if (n < plan.intMin || n > plan.intMax)
            badValue(plan, row,
                     QStringLiteral("%1 is out of range for %2")
                         .arg(n)
                         .arg(QLatin1String(fieldTypeName(plan.def.DataType))));
        return QVariant(qlonglong(n));
    }
    case Kind::Bool:
        return tid == QMetaType::Bool ? v : coerced(plan, v, row, ftBoolean);
    case Kind::Float:
        return tid == QMetaType::Double ? v : coerced(plan, v, row, ftFloat);
    case Kind::Bcd: {
        const Decimal d = tid == qMetaTypeId<Decimal>()
                              ? v.value<Decimal>()
                              : coerced(plan, v, row, plan.def.DataType).value<Decimal>();
        // The field's own precision and scale when the value fits them; otherwise the
        // value's exact digits, as long as the field's bytes can hold them.
        if (auto r = d.rescaled(plan.bcdScale); r && r->digits() <= plan.bcdPrecision)
            return QVariant::fromValue(*r);
        const Decimal n = stripTrailingZeros(d);
        const int digits = std::max(n.digits(), n.scale());
        if (digits > 2 * (plan.size - 2))
            badValue(plan, row,
                     QStringLiteral("%1 does not fit precision %2, scale %3")
                         .arg(d.toString())
                         .arg(plan.bcdPrecision)
                         .arg(plan.bcdScale));
        return QVariant::fromValue(n);
    }
    case Kind::Date: {
        QDate d;
        if (tid == QMetaType::QDate)
            d = v.toDate();
        else if (tid == QMetaType::QDateTime)
            d = v.toDateTime().date();
        else
            d = coerced(plan, v, row, ftDate).toDate();
        if (!d.isValid())
            return QVariant();
        checkDate(plan, row, d);
        return QVariant(d);
    }
    case Kind::Time: {
        QTime t;
        if (tid == QMetaType::QTime)
            t = v.toTime();
        else if (tid == QMetaType::QDateTime)
            t = v.toDateTime().time();
        else
            t = coerced(plan, v, row, ftTime).toTime();
        return t.isValid() ? QVariant(t) : QVariant();
    }
    case Kind::DateTime:
    case Kind::SqlTimeStamp: {
        QDate d;
        QTime t;
        if (tid == QMetaType::QDateTime) {
            // The wall-clock reading whatever zone the value carries.
            const QDateTime dt = v.toDateTime();
            d = dt.date();
            t = dt.time();
        } else if (tid == QMetaType::QDate) {
            d = v.toDate();
            t = QTime(0, 0);
        } else {
            const QDateTime dt = coerced(plan, v, row, ftDateTime).toDateTime();
            d = dt.date();
            t = dt.time();
        }
        if (!d.isValid())
            return QVariant();
        if (!t.isValid())
            t = QTime(0, 0);
        checkDate(plan, row, d);
        return QVariant(QDateTime(d, t, Qt::UTC));
    }
    case Kind::Ansi:
    case Kind::AnsiMemo: {
        const QString s = tid == QMetaType::QString ? v.toString()
                                                    : coerced(plan, v, row, ftString).toString();
        QByteArray bytes = cp950::fromUnicode(s);
        if (plan.kind == Kind::Ansi && bytes.size() > plan.limit)
            bytes = cp950::truncateBytes(bytes, plan.limit);
        return QVariant(bytes);
    }
    case Kind::Wide:
    case Kind::WideMemo: {
        QString s = tid == QMetaType::QString ? v.toString()
                                              : coerced(plan, v, row, ftWideString).toString();
        if (plan.kind == Kind::Wide && s.size() > plan.limit) {
            qsizetype n = plan.limit;
            if (s.at(n - 1).isHighSurrogate())
                --n; // never leave half a surrogate pair
            s.truncate(n);
        }
        return QVariant(s);
    }
    case Kind::Blob:
    case Kind::VarBytes:
    case Kind::FixedBytes: {
        QByteArray b = tid == QMetaType::QByteArray ? v.toByteArray()
                                                    : coerced(plan, v, row, ftBlob).toByteArray();
        if (plan.kind == Kind::VarBytes && b.size() > plan.limit)
            b.truncate(plan.limit);
        if (plan.kind == Kind::FixedBytes && b.size() != plan.limit) {
            if (b.size() > plan.limit)
                b.truncate(plan.limit);
            else
                b.append(QByteArray(plan.limit - b.size(), '\0'));
        }
        return QVariant(b);
    }
    }
    return QVariant();
}

// ---------------------------------------------------------------- RowResolver

RowResolver::RowResolver(RecordSink &sink, int fieldCount, const QString &file)
    : m_sink(sink), m_fields(fieldCount), m_file(file)
{
}

void RowResolver::setChangeLog(const std::vector<quint32> &entries, qint64 recordCount)
{
    if (entries.size() % 3 != 0)
        invalid(m_file, QStringLiteral("the change log holds %1 numbers, not a multiple of 3")
                            .arg(entries.size()));
    for (size_t i = 0; i < entries.size(); i += 3) {
        const quint32 rec = entries[i], earlier = entries[i + 1];
        if (rec == 0 || (recordCount >= 0 && rec > recordCount))
            invalid(m_file, QStringLiteral("the change log names record %1, which does not exist")
                                .arg(rec));
        // An earlier version always precedes its replacement, which also rules out cycles.
        if (earlier >= rec)
            invalid(m_file, QStringLiteral("the change log gives record %1 the earlier version %2")
                                .arg(rec)
                                .arg(earlier));
        m_maxReferenced = std::max(m_maxReferenced, rec);
        if (earlier == 0)
            continue;
        auto [it, added] = m_earlier.emplace(rec, earlier);
        if (!added && it->second != earlier)
            invalid(m_file, QStringLiteral("the change log gives record %1 two earlier versions")
                                .arg(rec));
    }
    m_linked = !m_earlier.empty();
}

quint32 RowResolver::earlierOfNext() const
{
    if (!m_linked)
        return 0;
    auto it = m_earlier.find(m_count + 1);
    return it == m_earlier.end() ? 0 : it->second;
}

void RowResolver::add(quint8 status, QVector<QVariant> &&values, const std::vector<bool> *unchanged)
{
    const quint32 rec = ++m_count;
    if (!m_linked) {
        // No earlier versions to consult: "not changed" fields have already been read
        // as NULL, and only the visible records matter.
        if (!(status & (kStatusSuperseded | kStatusDeleted)))
            m_sink.addRow(values);
        return;
    }
    quint32 root = rec;
    auto it = m_earlier.find(rec);
    if (it != m_earlier.end()) {
        const Stored &prev = m_stored[it->second - 1];
        root = prev.root;
        if (unchanged)
            for (int i = 0; i < m_fields; ++i)
                if ((*unchanged)[size_t(i)])
                    values[i] = prev.values[i];
    }
    m_stored.push_back(Stored{status, root, std::move(values)});
}

void RowResolver::finish()
{
    if (m_maxReferenced > m_count)
        invalid(m_file, QStringLiteral("the change log names record %1, but there are only %2")
                            .arg(m_maxReferenced)
                            .arg(m_count));
    if (!m_linked)
        return;
    // A current version shows where the record it replaces stood.
    std::vector<quint32> visible;
    for (quint32 i = 0; i < m_stored.size(); ++i)
        if (!(m_stored[i].status & (kStatusSuperseded | kStatusDeleted)))
            visible.push_back(i);
    std::stable_sort(visible.begin(), visible.end(),
                     [&](quint32 a, quint32 b) { return m_stored[a].root < m_stored[b].root; });
    for (quint32 i : visible)
        m_sink.addRow(m_stored[i].values);
    m_stored.clear();
}

} // namespace rpt::cds::detail
