// Fetching a large result into the client dataset, against the client library's floor.
//
//   bench_fetch [rows]      (default 1,000,000)
//
// Builds an embedded Firebird database with `rows` rows of six mixed columns, then in
// child processes (so each peak memory figure is its own): our fetch into CDS_RPT
// through the provider chain, and isql-fb printing the same query to /dev/null.
// Prints wall time and peak resident memory side by side.

#include "FbTestDb.h"
#include "Fixtures.h"
#include "platform/db/ClientDataSet.h"
#include "platform/db/SqlExpr.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>

using namespace rpt;

static const char *kQuery = "select id, amount, sale_day, code, name, stamp from big";

static long childPeakKb()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return ru.ru_maxrss;
}

static double statusMb(const char *key)
{
    QFile f("/proc/self/status");
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

static int fetchOnly(const QString &dir)
{
    QObject owner;
    auto *conn = new TSQLConnection(&owner, "SQLConnection1");
    conn->SetConnectionName("Tormel");
    conn->SetLoadParamsOnConnect(true);
    conn->SetSearchDirs({dir});
    auto *sql = new TSQLDataSet(&owner, "SQL_RPT");
    sql->SetSQLConnection(conn);
    auto *dsp = new TDataSetProvider(&owner, "DSP_RPT");
    dsp->SetDataSet(sql);
    dsp->SetAllowCommandText(true);
    auto *cds = new TClientDataSet(&owner, "CDS_RPT");
    cds->SetProviderName("DSP_RPT");
    cds->SetCommandText(QString::fromLatin1(kQuery));
    conn->Open();
    const double baseMb = statusMb("VmRSS:");
    QElapsedTimer t;
    t.start();
    cds->Open();
    const qint64 ms = t.elapsed();
    // Rows are views into blocks: the vector of row handles plus the bytes they hold.
    qint64 bytes = qint64(cds->Rows().capacity() * sizeof(QByteArray));
    for (const QByteArray &r : cds->Rows())
        bytes += r.size();
    std::printf("%lld %d %lld %.1f %.1f\n", ms, cds->RecordCount(), bytes, baseMb, statusMb("VmHWM:"));
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == "--fetch-only")
        return fetchOnly(args[2]);
    const int rows = args.size() >= 2 ? args[1].toInt() : 1000000;

    QTemporaryDir dir;
    const QString db = dir.filePath("bench.fdb");
    std::printf("building %d rows...\n", rows);
    std::fflush(stdout);
    const auto params = test::createFbTestDb(
        dir.path(), QString(),
        {"CREATE TABLE big (id INTEGER, amount NUMERIC(15,2), sale_day DATE, code VARCHAR(12), name VARCHAR(40), stamp TIMESTAMP)",
         test::FbStatement(QString("EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN WHILE (i < %1) DO BEGIN "
                                   "INSERT INTO big VALUES (:i, :i * 1.25, DATEADD(MOD(:i, 3650) DAY TO DATE '2015-01-01'), "
                                   "'P' || LPAD(:i, 9, '0'), 'Product name number ' || :i, "
                                   "DATEADD(:i SECOND TO TIMESTAMP '2024-01-01 08:00:00')); i = i + 1; END END")
                               .arg(rows))},
        "bench.fdb");
    fixtures::writeDbxConnections(dir.path(), db);

    // Raw size: the values as the database hands them over (fixed widths plus text bytes).
    const double rawPerRow = 4 + 8 + 4 + 10 + 26 + 8;
    const double rawMb = rawPerRow * rows / 1e6;

    // Ours, in a child.
    QProcess ours;
    QElapsedTimer t;
    t.start();
    ours.start(app.applicationFilePath(), {"--fetch-only", dir.path()});
    ours.waitForFinished(-1);
    const qint64 oursWall = t.elapsed();
    const long oursKb = childPeakKb();
    const QStringList out = QString::fromLatin1(ours.readAllStandardOutput()).split(' ');
    if (ours.exitCode() != 0 || out.size() < 5) {
        std::printf("our fetch failed: %s\n", ours.readAllStandardError().constData());
        return 1;
    }

    // The floor: isql-fb reading the same rows and throwing the text away.
    QFile q(dir.filePath("q.sql"));
    q.open(QIODevice::WriteOnly);
    q.write(QByteArray("SET HEADING OFF;\n") + kQuery + ";\n");
    q.close();
    QProcess isql;
    isql.setStandardOutputFile("/dev/null");
    t.restart();
    isql.start("isql-fb", {"-q", "-user", "SYSDBA", "-i", q.fileName(), db});
    isql.waitForFinished(-1);
    const qint64 isqlWall = t.elapsed();
    const long bothKb = childPeakKb(); // max over children so far

    std::printf("\nrows: %d, raw data: %.1f MB\n", rows, rawMb);
    std::printf("%-28s %12s %14s\n", "", "wall (ms)", "peak RSS (MB)");
    std::printf("%-28s %12lld %14.1f\n", "CDS_RPT fetch (process)", oursWall, oursKb / 1024.0);
    std::printf("%-28s %12s %14s\n", "  of which Open()", qPrintable(out[0]), "");
    std::printf("%-28s %12lld %14s\n", "isql-fb to /dev/null", isqlWall,
                bothKb > oursKb ? qPrintable(QString::number(bothKb / 1024.0, 'f', 1)) : "<= ours");
    std::printf("\ntime ratio ours/isql: %.2f (target <= 1.5)\n", double(oursWall) / double(isqlWall));
    std::printf("record storage: %.1f MB = %.2f x raw (target <= 2)\n", out[2].toDouble() / 1e6,
                out[2].toDouble() / 1e6 / rawMb);
    const double growth = out[4].toDouble() - out[3].toDouble();
    std::printf("peak RSS growth during the fetch: %.1f MB = %.2f x raw (libraries and engine before it: %.1f MB)\n",
                growth, growth / rawMb, out[3].toDouble());
    return 0;
}
