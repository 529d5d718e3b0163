#pragma once
// Fetched Firebird rows go straight from the client library's buffers into compact
// records, with no QVariant per value.

#include "platform/db/RecordStore.h"
#include "platform/firebird/FbConnection.h"

#include <memory>
#include <vector>

namespace rpt {

class FbRowBuilder : public fb::RowSink {
public:
    // Field definitions are replaced by the result's columns; rows are appended. With an
    // arena the rows' bytes live in it, else each row is an allocation of its own.
    FbRowBuilder(TFieldDefs &defs, std::vector<QByteArray> &rows, RowArena *arena = nullptr);
    ~FbRowBuilder() override;

    void setColumns(const QList<fb::Column> &columns) override;
    void beginRow() override;
    void setNull(int col) override;
    void setInt(int col, qint64 v) override;
    void setDouble(int col, double v) override;
    void setDecimal(int col, const Decimal &v) override;
    void setBool(int col, bool v) override;
    void setDate(int col, const QDate &v) override;
    void setTime(int col, const QTime &v) override;
    void setDateTime(int col, const QDateTime &v) override;
    void setText(int col, const QString &v) override;
    void setAnsi(int col, const char *p, qsizetype n) override;
    void setBlob(int col, const char *p, qsizetype n) override;
    void endRow() override;

private:
    TFieldDefs &m_defs;
    std::vector<QByteArray> &m_rows;
    RowArena *m_arena;
    RecordLayout m_layout;
    std::unique_ptr<RecordBuilder> m_builder;
};

} // namespace rpt
