// MessageBeep: the short warning sound of a refused key. The sound goes
// through a replaceable beeper, so tests can count beeps.
#pragma once

#include <cstdint>
#include <functional>

namespace jw {

using TBeeper = std::function<void()>;

// Sounds the beeper; type is the original platform's sound kind, which the
// desktop's single bell does not distinguish.
void MessageBeep(uint32_t type);
// Installs beeper (empty restores the desktop's bell) and returns the one it
// replaced (empty when that was the bell).
TBeeper SetBeeper(TBeeper beeper);

}  // namespace jw
