// The dataset framework's message texts, in one table, and the two ways it
// raises them: DatabaseError and DatabaseErrorFmt (EDatabaseError lives with
// the other runtime exceptions in platform/rtl).
#pragma once

#include <string>
#include <string_view>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"

namespace jw {

class TComponent;
class TPersistent;

namespace db_text {
inline constexpr std::string_view kDataSetClosed =
    "Cannot perform this operation on a closed dataset";
inline constexpr std::string_view kDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr std::string_view kDataSetEmpty =
    "Cannot perform this operation on an empty dataset";
inline constexpr std::string_view kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr std::string_view kNotEditing = "Dataset not in edit or insert mode";
inline constexpr std::string_view kRecordNotFound = "Record not found";
inline constexpr std::string_view kFieldNotFound = "Field '%s' not found";
inline constexpr std::string_view kFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr std::string_view kFieldIndexError = "Field index out of range";
inline constexpr std::string_view kFieldNoDataSet = "Field '%s' has no dataset";
inline constexpr std::string_view kDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr std::string_view kIndexNotFound = "Index '%s' not found";
inline constexpr std::string_view kNoIndexForFields = "No index for fields '%s'";
inline constexpr std::string_view kCircularDataLink = "Circular datalinks are not allowed";
inline constexpr std::string_view kInvalidBoolValue =
    "'%s' is not a valid boolean value for field '%s'";
inline constexpr std::string_view kUnsupportedFieldType = "Field '%s' is of an unsupported type";
inline constexpr std::string_view kFieldRangeError =
    "%d is not a valid value for field '%s'. The allowed range is %d to %d";
}  // namespace db_text

// Raises EDatabaseError with the message, preceded by "<name>: " when a
// component with a name is given.
[[noreturn]] void DatabaseError(std::string_view message, const TComponent* component = nullptr);

template <class... Args>
[[noreturn]] void DatabaseErrorFmt(std::string_view message, const Args&... args) {
  DatabaseError(Format(message, args...));
}

// The application's handler for exceptions that an event or a callback of
// the framework must not let pass (a filter handler during an engine scan, a
// change event in a destructor). The GUI installs one that shows the message;
// without one the message goes to standard error. Call inside a catch block.
using TApplicationExceptionHandler = void (*)(TPersistent* sender);
void SetApplicationExceptionHandler(TApplicationExceptionHandler handler);
void ApplicationHandleException(TPersistent* sender);

}  // namespace jw
