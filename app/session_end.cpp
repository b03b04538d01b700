#include "app/session_end.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include "platform/gui/application.h"
#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end of the watch's pipe, for the handler.
volatile sig_atomic_t signal_pipe = -1;

void OnEndSignal(int) {
  const int saved_errno = errno;
  const char byte = 1;
  // A full pipe already holds a request the loop has not read yet.
  [[maybe_unused]] const ssize_t written = write(signal_pipe, &byte, 1);
  errno = saved_errno;
}

}  // namespace

TSessionEndWatch::TSessionEndWatch(std::function<void()> on_end) : on_end_(std::move(on_end)) {
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
    throw Exception("Cannot watch for the session end");
  signal_pipe = pipe_[1];
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    char bytes[16];
    while (read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    End();
  });
  struct sigaction action = {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : kEndSignals) sigaction(number, &action, nullptr);
  // The session manager asks each program to save before the session ends;
  // this one saves by closing, as the session is ending anyway.
  QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, notifier_.get(),
                   [this](QSessionManager&) { End(); });
}

TSessionEndWatch::~TSessionEndWatch() {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int number : kEndSignals) sigaction(number, &action, nullptr);
  signal_pipe = -1;
  notifier_.reset();
  close(pipe_[0]);
  close(pipe_[1]);
}

void TSessionEndWatch::End() {
  if (ending_) return;
  ending_ = true;
  CallGuarded(on_end_);
  ending_ = false;
}

}  // namespace jw
