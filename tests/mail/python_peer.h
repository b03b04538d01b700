// Runs the Python helpers of the mail tests (Debian's /usr/bin/python3, which
// sees the apt-installed modules): one-shot scripts whose output is compared,
// and peer processes that are started, read from and stopped by a test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace jw::test_support {

// The folder of the Python helpers, beside this header.
std::string HelperDir();

// A Python helper running as a child process with its standard output on a
// pipe. The destructor ends it (SIGKILL when it has not exited) and reaps it.
class PythonProcess {
 public:
  PythonProcess(const std::string& script, const std::vector<std::string>& args,
                const std::vector<std::string>& environment = {});
  ~PythonProcess();
  PythonProcess(const PythonProcess&) = delete;
  PythonProcess& operator=(const PythonProcess&) = delete;

  // One line of output without its line end; fails the test (and returns
  // empty) when none comes within timeout_ms.
  std::string ReadLine(int timeout_ms = 10000);
  // The rest of the output up to the process's exit, then its exit status.
  std::string ReadAll(int timeout_ms = 10000);
  int Wait(int timeout_ms = 10000);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

// Runs a helper to its end and returns its output; fails the test when it
// exits with an error.
std::string RunPython(const std::string& script, const std::vector<std::string>& args,
                      const std::vector<std::string>& environment = {});

}  // namespace jw::test_support
