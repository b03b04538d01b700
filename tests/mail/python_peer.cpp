#include "tests/mail/python_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

namespace jw::test_support {

std::string HelperDir() {
  const char* source = std::getenv("JW_SOURCE_DIR");
  if (source != nullptr && *source) return std::string(source) + "/tests/mail";
  return std::filesystem::path(__FILE__).parent_path().string();
}

PythonProcess::PythonProcess(const std::string& script, const std::vector<std::string>& args,
                             const std::vector<std::string>& environment) {
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  std::vector<std::string> argv_text = {"/usr/bin/python3", HelperDir() + "/" + script};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The child gets this process's environment with the given entries in
  // front, built before fork so the child only calls exec.
  std::vector<std::string> env_text = environment;
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
  envp.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(pipe_ends[1], 1);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(pipe_ends[1]);
  out_ = pipe_ends[0];
}

PythonProcess::~PythonProcess() {
  if (out_ >= 0) close(out_);
  if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::string PythonProcess::ReadLine(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    pollfd entry{out_, POLLIN, 0};
    if (left <= 0 || poll(&entry, 1, static_cast<int>(left)) <= 0) {
      ADD_FAILURE() << "no line from the Python helper in time";
      return std::string();
    }
    char chunk[4096];
    ssize_t got = read(out_, chunk, sizeof chunk);
    if (got <= 0) {
      ADD_FAILURE() << "the Python helper ended without the line";
      return std::string();
    }
    pending_.append(chunk, static_cast<size_t>(got));
  }
}

std::string PythonProcess::ReadAll(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string all = std::move(pending_);
  pending_.clear();
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    pollfd entry{out_, POLLIN, 0};
    if (left <= 0 || poll(&entry, 1, static_cast<int>(left)) <= 0) {
      ADD_FAILURE() << "the Python helper did not finish in time";
      return all;
    }
    char chunk[65536];
    ssize_t got = read(out_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return all;
    all.append(chunk, static_cast<size_t>(got));
  }
}

int PythonProcess::Wait(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the Python helper did not exit in time";
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string RunPython(const std::string& script, const std::vector<std::string>& args,
                      const std::vector<std::string>& environment) {
  PythonProcess process(script, args, environment);
  std::string output = process.ReadAll(60000);
  EXPECT_EQ(process.Wait(), 0) << script << " failed";
  return output;
}

}  // namespace jw::test_support
