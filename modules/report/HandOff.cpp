#include "modules/report/HandOff.h"

#include "platform/cds/CdsFile.h"
#include "platform/db/DbErrors.h"
#include "platform/text/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace rpt::report {

namespace {

const QString kIniName = QStringLiteral("rpttemp.ini");

QString resolved(const QString &baseDir, const QString &value)
{
    if (value.isEmpty())
        return value;
    if (QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir(baseDir).absoluteFilePath(value));
}

} // namespace

QString HandOff::outputDirectory() const
{
    if (!rowsPath.isEmpty())
        return QFileInfo(rowsPath).absolutePath();
    return QFileInfo(iniPath).absolutePath();
}

int HandOff::copyCount(QString *warning) const
{
    const QString t = copies.trimmed();
    if (t.isEmpty())
        return 1;
    bool ok = false;
    const int n = t.toInt(&ok);
    if (ok && n >= 1 && n <= 999)
        return n;
    if (warning)
        *warning = QStringLiteral("份數「%1」不正確（應為 1 到 999），只印 1 份").arg(copies);
    return 1;
}

QString moduleDirectory(const void *address)
{
    Dl_info info{};
    if (!address || dladdr(address, &info) == 0 || !info.dli_fname || !*info.dli_fname)
        return QString();
    // The name the module was loaded by, not its symlink target: the hand-off files lie
    // next to where the program found the module.
    const QString file = QFile::decodeName(info.dli_fname);
    return QFileInfo(file).absolutePath();
}

HandOff readHandOffFile(const QString &iniPath)
{
    HandOff h;
    h.iniPath = QFileInfo(iniPath).absoluteFilePath();
    const QString base = QFileInfo(iniPath).absolutePath();
    try {
        const TIniFile ini(iniPath);
        if (!ini.SectionExists(QStringLiteral("rpttemp")))
            throw HandOffError(QStringLiteral("交接檔 %1 沒有 [rpttemp] 段落").arg(h.iniPath));
        h.templatePath = resolved(base, ini.ReadString(QStringLiteral("rpttemp"), QStringLiteral("path"), QString()));
        h.rowsPath = resolved(base, ini.ReadString(QStringLiteral("rpttemp"), QStringLiteral("tempfile"), QString()));
        h.headerPath = resolved(base, ini.ReadString(QStringLiteral("rpttemp"), QStringLiteral("tempfile2"), QString()));
        h.printer = ini.ReadString(QStringLiteral("print"), QStringLiteral("printer"), QString());
        h.copies = ini.ReadString(QStringLiteral("print"), QStringLiteral("copies"), QString());
        h.pdfPath = resolved(base, ini.ReadString(QStringLiteral("print"), QStringLiteral("pdf"), QString()));
    } catch (const Exception &e) {
        throw HandOffError(QStringLiteral("無法讀取交接檔 %1：%2").arg(h.iniPath, e.message()));
    }
    if (h.rowsPath.isEmpty())
        throw HandOffError(QStringLiteral("交接檔 %1 沒有指定查詢結果檔（tempfile）").arg(h.iniPath));
    return h;
}

HandOff readHandOff(const QStringList &folders)
{
    QStringList tried;
    for (const QString &dir : folders) {
        if (dir.isEmpty())
            continue;
        const QString path = QDir(dir).absoluteFilePath(kIniName);
        if (tried.contains(path))
            continue;
        tried << path;
        if (QFileInfo(path).isFile())
            return readHandOffFile(path);
    }
    throw HandOffError(QStringLiteral("找不到交接檔 rpttemp.ini（找過：%1）")
                           .arg(tried.isEmpty() ? QStringLiteral("無") : tried.join(QStringLiteral("、"))));
}

std::unique_ptr<ReportRenderer> prepareReport(const HandOff &h, const QDateTime &printTime)
{
    QString headerError;
    ReportData data;
    try {
        data = loadReportData(h.rowsPath, h.headerPath, &headerError);
    } catch (const cds::CdsError &e) {
        throw HandOffError(QStringLiteral("無法讀取查詢結果：%1").arg(e.message()));
    }
    auto renderer = std::make_unique<ReportRenderer>(std::move(data), loadTemplate(h.templatePath), printTime);
    if (!headerError.isEmpty())
        renderer->addNotice(QStringLiteral("無法讀取表頭資料，門市、公司與頁尾文字從缺：%1").arg(headerError));
    return renderer;
}

} // namespace rpt::report
