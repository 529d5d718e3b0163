// libFuzzer entry: any byte string must either read as a client dataset or fail with
// CdsError; crashes, hangs, leaks and runaway allocations are what the fuzzer reports.

#include "platform/cds/CdsFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Touches every value so that lazily shared data is really read.
class CountingSink : public rpt::cds::RecordSink {
public:
    void setFields(const rpt::TFieldDefs &fields) override { m_fields = fields.size(); }
    void addRow(const QVector<QVariant> &values) override
    {
        for (const QVariant &v : values)
            m_valid += v.isValid();
        m_rows += values.size() == m_fields;
    }

private:
    qsizetype m_fields = 0;
    qsizetype m_rows = 0;
    qsizetype m_valid = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    CountingSink sink;
    try {
        rpt::cds::readBytes(bytes, sink, QStringLiteral("fuzz.cds"));
    } catch (const rpt::cds::CdsError &) {
    }
    // What reads must also write back and read again.
    rpt::cds::CdsTable table;
    try {
        rpt::cds::readBytes(bytes, table, QStringLiteral("fuzz.cds"));
    } catch (const rpt::cds::CdsError &) {
        return 0;
    }
    for (rpt::cds::Format f : {rpt::cds::Format::Binary, rpt::cds::Format::Xml}) {
        QByteArray written;
        try {
            written = rpt::cds::writeBytes(table, f);
        } catch (const rpt::cds::CdsError &) {
            // A table read from a file can still hold what a writer refuses (say an XML
            // control character); refusing it cleanly is fine.
            continue;
        }
        try {
            rpt::cds::CdsTable again;
            rpt::cds::readBytes(written, again, QStringLiteral("again.cds"));
            if (again.rows.size() != table.rows.size() || again.fieldDefs.size() != table.fieldDefs.size())
                std::abort();
        } catch (const rpt::cds::CdsError &e) {
            // Our own output must always read back.
            std::fprintf(stderr, "re-read failed: %s\n", e.what());
            std::abort();
        }
    }
    return 0;
}
