#include "engine/sql/sql_errors.h"

#include "engine/support/engine_errors.h"

namespace jw {

void RaiseSqlError(const std::string& text) {
  RaiseEngineError(kErrSql, std::string(), std::string(), std::string(), text);
}

void RaiseInvalidColumn(const std::string& column, const std::string& correlation,
                        const std::string& where) {
  RaiseSqlError("Invalid column name '" + column + "'" + " or table correlation name " + "'" +
                correlation + "'" + " specified in " + where);
}

}  // namespace jw
