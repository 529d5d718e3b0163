#pragma once
// What the launcher leaves for the preview and print modules: rpttemp.ini next to the
// module, naming the template (key path), the result rows (tempfile) and the header
// record (tempfile2) in section [rpttemp]. The print module also reads an optional
// section [print]: printer, copies, pdf.

#include "modules/report/ReportRenderer.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>

namespace rpt::report {

// A hand-off that cannot be used; the message is for the user (Traditional Chinese).
class HandOffError : public std::runtime_error {
public:
    explicit HandOffError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

struct HandOff {
    QString iniPath;
    QString templatePath;   // as given, resolved against the ini's folder when relative
    QString rowsPath;
    QString headerPath;
    // [print]
    QString printer;
    QString copies;         // as written; see copyCount()
    QString pdfPath;

    // The folder of the result file, where an unattended print leaves its PDF.
    QString outputDirectory() const;
    // 1..999; anything else gives 1 and, through *warning, a note on why.
    int copyCount(QString *warning = nullptr) const;
};

// The folder of the shared object that holds `address` (a function of the module), or
// "" when the system cannot tell.
QString moduleDirectory(const void *address);

// Reads rpttemp.ini from the first of `folders` that has one. Throws HandOffError when
// none has, when the file cannot be read or when tempfile is missing.
HandOff readHandOff(const QStringList &folders);
HandOff readHandOffFile(const QString &iniPath);

// Loads the data and the template and lays the report out. A template that cannot be
// used or a header record that cannot be read only add a notice on page 1; result rows
// that cannot be read throw HandOffError.
std::unique_ptr<ReportRenderer> prepareReport(const HandOff &handOff, const QDateTime &printTime = QDateTime());

} // namespace rpt::report
