// TSessionEndWatch: the ways the program is ended from outside (SIGTERM,
// SIGINT, SIGHUP, and the desktop session manager's request to save before
// the session ends) become one call on the GUI thread, so the program can
// close as its own "Exit" does and keep its notes and settings. The signal
// handler only writes a byte to a pipe; the event loop reads it.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace jw {

class TSessionEndWatch {
 public:
  // One watch per process, made after the application object.
  explicit TSessionEndWatch(std::function<void()> on_end);
  // Gives the signals their default handling back.
  ~TSessionEndWatch();
  TSessionEndWatch(const TSessionEndWatch&) = delete;
  TSessionEndWatch& operator=(const TSessionEndWatch&) = delete;

 private:
  // Runs on_end_ unless it is running already: a second request while the
  // first one asks the user a question is the same request.
  void End();

  std::function<void()> on_end_;
  bool ending_ = false;
  int pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace jw
