// The whole program's start and exit with a desktop full of notes, as a
// user meets them: from exec until the last note window is mapped, and from
// the close request until the process has ended with every note saved. The
// program runs from a ready folder of its own whose notes table the build
// tool fills, on a private X server (Xvfb) without a window manager; the
// benchmark watches the server's map events itself. The close request is the
// session's end (SIGTERM), which closes the manager window as "Exit" does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

namespace jw {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr auto kPatience = std::chrono::seconds(30);

// Waits for a child for at most kPatience; its exit status, or -1 when it
// did not end (it is killed then) or ended by a signal.
int WaitForChild(pid_t pid) {
  const Clock::time_point give_up = Clock::now() + kPatience;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (Clock::now() > give_up) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// A private X server and the benchmark's connection to it, selected for the
// map events of every top-level window.
class XServer {
 public:
  XServer() {
    int display_pipe[2];
    if (pipe2(display_pipe, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(display_pipe[1], 3);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(display_pipe[1]);
    char number[32] = {};
    ssize_t got = 0;
    pollfd wanted{display_pipe[0], POLLIN, 0};
    while (pid_ > 0 && got < ssize_t(sizeof number - 1) && poll(&wanted, 1, 30000) > 0) {
      const ssize_t n = read(display_pipe[0], number + got, sizeof number - 1 - size_t(got));
      if (n <= 0) break;
      got += n;
      if (number[got - 1] == '\n') break;
    }
    close(display_pipe[0]);
    if (got == 0 || number[got - 1] != '\n') return;
    number[got - 1] = '\0';
    name_ = std::string(":") + number;
    display_ = XOpenDisplay(name_.c_str());
    if (display_ == nullptr) return;
    int error_base = 0;
    if (!XShapeQueryExtension(display_, &shape_event_base_, &error_base)) return;
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XSync(display_, True);
  }
  ~XServer() {
    if (display_ != nullptr) XCloseDisplay(display_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      WaitForChild(pid_);
    }
  }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool Ready() const { return display_ != nullptr && shape_event_base_ != 0; }
  const std::string& Name() const { return name_; }

  // Drops the events of earlier runs.
  void Forget() { XSync(display_, True); }

  // Waits until count distinct shaped top-level windows were mapped; false
  // when that did not happen in time.
  bool AwaitShapedMaps(size_t count) {
    std::set<Window> mapped;
    const Clock::time_point give_up = Clock::now() + kPatience;
    while (mapped.size() < count) {
      if (XPending(display_) == 0) {
        pollfd wanted{ConnectionNumber(display_), POLLIN, 0};
        if (Clock::now() > give_up || poll(&wanted, 1, 100) < 0) return false;
        continue;
      }
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == MapNotify && Shaped(event.xmap.window)) mapped.insert(event.xmap.window);
    }
    return true;
  }

 private:
  bool Shaped(Window window) {
    Bool bounding = False, clip = False;
    int x = 0, y = 0, clip_x = 0, clip_y = 0;
    unsigned width = 0, height = 0, clip_width = 0, clip_height = 0;
    return XShapeQueryExtents(display_, window, &bounding, &x, &y, &width, &height, &clip, &clip_x,
                              &clip_y, &clip_width, &clip_height) &&
           bounding;
  }

  pid_t pid_ = -1;
  std::string name_;
  Display* display_ = nullptr;
  int shape_event_base_ = 0;
};

XServer& Server() {
  static XServer server;
  return server;
}

// A ready folder in a temporary folder: the program, its papers, a notes
// table holding count notes and settings that keep the tips from showing.
class ReadyFolder {
 public:
  explicit ReadyFolder(int count) {
    std::string pattern = (fs::temp_directory_path() / "jw-program-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    fs::create_directories(folder_ / "data");
    fs::create_directories(folder_ / "runtime");
    fs::permissions(folder_ / "runtime", fs::perms::owner_all);
    fs::copy(JW_PAPER_DIR, folder_ / "paper");
    fs::copy_file(JW_PROGRAM, folder_ / "jotterwick");
    if (FILE* ini = std::fopen((folder_ / "jotterwick.INI").c_str(), "w")) {
      std::fputs("[Tips]\nShowAtStart=0\n", ini);
      std::fclose(ini);
    }
    const std::string data = (folder_ / "data").string();
    const std::string notes = std::to_string(count);
    const pid_t pid = fork();
    if (pid == 0) {
      execl(JW_MAKE_NOTES_TABLE, JW_MAKE_NOTES_TABLE, data.c_str(), notes.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    ready_ = pid > 0 && WaitForChild(pid) == 0;
  }
  ~ReadyFolder() {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }
  ReadyFolder(const ReadyFolder&) = delete;
  ReadyFolder& operator=(const ReadyFolder&) = delete;

  bool Ready() const { return ready_; }

  // Starts the program on the display; its output is dropped.
  pid_t Start(const std::string& display) const {
    const std::string program = (folder_ / "jotterwick").string();
    const std::string runtime = (folder_ / "runtime").string();
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("DISPLAY", display.c_str(), 1);
      setenv("QT_QPA_PLATFORM", "xcb", 1);
      setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }

 private:
  fs::path folder_;
  bool ready_ = false;
};

// One run of the program with count notes: the seconds from exec to the last
// note mapped and from the close request to the end, or none when the run
// failed.
struct RunTimes {
  double start = 0;
  double exit = 0;
};

std::optional<RunTimes> RunProgram(const ReadyFolder& ready, size_t count) {
  XServer& server = Server();
  server.Forget();
  const Clock::time_point exec_at = Clock::now();
  const pid_t pid = ready.Start(server.Name());
  if (pid <= 0) return std::nullopt;
  const bool shown = server.AwaitShapedMaps(count);
  const Clock::time_point mapped_at = Clock::now();
  // The program settles (the alarm check, the first paint of every note)
  // before the user reaches for "Exit".
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const Clock::time_point close_at = Clock::now();
  kill(pid, SIGTERM);
  const int status = WaitForChild(pid);
  const Clock::time_point ended_at = Clock::now();
  if (!shown || status != 0) return std::nullopt;
  return RunTimes{std::chrono::duration<double>(mapped_at - exec_at).count(),
                  std::chrono::duration<double>(ended_at - close_at).count()};
}

template <double RunTimes::*kPart>
void BM_Program(benchmark::State& state) {
  if (!Server().Ready()) {
    state.SkipWithError("no private X server (Xvfb with the SHAPE extension)");
    return;
  }
  const auto count = static_cast<int>(state.range(0));
  const ReadyFolder ready(count);
  if (!ready.Ready()) {
    state.SkipWithError("the ready folder could not be made");
    return;
  }
  // A first run reads the program, its libraries and fonts from disk, as a
  // user's earlier runs would have.
  if (!RunProgram(ready, size_t(count))) {
    state.SkipWithError("the program did not show its notes or did not end cleanly");
    return;
  }
  for (auto _ : state) {
    const std::optional<RunTimes> times = RunProgram(ready, size_t(count));
    if (!times) {
      state.SkipWithError("the program did not show its notes or did not end cleanly");
      return;
    }
    state.SetIterationTime((*times).*kPart);
  }
}

void BM_ProgramStartWithNotes(benchmark::State& state) {
  BM_Program<&RunTimes::start>(state);
}
void BM_ProgramExitWithNotes(benchmark::State& state) {
  BM_Program<&RunTimes::exit>(state);
}
BENCHMARK(BM_ProgramStartWithNotes)
    ->Arg(200)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramExitWithNotes)
    ->Arg(200)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace jw

BENCHMARK_MAIN();
