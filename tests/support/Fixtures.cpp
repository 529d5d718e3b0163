#include "Fixtures.h"

#include "platform/cds/CdsFile.h"
#include "platform/text/DataLink.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace fixtures {

void writeUdl(const QString &dir, const QString &initString)
{
    rpt::writeDataLinkFile(dir + QStringLiteral("/Rpt.udl"), initString);
}

void sqliteExec(const QString &file, const QStringList &statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fixture-exec"));
        db.setDatabaseName(file);
        if (!db.open())
            qFatal("cannot open %s", qPrintable(file));
        for (const QString &s : statements) {
            QSqlQuery q(db);
            if (!q.exec(s))
                qFatal("fixture statement failed: %s: %s", qPrintable(s), qPrintable(q.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fixture-exec"));
}

QStringList sqliteRows(const QString &file, const QString &sql)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fixture-rows"));
        db.setDatabaseName(file);
        db.open();
        QSqlQuery q(db);
        if (!q.exec(sql))
            qFatal("fixture query failed: %s", qPrintable(sql));
        while (q.next()) {
            QStringList cols;
            for (int i = 0; i < q.record().count(); ++i)
                cols << q.value(i).toString();
            out << cols.join(u'|');
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fixture-rows"));
    return out;
}

static QString quoted(const QString &s)
{
    QString t = s;
    return u'\'' + t.replace(u'\'', QStringLiteral("''")) + u'\'';
}

QString makeCatalogue(const QString &dir, const QList<Report> &reports, const QList<Param> &params,
                      const QString &fileName)
{
    const QString file = dir + u'/' + fileName;
    QStringList sql{
        QStringLiteral("CREATE TABLE RPT_MASTER (rpt_index VARCHAR(50), rpt_id VARCHAR(5), rpt_name VARCHAR(50), "
                       "rpt_Table VARCHAR(50), rpt_SQLScript TEXT, rpt_order VARCHAR(50), rpt_tempfile VARCHAR(100), "
                       "rpt_footer TEXT)"),
        QStringLiteral("CREATE TABLE RPT_SUB (rpt_id VARCHAR(5), params_item VARCHAR(10), params_label VARCHAR(30), "
                       "params_type VARCHAR(10), default_value VARCHAR(50))"),
    };
    for (const Report &r : reports)
        sql << QStringLiteral("INSERT INTO RPT_MASTER VALUES (%1,%2,%3,'',%4,%5,%6,%7)")
                   .arg(quoted(r.index), quoted(r.id), quoted(r.name), quoted(r.script), quoted(r.order),
                        quoted(r.tempfile), quoted(r.footer));
    for (const Param &p : params)
        sql << QStringLiteral("INSERT INTO RPT_SUB VALUES (%1,%2,%3,%4,%5)")
                   .arg(quoted(p.id), quoted(p.item), quoted(p.label), quoted(p.type), quoted(p.value));
    sqliteExec(file, sql);
    writeUdl(dir, QStringLiteral("Provider=SQLite;Data Source=") + fileName);
    return file;
}

void writeDbxConnections(const QString &dir, const QString &database, const QString &charset)
{
    QFile f(dir + QStringLiteral("/dbxconnections.ini"));
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write dbxconnections.ini");
    f.write(QStringLiteral("[Tormel]\r\nDriverName=Interbase\r\nDatabase=%1\r\nRoleName=RoleName\r\nUser_Name=sysdba\r\n"
                           "Password=masterkey\r\nServerCharSet=%2\r\nSQLDialect=3\r\nBlobSize=-1\r\nCommitRetain=False\r\n"
                           "WaitOnLocks=True\r\nInterbase TransIsolation=ReadCommited\r\nTrim Char=False\r\n")
                .arg(database, charset)
                .toUtf8());
}

void writeCompanyFile(const QString &dir, const QString &company)
{
    rpt::cds::CdsTable t;
    t.fieldDefs.Add(QStringLiteral("COMP_ID"), rpt::ftString, 10);
    t.fieldDefs.Add(QStringLiteral("COMP_NAME"), rpt::ftString, 60);
    t.rows.push_back({QStringLiteral("01"), company});
    rpt::cds::writeFile(dir + QStringLiteral("/Bramwix.dat"), t);
}

} // namespace fixtures
