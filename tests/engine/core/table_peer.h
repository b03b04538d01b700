// The table helper (table_helper/table_helper.cpp) as a second process,
// started with exec: one command, one answer line.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/piped_child.h"

namespace jw::test {

class Peer {
 public:
  Peer() : child_(JW_TABLE_HELPER, "table_helper") { ready_ = Line() == "ready"; }
  ~Peer() {
    if (line_ != nullptr) std::free(line_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool Ready() const { return ready_; }
  void Send(const std::string& command) {
    std::fputs((command + "\n").c_str(), child_.In());
    std::fflush(child_.In());
  }
  std::string Line() {
    const ssize_t length = getline(&line_, &capacity_, child_.Out());
    if (length <= 0) return "<gone>";
    return std::string(line_, static_cast<size_t>(length) - (line_[length - 1] == '\n' ? 1 : 0));
  }
  std::string Ask(const std::string& command) {
    Send(command);
    return Line();
  }
  void Kill() { child_.Kill(); }

 private:
  test_support::PipedChild child_;
  bool ready_ = false;
  char* line_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace jw::test
