#include "app/FrmRptDlg.h"

#include "platform/forms/Buttons.h"
#include "platform/forms/DBGrid.h"
#include "platform/forms/ExtCtrls.h"
#include "platform/forms/Menus.h"
#include "platform/text/IniFile.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScopeGuard>

#include <optional>

#include <dlfcn.h>

namespace rpt {

RptDlgUnitState &rptDlgUnit()
{
    static RptDlgUnitState s;
    return s;
}

namespace {

std::optional<QStringList> &argumentsOverride()
{
    static std::optional<QStringList> args;
    return args;
}

// Arguments as the suite gave them; a missing one reads as an empty string.
QString ParamStr(int i)
{
    const QStringList args = argumentsOverride() ? *argumentsOverride() : QCoreApplication::arguments();
    return i < args.size() ? args[i] : QString();
}

// The run-time library's StrToInt: optional blanks and sign, decimal digits.
int StrToInt(const QString &s)
{
    bool ok = false;
    const int v = s.trimmed().toInt(&ok, 10);
    if (!ok || s.isEmpty() || s.back().isSpace())
        throw EConvertError(QString::fromLatin1(msg::InvalidInteger).arg(s));
    return v;
}

// A long run blocks the window; the cursor says so.
struct BusyCursor {
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
};

QList<TFieldDecl> masterFields()
{
    return {
        {"rpt_index", ftWideString, 50, QString::fromUtf8("索引")},
        {"rpt_id", ftWideString, 5, QString::fromUtf8("報表代號")},
        {"rpt_name", ftWideString, 50, QString::fromUtf8("報表名稱")},
        {"rpt_Table", ftWideString, 50, QString::fromUtf8("主資料檔")},
        {"rpt_SQLScript", ftWideMemo, 0, QString::fromUtf8("SQL 敘述")},
        {"rpt_order", ftWideString, 50, QString::fromUtf8("排序數")},
        {"rpt_tempfile", ftWideString, 100, QString::fromUtf8("報表檔")},
        {"rpt_footer", ftWideMemo, 0, QString()},
    };
}

QList<TFieldDecl> subFields()
{
    return {
        {"rpt_id", ftWideString, 5, QString::fromUtf8("報表代號")},
        {"params_item", ftWideString, 10, QString::fromUtf8("參數欄")},
        {"params_label", ftWideString, 30, QString::fromUtf8("欄位說明")},
        {"params_type", ftWideString, 10, QString::fromUtf8("參數型態")},
        {"default_value", ftWideString, 50, QString::fromUtf8("查詢值")},
    };
}

} // namespace

void setLauncherArguments(const QStringList &args)
{
    argumentsOverride() = args;
}

TFormRptDlg::TFormRptDlg(QWidget *parent) : TForm(parent)
{
    setObjectName(QStringLiteral("FormRptDlg"));
    CreateDataComponents();
    CreateControls();
    FormCreate(this);
}

TFormRptDlg::~TFormRptDlg() = default;

void TFormRptDlg::CreateDataComponents()
{
    using namespace std::placeholders;
    ADOConnection1 = new TADOConnection(this, QStringLiteral("ADOConnection1"));
    ADOConnection1->SetConnectionString(QStringLiteral("FILE NAME=C:\\Tormel\\Rpt.udl"));
    ADOConnection1->SetProvider(QStringLiteral("Microsoft.Jet.OLEDB.4.0"));
    ADOConnection1->SetLoginPrompt(false);
    ADOConnection1->SetIsolationLevel(ilReadCommitted);
    ADOConnection1->SetMode(cmShareDenyNone);

    ADODataSet1 = new TADODataSet(this, QStringLiteral("ADODataSet1"));
    ADODataSet1->SetConnection(ADOConnection1);
    ADODataSet1->SetCursorType(ctStatic);
    ADODataSet1->SetLockType(ltBatchOptimistic);
    ADODataSet1->SetCommandText(QStringLiteral("select *  from RPT_MASTER\r\nwhere rpt_index = :rpt_index\r\norder by rpt_order"));
    ADODataSet1->DeclareFields(masterFields());
    ADODataSet1->AfterOpen = std::bind(&TFormRptDlg::ADODataSet1AfterOpen, this, _1);
    ADODataSet1->AfterScroll = std::bind(&TFormRptDlg::ADODataSet1AfterScroll, this, _1);
    ADODataSet1->OnNewRecord = std::bind(&TFormRptDlg::ADODataSet1NewRecord, this, _1);
    ADODataSet1->BeforePost = std::bind(&TFormRptDlg::ADODataSet1BeforePost, this, _1);
    ADODataSet1->AfterPost = std::bind(&TFormRptDlg::ADODataSet1AfterPost, this, _1);
    ADODataSet1->BeforeDelete = std::bind(&TFormRptDlg::ADODataSet1BeforeDelete, this, _1);
    ADODataSet1->AfterDelete = std::bind(&TFormRptDlg::ADODataSet1AfterDelete, this, _1);
    // Not among the original handlers: parameter rows written for a definition that is
    // then abandoned would otherwise stay behind and be inherited by the next new
    // definition, which takes the same number.
    ADODataSet1->BeforeCancel = [this](TDataSet *ds) {
        m_insertingId = ds->State() == dsInsert ? ds->FieldByName(QStringLiteral("rpt_id"))->AsString() : QString();
    };
    ADODataSet1->AfterCancel = [this](TDataSet *) {
        const QString id = std::exchange(m_insertingId, QString());
        if (!id.isEmpty())
            DropAbandonedParameters(id);
    };

    ADODataSet2 = new TADODataSet(this, QStringLiteral("ADODataSet2"));
    ADODataSet2->SetConnection(ADOConnection1);
    ADODataSet2->SetCursorType(ctStatic);
    ADODataSet2->SetLockType(ltBatchOptimistic);
    ADODataSet2->SetCommandText(QStringLiteral("select * from RPT_SUB\r\nwhere rpt_id = :rpt_id\r\n"));
    ADODataSet2->DeclareFields(subFields());
    ADODataSet2->AfterOpen = std::bind(&TFormRptDlg::ADODataSet2AfterOpen, this, _1);
    ADODataSet2->OnNewRecord = std::bind(&TFormRptDlg::ADODataSet2NewRecord, this, _1);
    ADODataSet2->AfterDelete = std::bind(&TFormRptDlg::ADODataSet2AfterDelete, this, _1);

    ADODataSet3 = new TADODataSet(this, QStringLiteral("ADODataSet3"));
    ADODataSet3->SetConnection(ADOConnection1);
    ADODataSet3->SetCursorType(ctStatic);
    ADODataSet3->SetLockType(ltOptimistic);
    ADODataSet3->SetCommandText(QStringLiteral("select * from RPT_MASTER"));

    DataSource1 = new TDataSource(this, QStringLiteral("DataSource1"));
    DataSource1->SetDataSet(ADODataSet1);
    DataSource2 = new TDataSource(this, QStringLiteral("DataSource2"));
    DataSource2->SetDataSet(ADODataSet2);

    SQLConnection1 = new TSQLConnection(this, QStringLiteral("SQLConnection1"));
    SQLConnection1->SetConnectionName(QStringLiteral("Tormel"));
    SQLConnection1->SetDriverName(QStringLiteral("Interbase"));
    SQLConnection1->SetGetDriverFunc(QStringLiteral("getSQLDriverINTERBASE"));
    SQLConnection1->SetLibraryName(QStringLiteral("dbexpint.dll"));
    SQLConnection1->SetVendorLib(QStringLiteral("gds32.dll"));
    SQLConnection1->SetLoadParamsOnConnect(true);
    SQLConnection1->SetLoginPrompt(false);
    SQLConnection1->Params() = QStringList{
        QStringLiteral("DriverName=Interbase"),
        QStringLiteral("Database=c:\\Tormel\\Data\\posdata.gdb"),
        QStringLiteral("RoleName=RoleName"),
        QStringLiteral("User_Name=sysdba"),
        QStringLiteral("Password=plumbgate"),
        QStringLiteral("ServerCharSet="),
        QStringLiteral("SQLDialect=3"),
        QStringLiteral("BlobSize=-1"),
        QStringLiteral("CommitRetain=False"),
        QStringLiteral("WaitOnLocks=True"),
        QStringLiteral("ErrorResourceFile="),
        QStringLiteral("LocaleCode=0000"),
        QStringLiteral("Interbase TransIsolation=ReadCommited"),
        QStringLiteral("Trim Char=False"),
    };

    SQL_RPT = new TSQLDataSet(this, QStringLiteral("SQL_RPT"));
    SQL_RPT->SetSQLConnection(SQLConnection1);
    SQL_RPT->SetMaxBlobSize(-1);
    DSP_RPT = new TDataSetProvider(this, QStringLiteral("DSP_RPT"));
    DSP_RPT->SetDataSet(SQL_RPT);
    DSP_RPT->SetAllowCommandText(true);
    CDS_RPT = new TClientDataSet(this, QStringLiteral("CDS_RPT"));
    CDS_RPT->SetProviderName(QStringLiteral("DSP_RPT"));
    SQLQuery1 = new TSQLQuery(this, QStringLiteral("SQLQuery1"));
    SQLQuery1->SetSQLConnection(SQLConnection1);
    SQLQuery1->SetMaxBlobSize(-1);
    CDS = new TClientDataSet(this, QStringLiteral("CDS"));

    DataSource3 = new TDataSource(this, QStringLiteral("DataSource3"));
    DataSource3->SetDataSet(CDS_RPT);
}

// ---------------------------------------------------------------------------------------
// Start-up and close

void TFormRptDlg::FormCreate(QObject *)
{
    // Each step may fail; the window then opens in the state the earlier steps left.
    guarded([this] {
        ADOConnection1->Close();
        ADOConnection1->SetConnectionString(QStringLiteral("FILE NAME=") + executableDir() + QStringLiteral("Rpt.udl"));
        ADOConnection1->Open();

        rptDlgUnit().reportIndex = ParamStr(1);
        rptDlgUnit().singleParamValue = ParamStr(2);

        ADODataSet1->Close();
        ADODataSet1->Parameters().ParamByName(QStringLiteral("rpt_index")).SetAsString(rptDlgUnit().reportIndex);
        ADODataSet1->Open();

        CDS->Close();
        if (CDS->FieldDefs().isEmpty()) {
            for (int i = 0; i <= 25; ++i) {
                if (i == 13)
                    CDS->FieldDefs().Add(QStringLiteral("Field13"), ftMemo, 0);
                else
                    CDS->FieldDefs().Add(QStringLiteral("Field%1").arg(i), ftString, 50);
            }
        }
        CDS->CreateDataSet();

        if (ParamStr(3) == QLatin1String("auto"))
            SpeedButton4Click(SpeedButton4);
    });
}

void TFormRptDlg::FormActivate(QObject *)
{
    SetWindowState(wsNormal);
}

void TFormRptDlg::FormClose(QObject *, TCloseAction &Action)
{
    DataSource3->DataSet()->Close();
    DataSource2->DataSet()->Close();
    DataSource1->DataSet()->Close();
    Action = caFree;
}

void TFormRptDlg::closeEvent(QCloseEvent *e)
{
    TForm::closeEvent(e);
    m_closed = e->isAccepted();
}

void TFormRptDlg::SpeedButton3Click(QObject *)
{
    Close();
}

// ---------------------------------------------------------------------------------------
// Catalogue rules

void TFormRptDlg::ADODataSet1AfterOpen(TDataSet *)
{
    ADODataSet2->Close();
    ADODataSet2->Parameters().ParamByName(QStringLiteral("rpt_id")).SetAsString(
        ADODataSet1->FieldByName(QStringLiteral("rpt_id"))->AsString());
    ADODataSet2->Open();
}

void TFormRptDlg::ADODataSet1AfterScroll(TDataSet *DataSet)
{
    ADODataSet1AfterOpen(DataSet);
}

void TFormRptDlg::ADODataSet2AfterOpen(TDataSet *)
{
    const QString value = rptDlgUnit().singleParamValue;
    if (!value.isEmpty() && ADODataSet2->RecordCount() == 1) {
        ADODataSet2->Edit();
        ADODataSet2->FieldByName(QStringLiteral("default_value"))->SetAsString(value);
    }
}

void TFormRptDlg::ADODataSet1NewRecord(TDataSet *)
{
    ADODataSet1->FieldByName(QStringLiteral("rpt_index"))->SetAsString(rptDlgUnit().reportIndex);
    ADODataSet1->FieldByName(QStringLiteral("rpt_id"))->SetAsString(NextReportNumber());
}

QString TFormRptDlg::NextReportNumber()
{
    TADOQuery q(nullptr, QStringLiteral("ADOQuery1"));
    q.SetConnection(ADOConnection1);
    q.SetSQL(QStringLiteral("SELECT MAX(RPT_ID) FROM RPT_MASTER "));
    q.Open();
    const QString top = q.Fields(0)->AsString();
    if (top.isEmpty())
        return QStringLiteral("10001");
    const int next = StrToInt(top) + 1;
    // The number has five characters in the catalogue; a sixth digit would not fit.
    if (next > 99999)
        throw EConvertError(QString::fromUtf8("報表代號已用到 %1，無法再新增報表").arg(top));
    return QString::asprintf("%.5d", next);
}

void TFormRptDlg::ADODataSet2NewRecord(TDataSet *)
{
    ADODataSet2->FieldByName(QStringLiteral("rpt_id"))->SetAsString(
        ADODataSet1->FieldByName(QStringLiteral("rpt_id"))->AsString());
}

void TFormRptDlg::ADODataSet1BeforePost(TDataSet *)
{
    ADODataSet2->UpdateBatch(arAll);
}

void TFormRptDlg::ADODataSet1AfterPost(TDataSet *)
{
    ADODataSet1->UpdateBatch(arAll);
}

void TFormRptDlg::ADODataSet1BeforeDelete(TDataSet *)
{
    while (ADODataSet2->RecordCount() > 0)
        ADODataSet2->Delete();
}

void TFormRptDlg::ADODataSet1AfterDelete(TDataSet *)
{
    ADODataSet1->UpdateBatch(arAll);
}

void TFormRptDlg::ADODataSet2AfterDelete(TDataSet *)
{
    ADODataSet2->UpdateBatch(arAll);
}

qint64 TFormRptDlg::CountDefinitions(const QString &column, const QString &value)
{
    TFieldDefs defs;
    std::vector<QByteArray> rows;
    ADOConnection1->Session().query(QStringLiteral("SELECT COUNT(*) FROM RPT_MASTER WHERE %1 = ?").arg(column), {value},
                                    defs, rows);
    return rows.empty() ? 0 : RecordLayout(defs).get(rows[0], 0).toLongLong();
}

void TFormRptDlg::DropAbandonedParameters(const QString &rptId)
{
    // Only rows that belong to no stored definition are removed.
    if (CountDefinitions(QStringLiteral("rpt_id"), rptId) != 0)
        return;
    ISqlSession &s = ADOConnection1->Session();
    s.beginTransaction();
    try {
        s.exec(QStringLiteral("DELETE FROM RPT_SUB WHERE rpt_id = ?"), {rptId});
        s.commit();
    } catch (...) {
        s.rollback();
        throw;
    }
}

void TFormRptDlg::N1Click(QObject *)
{
    ADODataSet1->Insert();
    if (ShowEditor)
        ShowEditor();
}

void TFormRptDlg::N2Click(QObject *)
{
    ADODataSet1->Edit();
    if (ShowEditor)
        ShowEditor();
}

void TFormRptDlg::N3Click(QObject *)
{
    if (MessageDlg(QString::fromUtf8("確定刪除該張報表. now?"), mtConfirmation, {mbYes, mbNo}) != mrYes)
        return;
    const QString path = ADODataSet1->FieldByName(QStringLiteral("rpt_tempfile"))->AsString();
    // The catalogue rows go first: the template is removed only once they are written,
    // and only when no other definition still names it.
    ADODataSet1->Delete();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    if (CountDefinitions(QStringLiteral("rpt_tempfile"), path) == 0)
        QFile::remove(path); // a failure here is not reported
}

// ---------------------------------------------------------------------------------------
// Query

void TFormRptDlg::SpeedButton1Click(QObject *)
{
    BusyCursor busy;
    if (!CDS->Active())
        CDS->Open();
    CDS->Edit();
    CDS_RPT->Close();
    CDS_RPT->Params().Clear();
    CDS_RPT->SetCommandText(ADODataSet1->FieldByName(QStringLiteral("rpt_SQLScript"))->AsString());
    CDS_RPT->FetchParams();

    ADODataSet2->First();
    while (!ADODataSet2->Eof()) {
        const QString item = ADODataSet2->FieldByName(QStringLiteral("params_item"))->AsString();
        const QString value = ADODataSet2->FieldByName(QStringLiteral("default_value"))->AsString();
        CDS_RPT->Params().ParamByName(item).SetAsString(value);
        // Rows past the 25th are bound to the script but have no header field.
        const int recNo = ADODataSet2->RecNo();
        if (recNo < CDS->FieldCount())
            CDS->Fields(recNo)->SetAsString(value);
        ADODataSet2->Next();
    }
    CDS_RPT->Open();

    SQLQuery1->Close();
    SQLQuery1->SetSQL(QStringLiteral("select * from store_choise"));
    SQLQuery1->Open();
    CDS->Fields(11)->SetAsString(SQLQuery1->FieldByName(QStringLiteral("STORE_NAME"))->AsString());

    TClientDataSet company(nullptr, QStringLiteral("ClientDataSet1"));
    company.LoadFromFile(executableDir() + QStringLiteral("Bramwix.dat"));
    CDS->Fields(12)->SetAsString(company.Fields(1)->AsString());
    CDS->Fields(13)->SetValue(ADODataSet1->FieldByName(QStringLiteral("rpt_footer"))->Value());
    for (int p = 6; p <= 16; ++p)
        CDS->Fields(p + 8)->SetAsString(SQLQuery1->Fields(p)->AsString());
    CDS->Post();
}

// ---------------------------------------------------------------------------------------
// Preview and print

void TFormRptDlg::SpeedButton2Click(QObject *)
{
    SetWindowState(wsMinimized);
    HandOff(QStringLiteral("RptPreview.so"));
}

void TFormRptDlg::SpeedButton4Click(QObject *)
{
    HandOff(QStringLiteral("RptPrint.so"));
}

void TFormRptDlg::HandOff(const QString &libraryName)
{
    if (!CDS_RPT->Active())
        SpeedButton1Click(SpeedButton1);
    const QString templatePath = ADODataSet1->FieldByName(QStringLiteral("rpt_tempfile"))->AsString();
    const QString dir = executableDir();
    const QString tempFile = dir + QStringLiteral("temp.cds");
    const QString tempFile2 = dir + QStringLiteral("temp2.cds");
    QFile::remove(tempFile);
    QFile::remove(tempFile2);
    {
        TIniFile ini(dir + QStringLiteral("rpttemp.ini"));
        ini.WriteString(QStringLiteral("rpttemp"), QStringLiteral("path"), templatePath);
        ini.WriteString(QStringLiteral("rpttemp"), QStringLiteral("tempfile"), tempFile);
        ini.WriteString(QStringLiteral("rpttemp"), QStringLiteral("tempfile2"), tempFile2);
    }
    CDS_RPT->SaveToFile(tempFile);
    CDS->SaveToFile(tempFile2);

    // The executable's folder comes first, then the system's library search.
    const QString local = dir + libraryName;
    void *h = dlopen(QFile::encodeName(QFileInfo::exists(local) ? local : libraryName).constData(), RTLD_NOW | RTLD_LOCAL);
    rptDlgUnit().moduleHandle = h;
    auto finish = qScopeGuard([this, h] {
        if (h)
            dlclose(h);
        rptDlgUnit().moduleHandle = nullptr;
        Close();
    });
    if (!h)
        throw EDLLLoadError();
    using ShowFormFn = void (*)();
    if (auto fn = reinterpret_cast<ShowFormFn>(dlsym(h, "ShowForm")))
        fn();
}

// ---------------------------------------------------------------------------------------
// Keyboard

void TFormRptDlg::zebdbgrid2KeyPress(QObject *, QChar &Key)
{
    // Enter moves on to the next value: a Tab goes through the input queue, so it is
    // handled after the grid has finished with the Enter.
    if (Key == QChar(13)) {
        if (QWidget *target = QApplication::focusWidget())
            QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier));
    }
}

// Template path maintenance comes with the maintenance windows.
void TFormRptDlg::SpeedButton5Click(QObject *) {}
void TFormRptDlg::Replace1Click(QObject *) {}

void TFormRptDlg::CreateControls()
{
    using namespace std::placeholders;
    const TColor lightYellow = 8454143; // the window's frame strips and result grid
    SetCaption(QString::fromUtf8("報表印製"));
    SetClientSize(673, 309);
    SetPosition(poScreenCenter);
    SetFormStyle(fsStayOnTop);
    SetBorderIcons(0);
    SetColor(clBtnFace);

    auto panel = [](QWidget *parent, const char *name, TAlign align, int l, int t, int w, int h) {
        auto *p = new TPanel(parent, QString::fromLatin1(name));
        p->SetBounds(l, t, w, h);
        p->SetAlign(align);
        return p;
    };
    Panel1 = panel(this, "Panel1", alTop, 0, 0, 673, 6);
    Panel2 = panel(this, "Panel2", alBottom, 0, 303, 673, 6);
    Panel3 = panel(this, "Panel3", alLeft, 0, 6, 6, 297);
    Panel4 = panel(this, "Panel4", alRight, 667, 6, 6, 297);
    for (TPanel *p : {Panel1, Panel2, Panel3, Panel4}) {
        p->SetBevelOuter(bvNone);
        p->SetColor(lightYellow);
    }
    Panel5 = panel(this, "Panel5", alClient, 6, 6, 661, 297);
    Panel5->SetColor(clWhite);
    Panel5->SetBevelOuter(bvRaised);

    // Tab order: the right side (parameter grid first) before the report list.
    Panel6 = panel(Panel5, "Panel6", alClient, 332, 1, 328, 295);
    Panel6->SetBevelOuter(bvRaised);
    bsSkinPanel1 = panel(Panel5, "bsSkinPanel1", alLeft, 1, 1, 328, 295);
    bsSkinPanel1->SetBorderStyle(bsSingle);
    bsSkinPanel1->SetBevelOuter(bvNone);
    Splitter1 = new TSplitter(Panel5, QStringLiteral("Splitter1"));
    Splitter1->SetBounds(329, 1, 3, 295);
    Splitter1->SetAlign(alLeft);
    Splitter1->SetMinSize(30);

    bsSkinDBGrid1 = new TDBGrid(bsSkinPanel1);
    bsSkinDBGrid1->SetName(QStringLiteral("bsSkinDBGrid1"));
    bsSkinDBGrid1->SetAlign(alClient);
    bsSkinDBGrid1->SetDataSource(DataSource1);
    {
        TColumn *id = bsSkinDBGrid1->Columns().Add();
        id->SetFieldName(QStringLiteral("rpt_id"));
        id->SetVisible(false);
        bsSkinDBGrid1->Columns().Add()->SetFieldName(QStringLiteral("rpt_name"));
    }

    zebdbgrid2 = new TDBGrid(Panel6);
    zebdbgrid2->SetName(QStringLiteral("zebdbgrid2"));
    zebdbgrid2->setGeometry(1, 1, 326, 104);
    zebdbgrid2->SetAlign(alTop);
    zebdbgrid2->SetBorderStyle(bsNone);
    zebdbgrid2->SetDataSource(DataSource2);
    {
        TColumn *label = zebdbgrid2->Columns().Add();
        label->SetFieldName(QStringLiteral("params_label"));
        label->SetReadOnly(true);
        label->SetWidth(89);
        label->Title().SetCaption(QString::fromUtf8("欄位說明"));
        TColumn *value = zebdbgrid2->Columns().Add();
        value->SetFieldName(QStringLiteral("default_value"));
        value->SetWidth(121);
        value->Title().SetCaption(QString::fromUtf8("查詢值"));
    }
    zebdbgrid2->OnKeyPress = std::bind(&TFormRptDlg::zebdbgrid2KeyPress, this, _1, _2);

    Panel7 = panel(Panel6, "Panel7", alClient, 1, 105, 326, 189);
    Panel7->SetColor(clWhite);
    Panel7->SetBevelOuter(bvRaised);
    Panel8 = panel(Panel7, "Panel8", alTop, 1, 1, 324, 34);
    Panel8->SetColor(clWhite);
    Panel8->SetBevelOuter(bvRaised);
    DBGrid1 = new TDBGrid(Panel7);
    DBGrid1->SetName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(1, 35, 324, 153);
    DBGrid1->SetAlign(alClient);
    DBGrid1->SetColor(lightYellow);
    DBGrid1->SetOptions(TDBGridOptions(dgColumnResize) | dgTabs | dgConfirmDelete | dgCancelOnExit);
    DBGrid1->SetReadOnly(true);
    DBGrid1->SetTabStop(false);
    DBGrid1->SetDataSource(DataSource3);

    auto button = [this](const char *name, const QString &caption, int l, int t, int w, int h, bool hand,
                         void (TFormRptDlg::*handler)(QObject *)) {
        auto *b = new TSpeedButton(Panel8, QString::fromLatin1(name));
        b->SetBounds(l, t, w, h);
        b->SetCaption(caption);
        b->SetFlat(true);
        b->SetTransparent(true);
        b->SetSpacing(4);
        if (hand)
            b->SetCursor(crHandPoint);
        b->OnClick = std::bind(handler, this, std::placeholders::_1);
        return b;
    };
    SpeedButton1 = button("SpeedButton1", QString::fromUtf8("查詢"), 3, 2, 70, 31, true, &TFormRptDlg::SpeedButton1Click);
    SpeedButton2 = button("SpeedButton2", QString::fromUtf8("預覽"), 73, 2, 70, 31, true, &TFormRptDlg::SpeedButton2Click);
    SpeedButton4 = button("SpeedButton4", QString::fromUtf8("列印"), 143, 2, 70, 31, true, &TFormRptDlg::SpeedButton4Click);
    SpeedButton3 = button("SpeedButton3", QString::fromUtf8("離開"), 214, 1, 70, 32, true, &TFormRptDlg::SpeedButton3Click);
    SpeedButton5 = button("SpeedButton5", QStringLiteral("C"), 285, 1, 36, 16, false, &TFormRptDlg::SpeedButton5Click);
    SpeedButton6 = button("SpeedButton6", QStringLiteral("D"), 286, 16, 36, 16, false, &TFormRptDlg::SpeedButton5Click);

    PopupMenu1 = new TPopupMenu(this, QStringLiteral("PopupMenu1"));
    N1 = PopupMenu1->AddItem(QStringLiteral("N1"), QString::fromUtf8("報表新增"), std::bind(&TFormRptDlg::N1Click, this, _1));
    N2 = PopupMenu1->AddItem(QStringLiteral("N2"), QString::fromUtf8("報表修改"), std::bind(&TFormRptDlg::N2Click, this, _1));
    N3 = PopupMenu1->AddItem(QStringLiteral("N3"), QString::fromUtf8("報表刪除"), std::bind(&TFormRptDlg::N3Click, this, _1));
    bsSkinDBGrid1->SetPopupMenu(PopupMenu1);
    PopupMenu2 = new TPopupMenu(this, QStringLiteral("PopupMenu2"));
    Replace1 = PopupMenu2->AddItem(QStringLiteral("Replace1"), QStringLiteral("ReplaceFilePath"),
                                   std::bind(&TFormRptDlg::Replace1Click, this, _1));
    SpeedButton5->SetPopupMenu(PopupMenu2);
    SpeedButton6->SetPopupMenu(PopupMenu2);

    OnActivate = std::bind(&TFormRptDlg::FormActivate, this, _1);
    OnClose = std::bind(&TFormRptDlg::FormClose, this, _1, _2);
}

} // namespace rpt
