// File side of the client dataset, kept apart so that in-memory uses do not pull in
// the file formats.
#include "platform/cds/CdsFile.h"
#include "platform/db/ClientDataSet.h"

namespace rpt {

namespace {

// Streams file rows straight into compact records.
class RowCollector : public cds::RecordSink {
public:
    TFieldDefs defs;
    std::vector<QByteArray> rows;
    void setFields(const TFieldDefs &f) override
    {
        defs = f;
        m_layout.build(f);
        m_builder = std::make_unique<RecordBuilder>(m_layout);
    }
    void addRow(const QVector<QVariant> &values) override
    {
        m_builder->begin();
        for (int i = 0; i < values.size() && i < m_layout.fieldCount(); ++i)
            m_builder->setValue(i, values[i]);
        rows.push_back(m_builder->finish());
    }

private:
    RecordLayout m_layout;
    std::unique_ptr<RecordBuilder> m_builder;
};

class DataSetSource : public cds::RecordSource {
public:
    explicit DataSetSource(const TDataSet &ds) : m_ds(ds) {}
    const TFieldDefs &fields() const override { return m_ds.FieldDefs(); }
    qsizetype rowCount() const override { return m_ds.RecordCount(); }
    QVariant value(qsizetype row, int field) const override { return m_ds.RowValue(int(row), field); }

private:
    const TDataSet &m_ds;
};

} // namespace

void TClientDataSet::LoadFromFile(const QString &fileName)
{
    RowCollector c;
    try {
        cds::readFile(fileName, c);
    } catch (const cds::CdsError &e) {
        throw EDatabaseError(e.message());
    }
    LoadRows(c.defs, std::move(c.rows));
    Open();
}

void TClientDataSet::SaveToFile(const QString &fileName) const
{
    CheckActive();
    DataSetSource src(*this);
    try {
        cds::writeFile(fileName, src, cds::Format::Binary);
    } catch (const cds::CdsError &e) {
        throw EDatabaseError(e.message());
    }
}

} // namespace rpt
