#include "engine/dataset/password_prompt.h"

#include <utility>

namespace jw {

namespace {
// Constant-initialised, so a registration from another library's static
// initialisation always finds it.
TPasswordPrompt g_prompt = nullptr;
}  // namespace

TPasswordPrompt SetPasswordPrompt(TPasswordPrompt prompt) {
  return std::exchange(g_prompt, prompt);
}

TPasswordPrompt PasswordPrompt() {
  return g_prompt;
}

}  // namespace jw
