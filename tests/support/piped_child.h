// A second process for tests, started with exec, whose standard input and
// output are pipes to the test: the test writes commands to In() and reads
// replies from Out().
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace jw::test_support {

class PipedChild {
 public:
  // Runs the program at path with argv[0] name; environment_name, when
  // given, is set to environment_value in the child's environment.
  PipedChild(const char* path, const char* name, const char* environment_name = nullptr,
             const std::string& environment_value = std::string()) {
    int to_child[2];
    int from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(to_child[0], 0);
      dup2(from_child[1], 1);
      if (environment_name != nullptr) setenv(environment_name, environment_value.c_str(), 1);
      execl(path, name, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    in_ = fdopen(to_child[1], "w");
    out_ = fdopen(from_child[0], "r");
  }
  // Ends the child's input, then waits for it to end.
  ~PipedChild() {
    if (in_ != nullptr) fclose(in_);
    if (out_ != nullptr) fclose(out_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  PipedChild(const PipedChild&) = delete;
  PipedChild& operator=(const PipedChild&) = delete;

  FILE* In() const { return in_; }
  FILE* Out() const { return out_; }

  // Ends the child at once, as a crash would.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  FILE* in_ = nullptr;
  FILE* out_ = nullptr;
};

}  // namespace jw::test_support
