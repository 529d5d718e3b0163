#pragma once
// Exceptions raised by the text-file pieces (settings files, data-link files,
// connection definitions). They all derive from rpt::Exception, so the application's
// error box shows them like any other failure, with message() as the text.

#include "platform/db/DbErrors.h"

namespace rpt {

// A file could not be read or written; the message names the file and the reason.
class EInOutError : public Exception {
public:
    using Exception::Exception;
    const char *className() const override { return "EInOutError"; }
};

// Opening an existing file for reading failed.
class EFOpenError : public EInOutError {
public:
    using EInOutError::EInOutError;
    const char *className() const override { return "EFOpenError"; }
};

// Creating or replacing a file failed. The previous content, if any, is untouched.
class EFCreateError : public EInOutError {
public:
    using EInOutError::EInOutError;
    const char *className() const override { return "EFCreateError"; }
};

// A settings-file call with a section, key or value that cannot be stored as one line.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
    const char *className() const override { return "EIniFileException"; }
};

// A data-link file or OLE DB connection string that cannot be used.
class EDataLinkError : public Exception {
public:
    using Exception::Exception;
    const char *className() const override { return "EDataLinkError"; }
};

namespace msg {
inline const char *FOpenError = "Cannot open file \"%1\". %2";
inline const char *FCreateError = "Cannot create file \"%1\". %2";
inline const char *ConnectionNameMissing = "Connection name missing";
} // namespace msg

} // namespace rpt
