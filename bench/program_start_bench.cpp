// The whole program's start and exit with a desktop full of notes, as a
// user meets them: from exec until the last note window is mapped, and from
// the close request until the process has ended with every note saved; and,
// under a window manager (openbox), the start and showing every note again
// after the tray icon hid them. The program runs from a ready folder of its
// own whose notes table the build tool fills, on a private X server (Xvfb);
// the benchmark watches the server's map events itself and clicks with
// xdotool. The close request is the session's end (SIGTERM), which closes
// the manager window as "Exit" does. Beside the wall time each benchmark
// reports the processor time the X server, the window manager and the
// program spent in the part measured, as these share the machine.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <strings.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

namespace jw {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr auto kPatience = std::chrono::seconds(30);

// Waits for a child for at most kPatience; its exit status, or -1 when it
// did not end (it is killed then) or ended by a signal. The child's
// resource use goes to usage when given.
int WaitForChild(pid_t pid, rusage* usage = nullptr) {
  const Clock::time_point give_up = Clock::now() + kPatience;
  for (;;) {
    int status = 0;
    const pid_t done = wait4(pid, &status, WNOHANG, usage);
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

// The processor time (user and system) a running process has spent, in
// seconds; 0 when it cannot be read.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (pid <= 0 || !std::getline(stat, line)) return 0;
  // The fields after the command name, which may hold blanks, begin with
  // the state (field 3); utime and stime are fields 14 and 15.
  const size_t name_end = line.rfind(')');
  if (name_end == std::string::npos) return 0;
  std::istringstream fields(line.substr(name_end + 1));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  unsigned long long user = 0, system = 0;
  if (!(fields >> user >> system)) return 0;
  return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

double Seconds(const timeval& time) {
  return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

// Runs a command and waits for it; true when it ended with status 0.
bool RunCommand(const char* const* argv, const std::string& display) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  return pid > 0 && WaitForChild(pid) == 0;
}

// A private X server, with openbox managing its windows or none, and the
// benchmark's connection to it. The benchmark follows every top-level window
// of the program through the window's own structure events, which reach it
// wherever a window manager puts the window.
class XServer {
 public:
  explicit XServer(bool window_manager) {
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
    // Windows go away between an event and the question about them.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XSync(display_, True);
    ready_ = !window_manager || StartWindowManager();
  }
  ~XServer() {
    if (display_ != nullptr) XCloseDisplay(display_);
    for (const pid_t pid : {wm_pid_, pid_}) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      WaitForChild(pid);
    }
    if (!wm_home_.empty()) {
      std::error_code ignored;
      fs::remove_all(wm_home_, ignored);
    }
  }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Name() const { return name_; }
  double ServerCpuSeconds() const { return CpuSeconds(pid_); }
  // 0 without a window manager.
  double WindowManagerCpuSeconds() const { return CpuSeconds(wm_pid_); }

  // Forgets the windows of earlier runs.
  void Forget() {
    Pump();
    notes_.clear();
    icon_ = 0;
  }
  size_t NotesMapped() const { return notes_.size(); }

  // Follows the program's windows until the condition holds; false when it
  // did not in time.
  template <typename Condition>
  bool AwaitWindows(Condition condition) {
    const Clock::time_point give_up = Clock::now() + kPatience;
    for (;;) {
      Pump();
      if (condition()) return true;
      pollfd wanted{ConnectionNumber(display_), POLLIN, 0};
      if (Clock::now() > give_up || poll(&wanted, 1, 100) < 0) return false;
    }
  }

  // A left click on the program's tray icon (its stand-in window, as the
  // server has no tray host); false when there is no icon.
  bool ClickIcon() {
    if (icon_ == 0) return false;
    int x = 0, y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(display_, icon_, DefaultRootWindow(display_), 4, 4, &x, &y, &child))
      return false;
    const std::string at_x = std::to_string(x), at_y = std::to_string(y);
    const char* const argv[] = {"xdotool", "mousemove", at_x.c_str(), at_y.c_str(),
                                "click",   "1",         nullptr};
    return RunCommand(argv, name_);
  }

 private:
  bool StartWindowManager() {
    std::string pattern = (fs::temp_directory_path() / "jw-bench-wm-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return false;
    wm_home_ = pattern;
    wm_pid_ = fork();
    if (wm_pid_ == 0) {
      setenv("DISPLAY", name_.c_str(), 1);
      setenv("HOME", wm_home_.c_str(), 1);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
      _exit(127);
    }
    const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
    const Clock::time_point give_up = Clock::now() + kPatience;
    while (wm_pid_ > 0 && Clock::now() < give_up) {
      Atom type = 0;
      int format = 0;
      unsigned long items = 0, left = 0;
      unsigned char* value = nullptr;
      if (XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False, XA_WINDOW,
                             &type, &format, &items, &left, &value) == Success &&
          value != nullptr) {
        XFree(value);
        if (items == 1) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Handles the events that have come.
  void Pump() {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      switch (event.type) {
        case CreateNotify:
          // Before the window manager takes the window in: from now on
          // its own maps and unmaps are told to it.
          if (event.xcreatewindow.parent == DefaultRootWindow(display_))
            XSelectInput(display_, event.xcreatewindow.window, StructureNotifyMask);
          break;
        case MapNotify:
          if (event.xmap.event == event.xmap.window) Mapped(event.xmap.window);
          break;
        case UnmapNotify:
          if (event.xunmap.event == event.xunmap.window) notes_.erase(event.xunmap.window);
          break;
        default:
          break;
      }
    }
  }

  // A mapped window of the program is a note when shaped, and the icon's
  // stand-in otherwise.
  void Mapped(Window window) {
    XClassHint hint{};
    if (!XGetClassHint(display_, window, &hint)) return;
    const bool ours = hint.res_class != nullptr && strcasecmp(hint.res_class, "jotterwick") == 0;
    if (hint.res_name != nullptr) XFree(hint.res_name);
    if (hint.res_class != nullptr) XFree(hint.res_class);
    if (!ours) return;
    if (Shaped(window)) {
      notes_.insert(window);
    } else {
      icon_ = window;
    }
  }

  bool Shaped(Window window) {
    Bool bounding = False, clip = False;
    int x = 0, y = 0, clip_x = 0, clip_y = 0;
    unsigned width = 0, height = 0, clip_width = 0, clip_height = 0;
    return XShapeQueryExtents(display_, window, &bounding, &x, &y, &width, &height, &clip, &clip_x,
                              &clip_y, &clip_width, &clip_height) &&
           bounding;
  }

  pid_t pid_ = -1;
  pid_t wm_pid_ = -1;
  fs::path wm_home_;
  std::string name_;
  Display* display_ = nullptr;
  int shape_event_base_ = 0;
  bool ready_ = false;
  std::set<Window> notes_;
  Window icon_ = 0;
};

XServer& Server(bool window_manager) {
  static XServer bare(false);
  static XServer managed(true);
  return window_manager ? managed : bare;
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

// The wall time of a part of a run and the processor time each process
// spent in it, in seconds.
struct PartTimes {
  double wall = 0;
  double server_cpu = 0;
  double window_manager_cpu = 0;
  double program_cpu = 0;
};

// One run of the program with count notes: from exec to the last note
// mapped, from the second of two left clicks on the tray icon (the first
// hides every note) to the last note mapped again, and from the close
// request to the end; none when the run failed.
struct RunTimes {
  PartTimes start;
  PartTimes show_all;
  PartTimes exit;
};

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Measures a part of a run: Begin when it starts, End when it is over.
class PartClock {
 public:
  explicit PartClock(const XServer& server) : server_(server) {}

  void Begin(double program_cpu) {
    at_ = Clock::now();
    server_cpu_ = server_.ServerCpuSeconds();
    window_manager_cpu_ = server_.WindowManagerCpuSeconds();
    program_cpu_ = program_cpu;
  }
  PartTimes End(double program_cpu) const {
    return {Seconds(at_, Clock::now()), server_.ServerCpuSeconds() - server_cpu_,
            server_.WindowManagerCpuSeconds() - window_manager_cpu_, program_cpu - program_cpu_};
  }

 private:
  const XServer& server_;
  Clock::time_point at_;
  double server_cpu_ = 0;
  double window_manager_cpu_ = 0;
  double program_cpu_ = 0;
};

std::optional<RunTimes> RunProgram(bool window_manager, const ReadyFolder& ready, size_t count,
                                   bool show_all) {
  XServer& server = Server(window_manager);
  server.Forget();
  RunTimes times;
  PartClock part(server);
  part.Begin(0);
  const pid_t pid = ready.Start(server.Name());
  if (pid <= 0) return std::nullopt;
  bool shown = server.AwaitWindows([&] { return server.NotesMapped() == count; });
  times.start = part.End(CpuSeconds(pid));
  // The program settles (the alarm check, the first paint of every note)
  // before the user reaches for the icon or "Exit".
  std::this_thread::sleep_for(std::chrono::seconds(1));
  if (shown && show_all) {
    shown = server.ClickIcon() && server.AwaitWindows([&] { return server.NotesMapped() == 0; });
    // Apart enough not to make a double click.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    part.Begin(CpuSeconds(pid));
    shown = shown && server.ClickIcon() &&
            server.AwaitWindows([&] { return server.NotesMapped() == count; });
    times.show_all = part.End(CpuSeconds(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  part.Begin(CpuSeconds(pid));
  kill(pid, SIGTERM);
  rusage usage{};
  const int status = WaitForChild(pid, &usage);
  times.exit = part.End(Seconds(usage.ru_utime) + Seconds(usage.ru_stime));
  if (!shown || status != 0) return std::nullopt;
  return times;
}

// Counts a measured part of a run: its wall time is the iteration's, its
// processor times go to the sums.
void AddRun(benchmark::State& state, PartTimes& sums, const PartTimes& part) {
  state.SetIterationTime(part.wall);
  sums.server_cpu += part.server_cpu;
  sums.window_manager_cpu += part.window_manager_cpu;
  sums.program_cpu += part.program_cpu;
}

// The processor times, in milliseconds per run, beside the wall time.
void ReportCpu(benchmark::State& state, const PartTimes& sums, bool window_manager) {
  const auto per_run = [](double seconds) {
    return benchmark::Counter(seconds * 1000, benchmark::Counter::kAvgIterations);
  };
  state.counters["server_cpu_ms"] = per_run(sums.server_cpu);
  if (window_manager) state.counters["wm_cpu_ms"] = per_run(sums.window_manager_cpu);
  state.counters["program_cpu_ms"] = per_run(sums.program_cpu);
}

template <PartTimes RunTimes::*kPart, bool kWindowManager>
void BM_Program(benchmark::State& state) {
  if (!Server(kWindowManager).Ready()) {
    state.SkipWithError(kWindowManager ? "no private X server with openbox"
                                       : "no private X server (Xvfb with the SHAPE extension)");
    return;
  }
  const auto count = static_cast<int>(state.range(0));
  const ReadyFolder ready(count);
  if (!ready.Ready()) {
    state.SkipWithError("the ready folder could not be made");
    return;
  }
  const bool show_all = kPart == &RunTimes::show_all;
  // A first run reads the program, its libraries and fonts from disk, as a
  // user's earlier runs would have.
  if (!RunProgram(kWindowManager, ready, size_t(count), show_all)) {
    state.SkipWithError("the program did not show its notes or did not end cleanly");
    return;
  }
  PartTimes cpu;
  for (auto _ : state) {
    const std::optional<RunTimes> times =
        RunProgram(kWindowManager, ready, size_t(count), show_all);
    if (!times) {
      state.SkipWithError("the program did not show its notes or did not end cleanly");
      return;
    }
    AddRun(state, cpu, (*times).*kPart);
  }
  ReportCpu(state, cpu, kWindowManager);
}

// A bare client that shows the notes' windows and nothing else: as many
// shaped, undecorated utility windows, transient for a leader of their own,
// at the notes' places, mapped straight through Xlib with a round trip each
// as the toolkit does. What the server and the window manager take to show
// it is the least the program's show can take.
class BareWindows {
 public:
  BareWindows(const std::string& display, int count) {
    display_ = XOpenDisplay(display.c_str());
    if (display_ == nullptr) return;
    const Window root = DefaultRootWindow(display_);
    const Window leader = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);
    const Atom type = XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False);
    const Atom utility = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_UTILITY", False);
    const Atom motif = XInternAtom(display_, "_MOTIF_WM_HINTS", False);
    const Atom user_time = XInternAtom(display_, "_NET_WM_USER_TIME", False);
    constexpr int kWidth = 237, kHeight = 249;
    const Pixmap mask = XCreatePixmap(display_, root, kWidth, kHeight, 1);
    const GC gc = XCreateGC(display_, mask, 0, nullptr);
    XSetForeground(display_, gc, 0);
    XFillRectangle(display_, mask, gc, 0, 0, kWidth, kHeight);
    XSetForeground(display_, gc, 1);
    XFillArc(display_, mask, gc, 0, 0, kWidth, kHeight, 0, 360 * 64);
    // As the build tool places the notes.
    for (int i = 0; i < count; ++i) {
      XSetWindowAttributes attributes{};
      attributes.background_pixel = 0xfff080;
      attributes.event_mask = StructureNotifyMask;
      const int x = i % 20 * 40 % 1000, y = (i / 20) * 40 % 720;
      const Window window =
          XCreateWindow(display_, root, x, y, kWidth, kHeight, 0, CopyFromParent, InputOutput,
                        CopyFromParent, CWBackPixel | CWEventMask, &attributes);
      XSizeHints size{};
      size.flags = USPosition | PPosition | PSize;
      size.x = x;
      size.y = y;
      size.width = kWidth;
      size.height = kHeight;
      XSetWMNormalHints(display_, window, &size);
      XWMHints hints{};
      hints.flags = InputHint | WindowGroupHint;
      hints.input = True;
      hints.window_group = leader;
      XSetWMHints(display_, window, &hints);
      XSetTransientForHint(display_, window, leader);
      XChangeProperty(display_, window, type, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&utility), 1);
      const long no_decorations[5] = {2, 0, 0, 0, 0};
      XChangeProperty(display_, window, motif, motif, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(no_decorations), 5);
      const long never = 0;
      XChangeProperty(display_, window, user_time, XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&never), 1);
      XShapeCombineMask(display_, window, ShapeBounding, 0, 0, mask, ShapeSet);
      windows_.push_back(window);
    }
    XFreeGC(display_, gc);
    XFreePixmap(display_, mask);
    XSync(display_, False);
  }
  ~BareWindows() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  BareWindows(const BareWindows&) = delete;
  BareWindows& operator=(const BareWindows&) = delete;

  bool Ready() const { return display_ != nullptr; }

  // Maps every window, the bottom one first and each raised, as the
  // program shows its notes; false when they were not all mapped in time.
  bool MapAll() {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
      XRaiseWindow(display_, *it);
      XMapWindow(display_, *it);
      XSync(display_, False);
    }
    return Await(MapNotify);
  }
  bool UnmapAll() {
    for (const Window window : windows_) XUnmapWindow(display_, window);
    XFlush(display_);
    return Await(UnmapNotify);
  }

 private:
  // Waits for the event of that type on every window.
  bool Await(int type) {
    const Clock::time_point give_up = Clock::now() + kPatience;
    size_t seen = 0;
    while (seen < windows_.size()) {
      while (seen < windows_.size() && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == type) ++seen;
      }
      pollfd wanted{ConnectionNumber(display_), POLLIN, 0};
      if (seen < windows_.size() && (Clock::now() > give_up || poll(&wanted, 1, 100) < 0))
        return false;
    }
    return true;
  }

  Display* display_ = nullptr;
  std::vector<Window> windows_;
};

// Showing the bare client's windows again after hiding them, under openbox;
// its processor time is reported as the program's.
void BM_ShowBareWindowsUnderWindowManager(benchmark::State& state) {
  XServer& server = Server(true);
  if (!server.Ready()) {
    state.SkipWithError("no private X server with openbox");
    return;
  }
  server.Forget();
  BareWindows windows(server.Name(), static_cast<int>(state.range(0)));
  if (!windows.Ready() || !windows.MapAll()) {
    state.SkipWithError("the bare windows were not shown");
    return;
  }
  PartTimes cpu;
  PartClock part(server);
  for (auto _ : state) {
    const bool hidden = windows.UnmapAll();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    part.Begin(CpuSeconds(getpid()));
    if (!hidden || !windows.MapAll()) {
      state.SkipWithError("the bare windows were not shown");
      return;
    }
    AddRun(state, cpu, part.End(CpuSeconds(getpid())));
  }
  ReportCpu(state, cpu, true);
}

void BM_ProgramStartWithNotes(benchmark::State& state) {
  BM_Program<&RunTimes::start, false>(state);
}
void BM_ProgramExitWithNotes(benchmark::State& state) {
  BM_Program<&RunTimes::exit, false>(state);
}
// Under a window manager, which takes every note into a frame of its own.
void BM_ProgramStartUnderWindowManager(benchmark::State& state) {
  BM_Program<&RunTimes::start, true>(state);
}
void BM_ShowAllNotesUnderWindowManager(benchmark::State& state) {
  BM_Program<&RunTimes::show_all, true>(state);
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
BENCHMARK(BM_ProgramStartUnderWindowManager)
    ->Arg(250)
    ->Arg(500)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowAllNotesUnderWindowManager)
    ->Arg(250)
    ->Arg(500)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowBareWindowsUnderWindowManager)
    ->Arg(250)
    ->Arg(500)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace jw

BENCHMARK_MAIN();
