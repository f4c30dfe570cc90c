// Plays the one part of a window manager that Wine waits for, for
// scripts/wine-run.
//
// Wine maps a managed window and, before it unmaps it again, waits until a
// window manager has marked it mapped (WM_STATE NormalState); with none, as
// under bare Xvfb, it gives up after two seconds, so every dismissed
// message box would cost two seconds. This helper sets that mark on the
// window named by its argument, as a window manager would once it has
// mapped it. Wine ignores a window's first move out of the withdrawn state,
// so nothing else changes. Usage: velmora-wine-wm-state WINDOW_ID (the
// display comes from DISPLAY).
#include <X11/Xlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

// ICCCM's WM_STATE: the state, then the icon window (none).
constexpr long kNormalState = 1;
constexpr int kWmStateItems = 2;
constexpr int kItemBits = 32;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmora-wine-wm-state WINDOW_ID\n");
    return 2;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long window = std::strtoul(argv[1], &end, 0);
  if (errno != 0 || end == argv[1] || *end != '\0') {
    std::fprintf(stderr, "velmora-wine-wm-state: bad window id %s\n", argv[1]);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "velmora-wine-wm-state: cannot open the display\n");
    return 1;
  }
  const Atom wm_state = XInternAtom(display, "WM_STATE", False);
  // Xlib takes 32-bit items as longs.
  long state[kWmStateItems] = {kNormalState, None};
  XChangeProperty(display, window, wm_state, wm_state, kItemBits,
                  PropModeReplace, reinterpret_cast<unsigned char*>(state),
                  kWmStateItems);
  XSync(display, False);
  XCloseDisplay(display);
  return 0;
}
