// The session's one call upward: when the engine needs the password of an
// encrypted table and the session has no OnPassword handler, it asks the
// prompt registered here. engine/dataset_ui registers its dialog at start-up;
// with nothing registered the answer is no.
#pragma once

namespace jw {

class TQuireSession;

// Lets the user change the session's password list; true when the engine
// should try the open again.
using TPasswordPrompt = bool (*)(TQuireSession& session);

// Registers the prompt (nullptr removes it); returns the one replaced.
TPasswordPrompt SetPasswordPrompt(TPasswordPrompt prompt);
// nullptr when none is registered.
TPasswordPrompt PasswordPrompt();

}  // namespace jw
