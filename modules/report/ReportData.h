#pragma once
// What a report prints: the header record (Field0..Field25: parameter values, store and
// company data, the footer memo) and the result rows with their columns.

#include "platform/db/FieldType.h"

#include <QString>
#include <QVariant>
#include <QVector>

#include <vector>

namespace rpt::report {

struct ReportData {
    // The header record's fields and its one record (empty when the file had none).
    TFieldDefs headerFields;
    QVector<QVariant> header;

    TFieldDefs columns;
    std::vector<QVector<QVariant>> rows;

    // Text of a header field by name, ignoring case; "" when absent or NULL.
    QString headerText(const QString &name) const;
    bool hasHeaderField(const QString &name) const { return headerFields.IndexOf(name) >= 0; }

    // The usual header record: Field0..Field25, Field13 a memo, the rest 50-byte strings.
    static TFieldDefs standardHeaderFields();
};

// Reads the hand-off files: the result rows (required) and the header record.
// A missing or broken rows file raises rpt::cds::CdsError. A header file that cannot be
// read leaves the header empty and returns the reason in *headerError, because a
// report without its store name is still worth printing.
ReportData loadReportData(const QString &rowsPath, const QString &headerPath, QString *headerError);

} // namespace rpt::report
