// A second process for the file-layer tests: runs the command loop over one
// file handler; each command answers "ok", "ok <value>", "busy", "fail" or
// "err <engine code>".
#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "engine/support/engine_errors.h"
#include "engine/support/file_handler.h"
#include "tests/engine/support/lock_helper/command_loop.h"

namespace {

void Run(jw::TFileHandler& handler, const std::string& command, std::istringstream& args) {
  if (command == "open" || command == "open-exclusive") {
    std::string path;
    args >> path;
    handler.Close();
    handler.SetName(path);
    handler.SetExclusive(command == "open-exclusive");
    handler.Open();
    std::cout << "ok " << (handler.ReadOnly() ? 1 : 0) << std::endl;
  } else if (command == "create" || command == "delete") {
    std::string path;
    args >> path;
    jw::TFileHandler other;
    other.SetName(path);
    if (command == "create") {
      other.CreateFile();
    } else {
      other.DeleteFile();
    }
    std::cout << "ok" << std::endl;
  } else if (command == "rename") {
    std::string from, to;
    args >> from >> to;
    jw::TFileHandler other;
    other.SetName(from);
    other.RenameFile(to);
    std::cout << "ok" << std::endl;
  } else if (command == "churn") {
    // Deletes the file (every other time by renaming it away first) and
    // creates it anew, count times; answers how many deletes got through.
    std::string path;
    int count = 0;
    args >> path >> count;
    int deleted = 0;
    for (int i = 0; i < count; ++i) {
      try {
        jw::TFileHandler other;
        other.SetName(path);
        if (i % 2 == 1) other.RenameFile(path + ".moved");
        other.DeleteFile();
        ++deleted;
      } catch (const jw::EQuireEngineError&) {
        // The other process holds the file.
      }
      try {
        jw::TFileHandler other;
        other.SetName(path);
        other.CreateFile();
      } catch (const jw::EQuireEngineError&) {
        // Held again already.
      }
    }
    std::cout << "ok " << deleted << std::endl;
  } else if (command == "lock" || command == "unlock") {
    int64_t offset = 0, length = 0;
    args >> offset >> length;
    const jw::OsLockResult result = handler.SetRegionLock(offset, length, command == "lock");
    std::cout << (result == jw::OsLockResult::Taken  ? "ok"
                  : result == jw::OsLockResult::Busy ? "busy"
                                                     : "fail")
              << std::endl;
  } else if (command == "probe") {
    // Tries each of count bytes from offset: 1 where it is held elsewhere
    // (here too), 0 where it could be had; a byte taken goes again at once.
    int64_t offset = 0, count = 0;
    args >> offset >> count;
    std::string held;
    for (int64_t b = offset; b < offset + count; ++b) {
      const bool taken = handler.SetRegionLock(b, 1, true) == jw::OsLockResult::Taken;
      if (taken) handler.SetRegionLock(b, 1, false);
      held += taken ? '0' : '1';
    }
    std::cout << "ok " << held << std::endl;
  } else if (command == "write") {
    std::string text;
    args >> text;
    handler.Seek(0, 2);
    handler.Write(text.data(), static_cast<int32_t>(text.size()));
    std::cout << "ok" << std::endl;
  } else if (command == "close") {
    handler.Close();
    std::cout << "ok" << std::endl;
  } else if (command == "drop-root") {
    // Runs as an unprivileged user, so that permission checks apply.
    const bool dropped = getuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
    std::cout << (dropped ? "ok" : "fail") << std::endl;
  } else {
    std::cout << "fail" << std::endl;
  }
}

}  // namespace

int main() {
  jw::TFileHandler handler;
  return jw::test_support::RunCommandLoop(
      [&handler](const std::string& command, std::istringstream& args) {
        Run(handler, command, args);
      });
}
