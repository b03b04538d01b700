#include "platform/db/db_errors.h"

#include <cstdio>

#include "platform/rtl/component.h"

namespace jw {

namespace {
TApplicationExceptionHandler g_exception_handler = nullptr;
}  // namespace

void DatabaseError(std::string_view message, const TComponent* component) {
  if (component != nullptr && !component->Name().empty()) {
    throw EDatabaseError(component->Name() + ": " + std::string(message));
  }
  throw EDatabaseError(std::string(message));
}

void SetApplicationExceptionHandler(TApplicationExceptionHandler handler) {
  g_exception_handler = handler;
}

void ApplicationHandleException(TPersistent* sender) {
  if (g_exception_handler != nullptr) {
    g_exception_handler(sender);
    return;
  }
  try {
    throw;
  } catch (const EAbort&) {
    // The silent exception is never shown.
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
  }
}

}  // namespace jw
