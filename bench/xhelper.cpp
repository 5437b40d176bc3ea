// The benchmark's X client.
//
//   xhelper paint TITLE X Y RRGGBB SINCE TIMEOUT_S
//       waits for a viewable top-level window titled TITLE whose pixel X,Y has
//       the colour RRGGBB (hex), polling every millisecond; prints its id and
//       the milliseconds from SINCE (wall-clock seconds, as bash's
//       EPOCHREALTIME gives them) to that moment.
//   xhelper close WINDOW
//       asks the window to close, as a window manager does (WM_DELETE_WINDOW).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace
{

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string property(Display *display, Window window, Atom name)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0, left = 0;
    unsigned char *data = nullptr;
    std::string text;
    if (XGetWindowProperty(display, window, name, 0, 1024, False, AnyPropertyType, &type, &format,
                           &items, &left, &data) == Success &&
        data != nullptr) {
        if (format == 8) text.assign(reinterpret_cast<const char *>(data), items);
        XFree(data);
    }
    return text;
}

std::string title(Display *display, Window window)
{
    static const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    std::string text = property(display, window, netName);
    return text.empty() ? property(display, window, XA_WM_NAME) : text;
}

// A viewable top-level window with the title, or None.
Window find(Display *display, const char *wanted)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    Window found = None;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0)
        return None;
    for (unsigned int i = 0; i < count && found == None; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes) == 0 ||
            attributes.map_state != IsViewable)
            continue;
        if (title(display, children[i]) == wanted) found = children[i];
    }
    if (children != nullptr) XFree(children);
    return found;
}

int ignoreErrors(Display *, XErrorEvent *)
{
    return 0; // a window may go between listing and asking
}

int paint(Display *display, int argc, char **argv)
{
    if (argc != 8) return 2;
    const char *wanted = argv[2];
    const int x = std::atoi(argv[3]);
    const int y = std::atoi(argv[4]);
    const unsigned long colour = std::strtoul(argv[5], nullptr, 16);
    const double since = std::strtod(argv[6], nullptr);
    const double deadline = wallSeconds() + std::strtod(argv[7], nullptr);
    XSetErrorHandler(ignoreErrors);
    while (wallSeconds() < deadline) {
        const Window window = find(display, wanted);
        if (window != None) {
            XImage *image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
            if (image != nullptr) {
                const unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
                XDestroyImage(image);
                if (pixel == colour) {
                    std::printf("%lu %.1f\n", window, (wallSeconds() - since) * 1000.0);
                    return 0;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::fprintf(stderr, "xhelper: no painted window \"%s\"\n", wanted);
    return 1;
}

int closeWindow(Display *display, int argc, char **argv)
{
    if (argc != 3) return 2;
    const Window window = std::strtoul(argv[2], nullptr, 0);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "xhelper: cannot open the display\n");
        return 1;
    }
    int status = 2;
    if (argc >= 2 && std::strcmp(argv[1], "paint") == 0)
        status = paint(display, argc, argv);
    else if (argc >= 2 && std::strcmp(argv[1], "close") == 0)
        status = closeWindow(display, argc, argv);
    else
        std::fprintf(stderr, "usage: xhelper paint TITLE X Y RRGGBB SINCE TIMEOUT_S\n"
                             "       xhelper close WINDOW\n");
    XCloseDisplay(display);
    return status;
}
