// The storage core's process-wide state: whether the engine is initialised,
// its default session and the current session through which engine calls
// run. The dataset components serialise engine calls and make their
// session current before each.
#pragma once

#include <memory>

#include "engine/core/data_session.h"

namespace jw {

// Starts the support library and makes a default session current; a second
// call while initialised does nothing.
void InitializeEngine();
// Frees the default session, stops the support library; nothing when not
// initialised.
void FinalizeEngine();
bool EngineInitialized();

// The current session; 10758 "Engine not initialized" before InitializeEngine.
TDataSession* GetEngineSession();
void SetEngineSession(TDataSession* session);
std::unique_ptr<TDataSession> CreateEngineSession();
// Frees the session (nothing for none); the current session becomes none
// when it was this one.
void FreeEngineSession(std::unique_ptr<TDataSession> session);

}  // namespace jw
