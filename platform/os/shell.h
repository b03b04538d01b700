// Opening a file with the desktop's program for it, behind a small
// interface: xdg-open in production, a recording fake in tests.
#pragma once

#include <memory>
#include <string>

namespace jw {

class ShellOpener {
 public:
  virtual ~ShellOpener() = default;
  // Asks the desktop to open path; false when the file does not exist or the
  // opener could not be started.
  virtual bool Open(const std::string& path) = 0;
};

// Starts "xdg-open path" without waiting for it; the child is reaped in the
// background so no zombie stays.
class XdgShellOpener : public ShellOpener {
 public:
  bool Open(const std::string& path) override;
};

// The current opener; XdgShellOpener until another is installed.
ShellOpener& Shell();
// Installs opener (null restores xdg-open) and returns the previous one when
// it was installed this way.
std::unique_ptr<ShellOpener> SetShellOpener(std::unique_ptr<ShellOpener> opener);

}  // namespace jw
