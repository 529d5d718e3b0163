#pragma once
// Compact row storage for datasets. A result of a million rows is held in memory, so a
// row is one byte block: a NULL bitmap, one fixed slot per field, then the bytes of the
// variable-length values (strings, memos, blobs). ANSI text is kept as code page 950
// bytes, wide text as UTF-16; numbers, dates and decimals in binary form.
//
// Rows are QByteArrays, so copies (original values kept for optimistic writes, the edit
// buffer) share memory until one side changes.

#include "platform/db/FieldType.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QVector>

#include <memory>
#include <vector>

namespace rpt {

class RecordLayout {
public:
    RecordLayout() = default;
    explicit RecordLayout(const TFieldDefs &defs) { build(defs); }
    void build(const TFieldDefs &defs);

    int fieldCount() const { return int(m_defs.size()); }
    const TFieldDefs &defs() const { return m_defs; }
    int fixedSize() const { return m_fixedSize; }

    QByteArray blank() const; // every field NULL
    bool isNull(const QByteArray &rec, int f) const;
    QVariant get(const QByteArray &rec, int f) const;
    // Stores v (already in the field's representation or convertible by coerceValue);
    // text longer than the field is cut (ANSI: by code page 950 bytes on a character
    // boundary; wide: by characters). Returns false when v cannot be read as the type.
    bool set(QByteArray &rec, int f, const QVariant &v) const;
    // Bytes of a string/memo/blob field as stored (cp950, UTF-16LE or raw).
    QByteArrayView raw(const QByteArray &rec, int f) const;
    // Bytes the values take (for memory figures).
    static qsizetype footprint(const QByteArray &rec);

private:
    friend class RecordBuilder;
    enum Kind : quint8 { KInt32, KInt64, KBool, KDouble, KDecimal, KDecimal64, KDate, KTime, KDateTime, KAnsi, KWide, KBytes };
    struct Slot {
        Kind kind;
        int offset;
        int size;   // the field's declared size (bytes for ANSI, characters for wide), 0 = unlimited
    };
    static Kind kindOf(const TFieldDef &d);
    static int slotWidth(Kind k);

    TFieldDefs m_defs;
    QVector<Slot> m_slots;
    int m_nullBytes = 0;
    int m_fixedSize = 0;
};

// Owns the bytes of rows fetched in bulk: rows are views into large blocks instead of
// one allocation each, which keeps a million-row result close to its raw size.
class RowArena {
public:
    // A row whose bytes live in the arena; valid while the arena lives.
    QByteArray store(const char *data, qsizetype size);
    qsizetype bytesReserved() const { return m_reserved; }

private:
    static constexpr qsizetype kBlock = 4 << 20;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    qsizetype m_used = kBlock;
    qsizetype m_reserved = 0;
};

// Builds rows one after the other with no per-value allocation; used by fetch paths
// (database cursors, file readers) that fill a dataset in bulk.
class RecordBuilder {
public:
    explicit RecordBuilder(const RecordLayout &layout);
    void begin();
    void setNull(int f);
    void setInt(int f, qint64 v);
    void setDouble(int f, double v);
    void setDecimal(int f, const Decimal &v);
    void setBool(int f, bool v);
    void setDate(int f, const QDate &d);
    void setTime(int f, const QTime &t);
    void setDateTime(int f, const QDateTime &dt);
    // ANSI fields: code page 950 bytes; wide fields: UTF-16LE bytes; blobs: raw bytes.
    void setBytes(int f, const char *data, qsizetype len);
    void setText(int f, QStringView text);
    void setValue(int f, const QVariant &v);
    QByteArray finish();
    // The row's bytes kept in an arena instead of an allocation of their own.
    QByteArray finishInto(RowArena &arena) { return arena.store(m_buf.constData(), m_buf.size()); }

private:
    friend class RecordLayout;
    const RecordLayout &m_layout;
    QByteArray m_buf;
    qsizetype m_varSize = 0;
};

} // namespace rpt
