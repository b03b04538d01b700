#include "platform/os/os_file_faults.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace jw {
namespace {

std::atomic<OsFileFaults*> installed{nullptr};

// Counts one more call of a kind; true (with errno set) for the one to
// fail, or the second one where a kind has two.
bool FailsNow(int64_t OsFileFaults::*count, int64_t OsFileFaults::*fail_at, int error,
              int64_t OsFileFaults::*fail_again_at = nullptr) {
  OsFileFaults* faults = installed.load();
  if (faults == nullptr) return false;
  const int64_t now = ++(faults->*count);
  if (now != faults->*fail_at && (fail_again_at == nullptr || now != faults->*fail_again_at)) {
    return false;
  }
  errno = error;
  return true;
}

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
  return FailsNow(&OsFileFaults::writes, &OsFileFaults::fail_write_at, ENOSPC);
}

bool OsFaultFailFlush() {
  return FailsNow(&OsFileFaults::flushes, &OsFileFaults::fail_flush_at, EIO);
}

bool OsFaultFailRename() {
  return FailsNow(&OsFileFaults::renames, &OsFileFaults::fail_rename_at, EIO,
                  &OsFileFaults::fail_rename_again_at);
}

bool OsFaultFailMap() {
  const OsFileFaults* faults = installed.load();
  if (faults == nullptr || !faults->refuse_maps) return false;
  errno = ENOMEM;
  return true;
}

void OsFaultCountRead() {
  OsFileFaults* faults = installed.load();
  if (faults != nullptr) ++faults->reads;
}

void OsFaultJournal(int fd, OsFileEvent::Kind kind, int64_t offset, const void* bytes,
                    int64_t length) {
  OsFileFaults* faults = installed.load();
  if (faults == nullptr || faults->journal == nullptr) return;
  struct stat st;
  if (fstat(fd, &st) != 0) return;
  const auto* begin = static_cast<const uint8_t*>(bytes);
  faults->journal->push_back({kind, static_cast<uint64_t>(st.st_ino), offset,
                              std::vector<uint8_t>(begin, begin + length)});
}

}  // namespace jw
