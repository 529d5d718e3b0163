#pragma once
// Exception classes of the data layer and the run-time library, with the platform's texts.

#include <QString>
#include <stdexcept>

namespace rpt {

// Base of everything the program raises on purpose; carries a Unicode message.
class Exception : public std::runtime_error {
public:
    explicit Exception(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }
    virtual const char *className() const { return "Exception"; }

private:
    QString m_message;
};

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
    const char *className() const override { return "EDatabaseError"; }
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
    const char *className() const override { return "EConvertError"; }
};

class EListError : public Exception {
public:
    using Exception::Exception;
    const char *className() const override { return "EListError"; }
};

// Platform texts, quoted exactly.
namespace msg {
inline const char *DataSetEmpty = "Cannot perform this operation on an empty dataset";
inline const char *DataSetClosed = "Cannot perform this operation on a closed dataset";
inline const char *DataSetOpen = "Cannot perform this operation on an open dataset";
inline const char *NotEditing = "Dataset not in edit or insert mode";
inline const char *DataSetReadOnly = "Cannot modify a read-only dataset";
inline const char *FieldNotFound = "Field '%1' not found";
inline const char *ParameterNotFound = "Parameter '%1' not found";
inline const char *FieldRequired = "Field '%1' must have a value";
inline const char *FieldReadOnly = "Field '%1' cannot be modified";
inline const char *InvalidInteger = "'%1' is not a valid integer value";
inline const char *InvalidFieldValue = "'%1' is not a valid %2 value for field '%3'";
inline const char *ListIndexError = "List index out of bounds (%1)";
inline const char *RowNotLocated =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";
inline const char *DeleteRecordQuestion = "Delete record?";
} // namespace msg

// "<name>: <message>" when the component has a name, as the data layer reports its errors.
[[noreturn]] void DatabaseError(const QString &message, const QString &componentName = QString());
QString prefixed(const QString &message, const QString &componentName);

} // namespace rpt
