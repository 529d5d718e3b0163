#pragma once
// A folder that plays the executable's folder for one launcher window: catalogue behind
// Rpt.udl, business database behind dbxconnections.ini, company file, and (on request)
// the preview/print modules. Error boxes and questions are captured, not shown.

#include "FbTestDb.h"
#include "Fixtures.h"
#include "app/FrmRptDlg.h"
#include "platform/forms/Dialogs.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>
#include <memory>

namespace world {

using fixtures::Param;
using fixtures::Report;

// store_choise needs STORE_NAME and 17 columns; columns 6..16 go to the header.
inline QString storeTable(int columns = 17)
{
    QStringList cols{"store_no VARCHAR(6)", "STORE_NAME VARCHAR(40)"};
    for (int i = 2; i < columns; ++i)
        cols << QString("c%1 VARCHAR(20)").arg(i);
    return "CREATE TABLE store_choise (" + cols.join(", ") + ")";
}

inline QString storeRow(int columns = 17)
{
    QStringList vals{"'S001'", QString::fromUtf8("'民生店'")};
    for (int i = 2; i < columns; ++i)
        vals << QString("'v%1'").arg(i);
    return "INSERT INTO store_choise VALUES (" + vals.join(", ") + ")";
}

struct World {
    QTemporaryDir dir;
    QString catalogue;
    QStringList errors;                  // error boxes shown, in order
    QStringList questions;               // MessageDlg texts asked
    std::deque<rpt::TModalResult> answers; // replies to MessageDlg, mrYes when none left

    World(const QList<Report> &reports, const QList<Param> &params)
    {
        catalogue = fixtures::makeCatalogue(dir.path(), reports, params);
        rpt::setExecutableDirOverride(dir.path());
        rpt::SetDialogHook([this](rpt::TDialogRequest &r) -> rpt::TModalResult {
            if (r.kind == rpt::TDialogRequest::ErrorBox) {
                errors << r.text;
                return rpt::mrOk;
            }
            questions << r.text;
            if (answers.empty())
                return rpt::mrYes;
            const rpt::TModalResult a = answers.front();
            answers.pop_front();
            return a;
        });
    }
    QList<QPointer<rpt::TFormRptDlg>> forms;

    ~World()
    {
        for (const auto &f : forms)
            delete f.data();
        rpt::SetDialogHook({});
        rpt::setExecutableDirOverride(QString());
    }

    // Business database with a sales table and the store table, plus the company file.
    void business(const QList<rpt::test::FbStatement> &extra = {}, int storeColumns = 17, bool storeRowPresent = true)
    {
        QList<rpt::test::FbStatement> script{
            "CREATE TABLE sales (sale_date DATE, store VARCHAR(20), amount NUMERIC(12,2))",
            "INSERT INTO sales VALUES ('2024-01-05', 'A', 100.50)",
            "INSERT INTO sales VALUES ('2024-02-07', 'B', 20.25)",
            rpt::test::FbStatement(storeTable(storeColumns))};
        if (storeRowPresent)
            script << rpt::test::FbStatement(storeRow(storeColumns));
        script << extra;
        rpt::test::createFbTestDb(dir.path(), QString(), script, "posdata.fdb");
        fixtures::writeDbxConnections(dir.path(), dir.filePath("posdata.fdb"));
        fixtures::writeCompanyFile(dir.path(), QString::fromUtf8("好運來股份有限公司"));
    }

    // Puts a module under the name the launcher loads, next to "the executable".
    // A copy, not a link: a module finds rpttemp.ini beside the file it was loaded from.
    void module(const QString &name, const QString &target)
    {
        QFile::remove(dir.filePath(name));
        QVERIFY(QFile::copy(target, dir.filePath(name)));
    }
    static QString builtModule(const QString &name)
    {
        return QCoreApplication::applicationDirPath() + "/" + name;
    }

    // The window frees itself when it closes; the world frees what is left.
    rpt::TFormRptDlg *start(const QStringList &args)
    {
        rpt::setLauncherArguments(QStringList{"RptDlg"} + args);
        auto *f = new rpt::TFormRptDlg();
        forms << f;
        return f;
    }
};

inline QStringList column(rpt::TDataSet *ds, const QString &field)
{
    QStringList out;
    const int keep = ds->RecNo();
    for (int r = 0; r < ds->RecordCount(); ++r)
        out << ds->RowValue(r, ds->FieldByName(field)->Index()).toString();
    Q_UNUSED(keep);
    return out;
}

} // namespace world
