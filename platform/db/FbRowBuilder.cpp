#include "platform/db/FbRowBuilder.h"

#include <QSet>

namespace rpt {

FbRowBuilder::FbRowBuilder(TFieldDefs &defs, std::vector<QByteArray> &rows, RowArena *arena)
    : m_defs(defs), m_rows(rows), m_arena(arena)
{
}

FbRowBuilder::~FbRowBuilder() = default;

void FbRowBuilder::setColumns(const QList<fb::Column> &columns)
{
    m_defs.clear();
    QSet<QString> seen;
    for (const fb::Column &c : columns) {
        // Two result columns with one name get a numbered second name, as the
        // platform does, so FieldByName stays unambiguous.
        QString name = c.name;
        for (int n = 1; seen.contains(name.toUpper()); ++n)
            name = c.name + u'_' + QString::number(n);
        seen.insert(name.toUpper());
        TFieldDef d(name, c.type, c.size);
        d.Precision = c.precision;
        m_defs.append(d);
    }
    m_layout.build(m_defs);
    m_builder = std::make_unique<RecordBuilder>(m_layout);
}

void FbRowBuilder::beginRow() { m_builder->begin(); }
void FbRowBuilder::setNull(int col) { m_builder->setNull(col); }
void FbRowBuilder::setInt(int col, qint64 v) { m_builder->setInt(col, v); }
void FbRowBuilder::setDouble(int col, double v) { m_builder->setDouble(col, v); }
void FbRowBuilder::setDecimal(int col, const Decimal &v) { m_builder->setDecimal(col, v); }
void FbRowBuilder::setBool(int col, bool v) { m_builder->setBool(col, v); }
void FbRowBuilder::setDate(int col, const QDate &v) { m_builder->setDate(col, v); }
void FbRowBuilder::setTime(int col, const QTime &v) { m_builder->setTime(col, v); }
void FbRowBuilder::setDateTime(int col, const QDateTime &v) { m_builder->setDateTime(col, v); }
void FbRowBuilder::setText(int col, const QString &v) { m_builder->setText(col, v); }
void FbRowBuilder::setAnsi(int col, const char *p, qsizetype n) { m_builder->setBytes(col, p, n); }
void FbRowBuilder::setBlob(int col, const char *p, qsizetype n) { m_builder->setBytes(col, p, n); }

void FbRowBuilder::endRow()
{
    m_rows.push_back(m_arena ? m_builder->finishInto(*m_arena) : m_builder->finish());
}

} // namespace rpt
