#include "engine/support/support_startup.h"

#include <climits>
#include <cstdlib>
#include <vector>

#include "engine/expr/expression_tokens.h"
#include "engine/support/collation_maps.h"
#include "engine/support/engine_errors.h"
#include "engine/support/engine_strings.h"
#include "engine/support/file_list.h"
#include "engine/support/language_settings.h"
#include "engine/support/records_bitmap.h"
#include "platform/rtl/strings.h"
#include "platform/rtl/sync.h"

namespace jw {
namespace {

struct TSupportStep {
  const char* Name;
  void (*Init)();
  void (*Done)();
};

// Each object may use the ones before it, so shutdown runs backwards.
constexpr TSupportStep kOwnSteps[] = {
    {"bitmap pool", InitRecordsBitmapStack, DoneRecordsBitmapStack},
    {"registry", InitFileList, DoneFileList},
    {"map cache", InitLanguageCharMaps, DoneLanguageCharMaps},
};

// The steps of the layers above come first; built on first use, so a
// registration from another library's static initialisation finds it.
std::vector<TSupportStep>& RegisteredSteps() {
  static std::vector<TSupportStep> steps;
  return steps;
}

std::vector<TSupportStep> AllSteps() {
  std::vector<TSupportStep> steps = RegisteredSteps();
  steps.insert(steps.end(), std::begin(kOwnSteps), std::end(kOwnSteps));
  return steps;
}

bool started = false;

void RunDone(const std::vector<TSupportStep>& steps, size_t count, bool report) {
  for (size_t i = count; i-- > 0;) {
    steps[i].Done();
    if (report && OnEngineSupportStep) OnEngineSupportStep(steps[i].Name, false);
  }
}

}  // namespace

std::function<void(const std::string& name, bool starting)> OnEngineSupportStep;

void RegisterEngineSupportStep(const char* name, void (*init)(), void (*done)()) {
  RegisteredSteps().push_back({name, init, done});
}

void InitEngineSupport() {
  if (started) return;
  const std::vector<TSupportStep> steps = AllSteps();
  size_t done = 0;
  try {
    for (; done < steps.size(); ++done) {
      steps[done].Init();
      if (OnEngineSupportStep) OnEngineSupportStep(steps[done].Name, true);
    }
  } catch (...) {
    // A failed start leaves nothing half made.
    RunDone(steps, done, true);
    throw;
  }
  started = true;
}

void DoneEngineSupport() {
  // The objects also come into being on first use, before or without
  // start-up; shutdown frees them either way, but reports only the steps of
  // a started library.
  const bool report = started;
  started = false;
  const std::vector<TSupportStep> steps = AllSteps();
  RunDone(steps, steps.size(), report);
}

bool EngineSupportStarted() {
  return started;
}

std::string GetUniversalName(const std::string& path) {
  char resolved[PATH_MAX];
  if (path.empty() || realpath(path.c_str(), resolved) == nullptr) return std::string();
  return resolved;
}

bool FileListExists(const std::string& name, bool in_memory) {
  return FileList().Exists(name, in_memory);
}

std::string MakeTempFileName(const std::string& folder, const std::string& extension,
                             bool in_memory) {
  const int64_t thread_id = GetCurrentThreadId();
  const std::string prefix = IntToStr(thread_id < 0 ? -thread_id : thread_id).substr(0, 5);
  const std::string base = AddTrailingBackslash(folder) + prefix;
  for (uint32_t counter = 0; counter <= 0xFFFF; ++counter) {
    const std::string name = base + IntToStr(static_cast<int32_t>(counter)) + extension;
    if (FileListExists(name, in_memory)) continue;
    TAbstractFile* file = nullptr;
    const int32_t handle = FileList().CreateFile(name, in_memory, false, file, true);
    if (handle >= 0) {
      FileList().CloseFile(file, in_memory, handle);
      return name;
    }
    // Another thread or process took the name in between.
    if (handle == -static_cast<int32_t>(kErrTableExists) ||
        handle == -static_cast<int32_t>(kErrAccessDenied)) {
      continue;
    }
    RaiseEngineError(static_cast<EngineErrorCode>(-handle), name);
  }
  RaiseEngineError(kErrUnknownOsError, base);
}

}  // namespace jw
