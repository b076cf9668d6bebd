// Acts on a top-level window, found by its title, the way a user or a window
// manager would:
//
//   lumarok-xsend [-display NAME] TITLE wait SECONDS   until the window is viewable
//   lumarok-xsend [-display NAME] TITLE key KEYSYM     press and release a key (q, Escape)
//   lumarok-xsend [-display NAME] TITLE close          ask it to close (WM_DELETE_WINDOW)
//   lumarok-xsend [-display NAME] TITLE resize W H     give it a new size
//
// Exits 0 on success, 1 when the window is not there, 2 on bad usage.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

bool hasTitle(Display* display, Window window, const std::string& title) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) == 0 || name == nullptr) {
        return false;
    }
    const bool same = title == name;
    XFree(name);
    return same;
}

// Without a window manager the program's window is a child of the root; with
// one it is a grandchild (inside the frame). Both levels are searched.
Window findWindow(Display* display, Window parent, const std::string& title, int depth) {
    Window root = 0;
    Window parentOut = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, parent, &root, &parentOut, &children, &count) == 0) {
        return 0;
    }
    Window found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        if (hasTitle(display, children[i], title)) {
            found = children[i];
        } else if (depth > 0) {
            found = findWindow(display, children[i], title, depth - 1);
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return found;
}

bool viewable(Display* display, Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

int waitFor(Display* display, const std::string& title, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const Window window = findWindow(display, DefaultRootWindow(display), title, 1);
        if (window != 0 && viewable(display, window)) {
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 1;
}

int sendKey(Display* display, Window window, const char* keysymName) {
    const KeySym keysym = XStringToKeysym(keysymName);
    if (keysym == NoSymbol) {
        std::fprintf(stderr, "lumarok-xsend: unknown key \"%s\"\n", keysymName);
        return 2;
    }
    XKeyEvent event{};
    event.display = display;
    event.window = window;
    event.root = DefaultRootWindow(display);
    event.subwindow = None;
    event.time = CurrentTime;
    event.same_screen = True;
    event.keycode = XKeysymToKeycode(display, keysym);
    for (const int type : {KeyPress, KeyRelease}) {
        event.type = type;
        XEvent wrapped{};
        wrapped.xkey = event;
        XSendEvent(display, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask,
                   &wrapped);
    }
    XSync(display, False);
    return 0;
}

int sendClose(Display* display, Window window) {
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

int usage() {
    std::fputs("usage: lumarok-xsend [-display NAME] TITLE wait SECONDS | key KEYSYM | close | "
               "resize W H\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int next = 1;
    const char* displayName = nullptr;
    if (argc > 2 && std::strcmp(argv[1], "-display") == 0) {
        displayName = argv[2];
        next = 3;
    }
    if (argc - next < 2) {
        return usage();
    }
    const std::string title = argv[next];
    const std::string action = argv[next + 1];
    const int valueCount = argc - next - 2;
    char** values = argv + next + 2;

    const DisplayPtr display(XOpenDisplay(displayName));
    if (!display) {
        std::fputs("lumarok-xsend: cannot open the X display\n", stderr);
        return 1;
    }
    if (action == "wait" && valueCount == 1) {
        return waitFor(display.get(), title, std::strtod(values[0], nullptr));
    }
    const Window window = findWindow(display.get(), DefaultRootWindow(display.get()), title, 1);
    if (window == 0) {
        std::fprintf(stderr, "lumarok-xsend: no window titled \"%s\"\n", title.c_str());
        return 1;
    }
    if (action == "key" && valueCount == 1) {
        return sendKey(display.get(), window, values[0]);
    }
    if (action == "close" && valueCount == 0) {
        return sendClose(display.get(), window);
    }
    if (action == "resize" && valueCount == 2) {
        XResizeWindow(display.get(), window,
                      static_cast<unsigned int>(std::strtoul(values[0], nullptr, 10)),
                      static_cast<unsigned int>(std::strtoul(values[1], nullptr, 10)));
        XSync(display.get(), False);
        return 0;
    }
    return usage();
}
