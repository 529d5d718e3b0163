#include "modules/report/ReportData.h"

#include "platform/cds/CdsFile.h"

namespace rpt::report {

QString ReportData::headerText(const QString &name) const
{
    const int i = headerFields.IndexOf(name);
    if (i < 0 || i >= header.size())
        return QString();
    return valueToText(header[i], headerFields[i].DataType);
}

TFieldDefs ReportData::standardHeaderFields()
{
    TFieldDefs defs;
    for (int i = 0; i <= 25; ++i) {
        if (i == 13)
            defs.Add(QStringLiteral("Field13"), ftMemo);
        else
            defs.Add(QStringLiteral("Field%1").arg(i), ftString, 50);
    }
    return defs;
}

ReportData loadReportData(const QString &rowsPath, const QString &headerPath, QString *headerError)
{
    ReportData data;
    {
        cds::CdsTable rows = cds::readFile(rowsPath);
        data.columns = rows.fieldDefs;
        data.rows = std::move(rows.rows);
    }
    try {
        cds::CdsTable header = cds::readFile(headerPath);
        data.headerFields = header.fieldDefs;
        if (!header.rows.empty())
            data.header = header.rows.front();
    } catch (const cds::CdsError &e) {
        if (headerError)
            *headerError = e.message();
    }
    return data;
}

} // namespace rpt::report
