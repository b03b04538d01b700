#include "platform/os/os_file_faults.h"

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace jw {
namespace {

std::atomic<OsFileFaults*> installed{nullptr};

}  // namespace

TScopedOsFileFaults::TScopedOsFileFaults(OsFileFaults& faults)
    : previous_(installed.exchange(&faults)) {}

TScopedOsFileFaults::~TScopedOsFileFaults() {
  installed.store(previous_);
}

bool OsFaultReadOnly(const std::string& path) {
  const OsFileFaults* faults = installed.load();
  if (faults == nullptr) return false;
  const auto& paths = faults->read_only_paths;
  return std::find(paths.begin(), paths.end(), path) != paths.end();
}

bool OsFaultFailWrite() {
  OsFileFaults* faults = installed.load();
  if (faults == nullptr) return false;
  if (++faults->writes != faults->fail_write_at) return false;
  errno = ENOSPC;
  return true;
}

bool OsFaultFailFlush() {
  OsFileFaults* faults = installed.load();
  if (faults == nullptr) return false;
  if (++faults->flushes != faults->fail_flush_at) return false;
  errno = EIO;
  return true;
}

}  // namespace jw
