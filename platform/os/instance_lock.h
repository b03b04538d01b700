// The instance lock: an exclusive, non-blocking flock on a per-user lock file
// named after the executable, held for the lock object's lifetime, so a second
// process of the same program can tell that another one runs.
#pragma once

#include <string>

namespace jw {

class TInstanceLock {
 public:
  // Opens (or creates) the lock file for name and tries to take it. Nothing
  // raises: a file that cannot be opened leaves the lock not held and
  // InstanceRunning false, as a failed named mutex would.
  explicit TInstanceLock(const std::string& name);
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // True when another process held the lock when this one tried.
  bool InstanceRunning() const { return instance_running_; }
  bool Held() const { return held_; }
  const std::string& FileName() const { return file_name_; }

  // The lock file of name for the current user: in $XDG_RUNTIME_DIR when that
  // is a folder, else in /tmp, as "<name>.<uid>.lock".
  static std::string LockFileName(const std::string& name);

 private:
  std::string file_name_;
  int fd_ = -1;
  bool held_ = false;
  bool instance_running_ = false;
};

}  // namespace jw
