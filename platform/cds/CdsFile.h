#pragma once
// Client-dataset files: the binary packet format and the XML datapacket format.
// The hand-off files temp.cds / temp2.cds and the company file Bramwix.dat use them.
//
// Reading trusts nothing: every count and length is checked against the bytes that
// remain, and a bad file raises CdsError "<file> is not a valid client dataset file: <reason>".
// A file that carries a change log loads as its current rows.

#include "platform/db/FieldType.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <stdexcept>
#include <vector>

namespace rpt::cds {

class CdsError : public std::runtime_error {
public:
    explicit CdsError(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// Receives what a reader finds: first the fields, then each current row in order.
// Row values follow the QVariant conventions of FieldType.h (invalid QVariant = NULL).
class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual void setFields(const TFieldDefs &fields) = 0;
    virtual void addRow(const QVector<QVariant> &values) = 0;
};

// Gives a writer its rows.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    virtual const TFieldDefs &fields() const = 0;
    virtual qsizetype rowCount() const = 0;
    virtual QVariant value(qsizetype row, int field) const = 0;
};

// A whole file in memory: for tools, tests and small files (Bramwix.dat, temp2.cds).
struct CdsTable : RecordSink, RecordSource {
    TFieldDefs fieldDefs;
    std::vector<QVector<QVariant>> rows;

    void setFields(const TFieldDefs &f) override { fieldDefs = f; }
    void addRow(const QVector<QVariant> &values) override { rows.push_back(values); }
    const TFieldDefs &fields() const override { return fieldDefs; }
    qsizetype rowCount() const override { return qsizetype(rows.size()); }
    QVariant value(qsizetype row, int field) const override { return rows[size_t(row)][field]; }
};

enum class Format { Binary, Xml };

// Choices a writer makes that the data itself does not fix.
struct WriteOptions {
    // Windows locale id stored as the packet's LCID: 1028 = Chinese (Taiwan), the
    // locale of the systems this program runs for.
    quint32 lcid = 1028;
};

// Reads binary or XML, told apart by content. `nameForErrors` names the file in messages.
void readBytes(const QByteArray &data, RecordSink &sink, const QString &nameForErrors);
// Opens and reads a file. A missing or unreadable file raises CdsError with the text
// `Cannot open file "<path>". <system reason>`.
void readFile(const QString &path, RecordSink &sink);
CdsTable readFile(const QString &path);

QByteArray writeBytes(const RecordSource &source, Format format = Format::Binary);
QByteArray writeBytes(const RecordSource &source, Format format, const WriteOptions &options);
// Replaces the file; raises CdsError `Cannot create file "<path>". <system reason>` on failure.
void writeFile(const QString &path, const RecordSource &source, Format format = Format::Binary);
void writeFile(const QString &path, const RecordSource &source, Format format,
               const WriteOptions &options);

} // namespace rpt::cds
