// Shows one note window on a real X display for run_e2e.sh, prints what the
// script checks the screen against, and answers commands on stdin:
// "message" prints the note's text, "stack <n>" shows n more notes at once,
// "quit" (or the end of input) ends the run.
//
//   jw_show_note <paper file> <left> <top>
//
// Output, one item a line:
//   window <X window id in hex>
//   rect <left> <top> <right> <bottom>   the shape the picture component cut,
//                                        in window coordinates
//   paper <x> <y> <rrggbb>               an opaque point and its paper colour;
//                                        the 41 x 41 pixels around it are all
//                                        inside the outline
//   ready
//   message <the note's text>            for each "message" and at the end
//   stacked <X window ids in hex>        for "stack", bottom to top
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>

#include "app/scrap_form.h"
#include "app/settings.h"
#include "platform/gui/application.h"

namespace jw {
namespace {

// How far around the probe point the outline reaches at least.
constexpr int kProbeReach = 20;

// The lowest point of the outline's centre line in its lower half, away
// from the text, which starts at the top, with room around it to press and
// drag.
TPoint OpaqueProbe(const TRegion& shape) {
  const TRect box = shape.BoundingBox();
  const int x = (box.Left + box.Right) / 2;
  for (int y = box.Bottom - kProbeReach - 1; y >= box.Top + box.Height() / 2; --y) {
    const TRegion room(
        TRect{x - kProbeReach, y - kProbeReach, x + kProbeReach + 1, y + kProbeReach + 1});
    if (room.Difference(shape).IsEmpty()) return {x, y};
  }
  throw Exception("the paper has no room to press in its lower half");
}

int ShowNote(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <paper file> <left> <top>\n", argv[0]);
    return 2;
  }
  TApplication app(argc, argv);
  app.SetTitle("Jotterwick");
  ScrapSettings = TScrapSettings();
  ScrapSettings.DefaultFontDesc = "DejaVu Sans,14,0";
  std::unique_ptr<TScrapForm> form(MakeForm<TScrapForm>(nullptr));
  form->PaperFile = argv[1];
  form->RebuildShape();
  form->SetLeft(std::atoi(argv[2]));
  form->SetTop(std::atoi(argv[3]));
  form->Show();

  const std::optional<TRegion>& shape = form->sfImageForm1->Region();
  if (!shape) throw Exception("the note has no shape");
  std::printf("window 0x%llx\n", static_cast<unsigned long long>(form->Handle()->winId()));
  for (const TRect& r : shape->Rects())
    std::printf("rect %d %d %d %d\n", r.Left, r.Top, r.Right, r.Bottom);
  const TPoint probe = OpaqueProbe(*shape);
  const TColor colour = form->sfImageForm1->Picture().Bitmap().Canvas().Pixels(probe.X, probe.Y);
  std::printf("paper %d %d %02x%02x%02x\n", probe.X, probe.Y, colour & 0xFF, (colour >> 8) & 0xFF,
              (colour >> 16) & 0xFF);
  std::printf("ready\n");
  std::fflush(stdout);

  const auto print_message = [&] {
    std::printf("message %s\n", form->Message.c_str());
    std::fflush(stdout);
  };
  // More notes on the same paper, each further down and to the right, shown
  // together over the first; they close before the run ends, which then
  // leaves the first note alone on the screen as before.
  std::vector<std::unique_ptr<TScrapForm>> more;
  const auto stack_notes = [&](int count) {
    std::vector<TCustomForm*> bottom_to_top;
    for (int i = 0; i < count; ++i) {
      more.emplace_back(MakeForm<TScrapForm>(nullptr));
      more.back()->PaperFile = argv[1];
      more.back()->RebuildShape();
      more.back()->SetLeft(form->Left() + 30 * int(more.size()));
      more.back()->SetTop(form->Top() + 30 * int(more.size()));
      bottom_to_top.push_back(more.back().get());
    }
    TCustomForm::ShowStacked(bottom_to_top);
    std::printf("stacked");
    for (TCustomForm* note : bottom_to_top)
      std::printf(" 0x%llx", static_cast<unsigned long long>(note->Handle()->winId()));
    std::printf("\n");
    std::fflush(stdout);
  };
  std::string pending;
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char bytes[256];
    const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count <= 0) {
      input.setEnabled(false);
      more.clear();
      app.Terminate();
      return;
    }
    pending.append(bytes, size_t(count));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      const std::string command = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (command == "message") {
        print_message();
      } else if (command.rfind("stack ", 0) == 0) {
        stack_notes(std::atoi(command.c_str() + 6));
      } else if (command == "quit") {
        input.setEnabled(false);
        more.clear();
        app.Terminate();
        return;
      }
    }
  });
  app.Run();
  print_message();
  return 0;
}

}  // namespace
}  // namespace jw

int main(int argc, char** argv) {
  try {
    return jw::ShowNote(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "jw_show_note: %s\n", error.what());
    return 1;
  }
}
