// quillmark-close-request: asks an X11 window to close, as a window manager's close box does: a
// WM_PROTOCOLS client message carrying WM_DELETE_WINDOW. The window's program decides what happens
// (the main dialog applies its close rule); nothing is destroyed by force.
//
//   quillmark-close-request WINDOW      (the window id, decimal or 0x-hexadecimal)
//
// Uses $DISPLAY. Exits 0 once the request has reached the X server; 1 when the window does not
// take close requests or the display cannot be opened; 2 for a wrong command line.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

bool bad_window = false;

int note_error(Display*, XErrorEvent* event) {
  if (event->error_code == BadWindow) bad_window = true;
  return 0;
}

// True when the window lists WM_DELETE_WINDOW among its protocols.
bool takes_close_requests(Display* display, Window window, Atom delete_window) {
  Atom* protocols = nullptr;
  int count = 0;
  bool found = false;
  if (XGetWMProtocols(display, window, &protocols, &count) != 0) {
    for (int i = 0; i < count; ++i) found = found || protocols[i] == delete_window;
    XFree(protocols);
  }
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quillmark-close-request WINDOW\n");
    return 2;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long id = std::strtoul(argv[1], &end, 0);
  if (errno != 0 || end == argv[1] || *end != '\0' || id == 0) {
    std::fprintf(stderr, "quillmark-close-request: not a window id: %s\n", argv[1]);
    return 2;
  }

  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "quillmark-close-request: cannot open display %s\n",
                 XDisplayName(nullptr));
    return 1;
  }
  XSetErrorHandler(note_error);
  const Window window = static_cast<Window>(id);
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom delete_window = XInternAtom(display, "WM_DELETE_WINDOW", False);
  const bool accepted = takes_close_requests(display, window, delete_window);
  XSync(display, False);
  if (bad_window || !accepted) {
    std::fprintf(stderr, "quillmark-close-request: window 0x%lx %s\n", id,
                 bad_window ? "does not exist" : "takes no close requests");
    XCloseDisplay(display);
    return 1;
  }

  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = protocols;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(delete_window);
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  const bool sent = !bad_window;
  XCloseDisplay(display);
  return sent ? 0 : 1;
}
