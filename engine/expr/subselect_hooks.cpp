#include "engine/expr/subselect_hooks.h"

#include <atomic>

namespace jw {

namespace {

std::atomic<TSubSelectHooks*> registered_hooks{nullptr};

}  // namespace

TSubSelectHooks* SetSubSelectHooks(TSubSelectHooks* hooks) {
  return registered_hooks.exchange(hooks);
}

TSubSelectHooks* SubSelectHooks() {
  return registered_hooks.load();
}

}  // namespace jw
