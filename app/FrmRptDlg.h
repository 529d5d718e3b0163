#pragma once
// The launcher's main window: the report list of one report index, the chosen report's
// parameters, the query result, and the commands that run, preview and print it or
// maintain the catalogue.

#include "platform/db/Ado.h"
#include "platform/db/ClientDataSet.h"
#include "platform/db/SqlExpr.h"
#include "platform/forms/Form.h"

namespace rpt {

class TPanel;
class TSplitter;
class TSpeedButton;
class TPopupMenu;
class TMenuItem;
class TDBGrid;

// Raised when a preview or print module cannot be loaded.
class EDLLLoadError : public Exception {
public:
    EDLLLoadError() : Exception(QStringLiteral("Unable to Load DLL")) {}
    const char *className() const override { return "EDLLLoadError"; }
};

// Shared state of the window's unit, kept for the whole run.
struct RptDlgUnitState {
    QString reportIndex;        // argument 1
    QString singleParamValue;   // argument 2
    void *moduleHandle = nullptr;
    QString replaceFind;        // the path dialog's two texts
    QString replaceWith;
};
RptDlgUnitState &rptDlgUnit();
// The command line start-up reads (program name first). Tests give each window its
// own; by default it is the process's.
void setLauncherArguments(const QStringList &args);

class TFormRptDlg : public TForm {
    Q_OBJECT
public:
    explicit TFormRptDlg(QWidget *parent = nullptr);
    ~TFormRptDlg() override;

    // Catalogue
    TADOConnection *ADOConnection1;
    TADODataSet *ADODataSet1;
    TADODataSet *ADODataSet2;
    TADODataSet *ADODataSet3;
    TDataSource *DataSource1;
    TDataSource *DataSource2;
    TDataSource *DataSource3;
    // Business database and the header record
    TSQLConnection *SQLConnection1;
    TSQLDataSet *SQL_RPT;
    TDataSetProvider *DSP_RPT;
    TClientDataSet *CDS_RPT;
    TSQLQuery *SQLQuery1;
    TClientDataSet *CDS;

    // Controls
    TPanel *Panel1 = nullptr, *Panel2 = nullptr, *Panel3 = nullptr, *Panel4 = nullptr, *Panel5 = nullptr;
    TPanel *bsSkinPanel1 = nullptr, *Panel6 = nullptr, *Panel7 = nullptr, *Panel8 = nullptr;
    TSplitter *Splitter1 = nullptr;
    TDBGrid *bsSkinDBGrid1 = nullptr;
    TDBGrid *zebdbgrid2 = nullptr;
    TDBGrid *DBGrid1 = nullptr;
    TSpeedButton *SpeedButton1 = nullptr, *SpeedButton2 = nullptr, *SpeedButton3 = nullptr;
    TSpeedButton *SpeedButton4 = nullptr, *SpeedButton5 = nullptr, *SpeedButton6 = nullptr;
    TPopupMenu *PopupMenu1 = nullptr, *PopupMenu2 = nullptr;
    TMenuItem *N1 = nullptr, *N2 = nullptr, *N3 = nullptr, *Replace1 = nullptr;

    // Handlers, in the order the window declares them.
    void ADODataSet1AfterOpen(TDataSet *DataSet);
    void ADODataSet1AfterScroll(TDataSet *DataSet);
    void SpeedButton1Click(QObject *Sender);
    void SpeedButton2Click(QObject *Sender);
    void FormClose(QObject *Sender, TCloseAction &Action);
    void FormCreate(QObject *Sender);
    void ADODataSet2NewRecord(TDataSet *DataSet);
    void ADODataSet1NewRecord(TDataSet *DataSet);
    void ADODataSet1AfterPost(TDataSet *DataSet);
    void ADODataSet1BeforePost(TDataSet *DataSet);
    void N1Click(QObject *Sender);
    void N2Click(QObject *Sender);
    void N3Click(QObject *Sender);
    void ADODataSet1AfterDelete(TDataSet *DataSet);
    void ADODataSet1BeforeDelete(TDataSet *DataSet);
    void ADODataSet2AfterDelete(TDataSet *DataSet);
    void ADODataSet2AfterOpen(TDataSet *DataSet);
    void zebdbgrid2KeyPress(QObject *Sender, QChar &Key);
    void SpeedButton3Click(QObject *Sender);
    void SpeedButton4Click(QObject *Sender);
    void FormActivate(QObject *Sender);
    void SpeedButton5Click(QObject *Sender);
    void Replace1Click(QObject *Sender);

    // The next free definition number ("10001" on an empty catalogue).
    QString NextReportNumber();
    // Opens the definition editor; replaced by tests. Returns after the editor closes.
    std::function<void()> ShowEditor;
    // True once the window has been closed (also when that happened during start-up,
    // as an "auto" run does).
    bool IsClosed() const { return m_closed; }

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void CreateDataComponents();
    void CreateControls();
    void HandOff(const QString &libraryName);
    void DropAbandonedParameters(const QString &rptId);
    // Stored definitions whose `column` holds `value`.
    qint64 CountDefinitions(const QString &column, const QString &value);

    QString m_insertingId; // number of a definition being inserted
    bool m_closed = false;
};

} // namespace rpt
