#pragma once
// Small on-disk worlds for the launcher's tests: a catalogue behind Rpt.udl, connection
// definitions for the business database, and the company file.

#include <QString>
#include <QStringList>
#include <QVariantList>

namespace fixtures {

struct Report {
    QString index, id, name, script, order, tempfile, footer;
};
struct Param {
    QString id, item, label, type, value;
};

// Rpt.udl in dir naming a SQLite catalogue file (relative to dir), written as Windows
// writes it (UTF-16LE with a byte-order mark).
void writeUdl(const QString &dir, const QString &initString);
// A SQLite catalogue with RPT_MASTER and RPT_SUB at dir/fileName, plus Rpt.udl naming it.
QString makeCatalogue(const QString &dir, const QList<Report> &reports, const QList<Param> &params,
                      const QString &fileName = QStringLiteral("rpt.db"));
// Runs statements on a SQLite file.
void sqliteExec(const QString &file, const QStringList &statements);
// Rows of a query on a SQLite file, each row's columns joined with '|'.
QStringList sqliteRows(const QString &file, const QString &sql);
// dbxconnections.ini in dir with a [Tormel] section for a local Firebird database.
void writeDbxConnections(const QString &dir, const QString &database, const QString &charset = QString());
// Bramwix.dat in dir: a client-dataset file whose second field holds `company`.
void writeCompanyFile(const QString &dir, const QString &company);

} // namespace fixtures
