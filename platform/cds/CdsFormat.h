#pragma once
// Pieces shared by the binary and the XML client-dataset readers and writers:
// how a field kind maps onto the packet's type words and XML type names, value
// normalisation for writing, calendar conversions, and change-log resolution.
// Internal to platform/cds.

#include "platform/cds/CdsFile.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <functional>
#include <map>
#include <optional>

namespace rpt::cds::detail {

// Raises CdsError "<file> is not a valid client dataset file: <reason>".
[[noreturn]] void invalid(const QString &file, const QString &reason);

// ---------------------------------------------------------------- packet constants
constexpr quint32 kSignature = 0xBDE01996u;
constexpr quint16 kTypeMask = 0x003F;
constexpr quint16 kVarying = 0x0040;
constexpr quint16 kArray = 0x0080;
constexpr quint16 kComposite = 0x0100;

enum BaseType : quint16 {
    btInt = 1,
    btUInt = 2,
    btBool = 3,
    btFloat = 4,
    btBcd = 5,
    btDate = 6,
    btTime = 7,
    btDateTime = 8,
    btAnsi = 9,
    btWide = 10,
    btBytes = 11,
    btSqlTimeStamp = 17,
    btFmtBcd = 18,
    btSingle = 27,
    btSqlTimeStampOffset = 36,
};

enum AttrBits : quint16 { attrHidden = 0x1, attrReadOnly = 0x2, attrRequired = 0x4, attrLink = 0x8 };

// Record status bits that take a stored record out of the visible rows.
constexpr quint8 kStatusSuperseded = 0x01;
constexpr quint8 kStatusDeleted = 0x02;

// ---------------------------------------------------------------- calendar
// Day numbers count from 0001-01-01 = 1 (proleptic Gregorian); Julian day 1721426.
constexpr qint64 kJulianOfDayZero = 1721425;
constexpr qint64 kMaxDayNumber = 3652059; // 9999-12-31
constexpr qint64 kMsPerDay = 86400000;

inline qint64 dayNumber(const QDate &d) { return d.toJulianDay() - kJulianOfDayZero; }
inline QDate dateOfDayNumber(qint64 n) { return QDate::fromJulianDay(n + kJulianOfDayZero); }
inline bool dayInRange(qint64 n) { return n >= 1 && n <= kMaxDayNumber; }

// ---------------------------------------------------------------- value kinds
// What a value looks like once the field's type has been decided; both formats
// read into and write from these.
enum class Kind : quint8 {
    Int,          // ftSmallint ftInteger ftWord ftAutoInc ftLargeint
    Bool,
    Float,        // ftFloat ftCurrency
    Bcd,          // ftBCD ftFMTBcd
    Date,
    Time,
    DateTime,     // ftDateTime: double milliseconds
    SqlTimeStamp, // ftTimeStamp: broken-down 16-byte form
    Ansi,         // ftString ftFixedChar: code page 950, cut to the width in bytes
    Wide,         // ftWideString: UTF-16, cut to the width in characters
    AnsiMemo,     // ftMemo: code page 950, whole
    WideMemo,     // ftWideMemo
    Blob,         // ftBlob
    FixedBytes,   // ftBytes: exactly the width, NUL padded
    VarBytes,     // ftVarBytes: at most the width
};

// How the writers store one field (both formats), decided once per field.
struct FieldPlan {
    TFieldDef def;
    Kind kind = Kind::Int;
    // Binary descriptor
    quint16 typeWord = 0;
    quint16 size = 0;      // value size, or the width of the length prefix when varying
    quint16 attrs = 0;
    QByteArray subtype;    // SUBTYPE property, empty when none
    int width = -1;        // WIDTH property, -1 when none
    int decimals = -1;     // DECIMALS property, -1 when none
    QByteArray nameBytes;  // code page 950 name, at most 255 bytes
    bool longName = false; // the whole name goes into a FIELDNAME property
    // XML
    const char *xmlType = "";
    // Value limits
    qint64 intMin = 0, intMax = 0;
    int limit = -1;        // bytes (ANSI, var-bytes, fixed bytes) or UTF-16 units (wide); -1 = none
    int bcdPrecision = 0, bcdScale = 0;
};

// Throws CdsError naming the field when a definition cannot be stored.
std::vector<FieldPlan> planFields(const TFieldDefs &defs);

// Brings a value into the form the writers store: invalid QVariant for NULL, else
//   Int -> qlonglong (range checked)   Bool -> bool       Float -> double
//   Bcd -> Decimal that fits the field Date/Time/DateTime/SqlTimeStamp -> QDate/QTime/QDateTime
//   Ansi, AnsiMemo -> QByteArray of code page 950 bytes (Ansi cut to the width)
//   Wide, WideMemo -> QString (Wide cut to the width)
//   Blob, VarBytes, FixedBytes -> QByteArray (cut / padded to the width)
// Throws CdsError `Cannot write field "<name>" of row <n>: <reason>` for a value that
// cannot be stored.
QVariant normalise(const FieldPlan &plan, const QVariant &value, qsizetype row);

// Size in bytes of a BCD value with the given precision (room for every digit).
int bcdSize(int precision);

// Field kind of a definition read from a file (for the readers' value decoding).
Kind kindOf(TFieldType t);

// ---------------------------------------------------------------- change log
// Turns stored records into visible rows: superseded and deleted versions are
// dropped and "not changed" fields take the value of the version they replace.
// Without a change log every row goes straight to the sink; with one, rows are
// held until finish() so that each current version can take the place of the
// record it replaces.
class RowResolver {
public:
    RowResolver(RecordSink &sink, int fieldCount, const QString &file);

    // Triples (record, earlier record, action) from a CHANGE_LOG property.
    // `recordCount` < 0 when unknown yet (XML); checked again in finish().
    void setChangeLog(const std::vector<quint32> &entries, qint64 recordCount);
    bool hasChangeLog() const { return m_linked; }

    // Earlier version of the next record to be added (0 = none).
    quint32 earlierOfNext() const;
    // `unchanged[i]` marks fields that take the earlier version's value.
    void add(quint8 status, QVector<QVariant> &&values, const std::vector<bool> *unchanged);
    void finish();

private:
    struct Stored {
        quint8 status;
        quint32 root;
        QVector<QVariant> values;
    };
    RecordSink &m_sink;
    int m_fields;
    QString m_file;
    bool m_linked = false;
    std::map<quint32, quint32> m_earlier; // record -> earlier record
    std::vector<Stored> m_stored;
    quint32 m_count = 0;
    quint32 m_maxReferenced = 0;
};

// ---------------------------------------------------------------- format entry points
void readBinary(const QByteArray &data, RecordSink &sink, const QString &file);
void readXml(const QByteArray &data, RecordSink &sink, const QString &file);

// Writers append to `out` and hand full chunks to `flush` (when given) so that a
// large file never sits in memory twice.
using ChunkFlush = std::function<void(QByteArray &)>;
void writeBinary(const RecordSource &source, const WriteOptions &options, QByteArray &out,
                 const ChunkFlush &flush);
void writeXml(const RecordSource &source, const WriteOptions &options, QByteArray &out,
              const ChunkFlush &flush);

} // namespace rpt::cds::detail
