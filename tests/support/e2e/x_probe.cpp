// Asks the X server directly what run_e2e.sh checks, independent of Qt:
//
//   jw_x_probe shape <window id>        the window's bounding shape as
//                                       "rect <left> <top> <right> <bottom>"
//                                       lines, or "unshaped"
//   jw_x_probe root-colour <rrggbb>     paints the root window in one colour
//   jw_x_probe owner <selection>        the window that owns the selection
//                                       (a tray host owns _NET_SYSTEM_TRAY_S0)
//                                       in hex, or "none"
//   jw_x_probe shaped-windows <class>   how many viewable windows of that
//                                       WM_CLASS (either part, any case) the
//                                       whole window tree holds that have a
//                                       bounding shape
//   jw_x_probe shaped-places <class>    the same windows' places on the
//                                       screen, one "<left> <top>" a line
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <X11/Xutil.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace jw {
namespace {

int PrintShape(Display* display, Window window) {
  int event_base = 0;
  int error_base = 0;
  if (!XShapeQueryExtension(display, &event_base, &error_base)) {
    std::fprintf(stderr, "jw_x_probe: the server has no SHAPE extension\n");
    return 1;
  }
  Bool bounding_shaped = False;
  Bool clip_shaped = False;
  int x = 0, y = 0, clip_x = 0, clip_y = 0;
  unsigned width = 0, height = 0, clip_width = 0, clip_height = 0;
  if (!XShapeQueryExtents(display, window, &bounding_shaped, &x, &y, &width, &height, &clip_shaped,
                          &clip_x, &clip_y, &clip_width, &clip_height)) {
    std::fprintf(stderr, "jw_x_probe: no window 0x%lx\n", window);
    return 1;
  }
  if (!bounding_shaped) {
    std::printf("unshaped\n");
    return 0;
  }
  int count = 0;
  int ordering = 0;
  XRectangle* rects = XShapeGetRectangles(display, window, ShapeBounding, &count, &ordering);
  for (int i = 0; i < count; ++i) {
    std::printf("rect %d %d %d %d\n", rects[i].x, rects[i].y, rects[i].x + rects[i].width,
                rects[i].y + rects[i].height);
  }
  if (rects != nullptr) XFree(rects);
  return 0;
}

bool IsShaped(Display* display, Window window) {
  Bool bounding_shaped = False;
  Bool clip_shaped = False;
  int x = 0, y = 0, clip_x = 0, clip_y = 0;
  unsigned width = 0, height = 0, clip_width = 0, clip_height = 0;
  return XShapeQueryExtents(display, window, &bounding_shaped, &x, &y, &width, &height,
                            &clip_shaped, &clip_x, &clip_y, &clip_width, &clip_height) &&
         bounding_shaped;
}

bool OfClass(Display* display, Window window, const char* name) {
  XClassHint hint{};
  if (!XGetClassHint(display, window, &hint)) return false;
  const bool match = (hint.res_name != nullptr && strcasecmp(hint.res_name, name) == 0) ||
                     (hint.res_class != nullptr && strcasecmp(hint.res_class, name) == 0);
  if (hint.res_name != nullptr) XFree(hint.res_name);
  if (hint.res_class != nullptr) XFree(hint.res_class);
  return match;
}

// Walks the tree breadth first and hands each viewable shaped window of the
// class to the visitor; a window that goes away meanwhile is left out.
template <typename Visit>
int ForEachShapedWindow(Display* display, const char* name, Visit visit) {
  int event_base = 0;
  int error_base = 0;
  if (!XShapeQueryExtension(display, &event_base, &error_base)) {
    std::fprintf(stderr, "jw_x_probe: the server has no SHAPE extension\n");
    return 1;
  }
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  std::vector<Window> pending{DefaultRootWindow(display)};
  for (size_t next = 0; next < pending.size(); ++next) {
    const Window window = pending[next];
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned child_count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &child_count)) {
      pending.insert(pending.end(), children, children + child_count);
      if (children != nullptr) XFree(children);
    }
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable &&
        OfClass(display, window, name) && IsShaped(display, window))
      visit(window);
  }
  return 0;
}

int CountShapedWindows(Display* display, const char* name) {
  long count = 0;
  const int result = ForEachShapedWindow(display, name, [&](Window) { ++count; });
  if (result == 0) std::printf("%ld\n", count);
  return result;
}

int PrintShapedPlaces(Display* display, const char* name) {
  const Window root = DefaultRootWindow(display);
  return ForEachShapedWindow(display, name, [&](Window window) {
    int left = 0, top = 0;
    Window child = 0;
    if (XTranslateCoordinates(display, window, root, 0, 0, &left, &top, &child)) {
      std::printf("%d %d\n", left, top);
    }
  });
}

int PaintRoot(Display* display, const char* rrggbb) {
  XColor colour{};
  char spec[16];
  std::snprintf(spec, sizeof spec, "#%.6s", rrggbb);
  const Colormap map = DefaultColormap(display, DefaultScreen(display));
  if (std::strlen(rrggbb) != 6 || !XParseColor(display, map, spec, &colour) ||
      !XAllocColor(display, map, &colour)) {
    std::fprintf(stderr, "jw_x_probe: cannot use colour %s\n", rrggbb);
    return 1;
  }
  const Window root = DefaultRootWindow(display);
  XSetWindowBackground(display, root, colour.pixel);
  XClearWindow(display, root);
  XSync(display, False);
  return 0;
}

int PrintOwner(Display* display, const char* selection) {
  const Atom atom = XInternAtom(display, selection, False);
  const Window owner = XGetSelectionOwner(display, atom);
  if (owner == None) {
    std::printf("none\n");
  } else {
    std::printf("0x%lx\n", owner);
  }
  return 0;
}

int Probe(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr,
                 "usage: %s shape <window id> | root-colour <rrggbb> | owner <selection> | "
                 "shaped-windows <class> | shaped-places <class>\n",
                 argv[0]);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "jw_x_probe: cannot open the display\n");
    return 1;
  }
  int result = 2;
  if (std::strcmp(argv[1], "shape") == 0) {
    result = PrintShape(display, std::strtoul(argv[2], nullptr, 0));
  } else if (std::strcmp(argv[1], "root-colour") == 0) {
    result = PaintRoot(display, argv[2]);
  } else if (std::strcmp(argv[1], "owner") == 0) {
    result = PrintOwner(display, argv[2]);
  } else if (std::strcmp(argv[1], "shaped-windows") == 0) {
    result = CountShapedWindows(display, argv[2]);
  } else if (std::strcmp(argv[1], "shaped-places") == 0) {
    result = PrintShapedPlaces(display, argv[2]);
  } else {
    std::fprintf(stderr, "jw_x_probe: unknown command %s\n", argv[1]);
  }
  XCloseDisplay(display);
  return result;
}

}  // namespace
}  // namespace jw

int main(int argc, char** argv) {
  return jw::Probe(argc, argv);
}
