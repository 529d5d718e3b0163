// RptDlg: the report launcher. RptDlg <report index> [<single parameter value>] [auto]
#include "app/FrmRptDlg.h"

int main(int argc, char **argv)
{
    rpt::TApplication app(argc, argv);
    rpt::Application->Initialize();
    rpt::Application->SetTitle(QStringLiteral("RptDlg"));
    auto *form = rpt::Application->CreateForm<rpt::TFormRptDlg>();
    // An "auto" run has already printed and closed the window during start-up.
    if (form->IsClosed())
        return 0;
    return rpt::Application->Run();
}
