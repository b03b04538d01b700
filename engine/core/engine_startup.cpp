#include "engine/core/engine_startup.h"

#include "engine/support/engine_errors.h"
#include "engine/support/support_startup.h"
#include "platform/rtl/random.h"

namespace jw {

namespace {

bool g_initialized = false;
std::unique_ptr<TDataSession> g_default_session;
TDataSession* g_current_session = nullptr;

}  // namespace

void InitializeEngine() {
  if (g_initialized) return;
  g_initialized = true;
  InitEngineSupport();
  // The reader slots of the index and BLOB files are drawn from it: two
  // processes started together must not draw the same slots.
  Randomize();
  g_default_session = std::make_unique<TDataSession>();
  g_current_session = g_default_session.get();
}

void FinalizeEngine() {
  if (!g_initialized) return;
  g_current_session = nullptr;
  g_default_session.reset();
  DoneEngineSupport();
  g_initialized = false;
}

bool EngineInitialized() {
  return g_initialized;
}

TDataSession* GetEngineSession() {
  if (!g_initialized) RaiseEngineError(kErrNotInitialized, "");
  return g_current_session;
}

void SetEngineSession(TDataSession* session) {
  g_current_session = session;
}

std::unique_ptr<TDataSession> CreateEngineSession() {
  return std::make_unique<TDataSession>();
}

void FreeEngineSession(std::unique_ptr<TDataSession> session) {
  if (session.get() == g_current_session) g_current_session = nullptr;
}

}  // namespace jw
