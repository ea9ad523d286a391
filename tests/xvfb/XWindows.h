// Xlib pieces shared by the real program's test probe and the start-up
// benchmark: a top-level window's title and process, a close request as a
// window manager sends it, and the display as an owned handle.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <memory>
#include <string>

namespace xwin {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Opens $DISPLAY; null when it cannot.
inline DisplayPtr OpenDisplay() {
    return DisplayPtr(XOpenDisplay(nullptr));
}

namespace detail {

struct XFreer {
    void operator()(unsigned char* data) const { XFree(data); }
};
using XData = std::unique_ptr<unsigned char, XFreer>;

// A property's raw items: `count` items of `format` bits.
inline XData Property(Display* display, Window window, const char* name, Atom type,
                      unsigned long& count, int& format) {
    const Atom property = XInternAtom(display, name, False);
    Atom actualType = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    count = 0;
    format = 0;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, type, &actualType, &format,
                           &count, &after, &data) != Success)
        return nullptr;
    XData owned(data);
    if (actualType == None)
        return nullptr;
    return owned;
}

} // namespace detail

// The window's _NET_WM_NAME (UTF-8), else its WM_NAME; empty when it has none.
inline std::string Title(Display* display, Window window) {
    unsigned long count = 0;
    int format = 0;
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    auto data = detail::Property(display, window, "_NET_WM_NAME", utf8, count, format);
    if (!data || format != 8)
        data = detail::Property(display, window, "WM_NAME", AnyPropertyType, count, format);
    if (!data || format != 8)
        return {};
    return std::string(reinterpret_cast<const char*>(data.get()), count);
}

// The process that owns the window (_NET_WM_PID); 0 when it does not say.
inline long Pid(Display* display, Window window) {
    unsigned long count = 0;
    int format = 0;
    const auto data = detail::Property(display, window, "_NET_WM_PID", XA_CARDINAL, count, format);
    if (!data || format != 32 || count < 1)
        return 0;
    // Xlib hands 32-bit items over as longs.
    return *reinterpret_cast<const long*>(data.get());
}

// Asks the window to close as a window manager does, with a WM_DELETE_WINDOW
// message; false when the window does not take part in that protocol.
inline bool RequestClose(Display* display, Window window) {
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    Atom* list = nullptr;
    int count = 0;
    bool takesPart = false;
    if (XGetWMProtocols(display, window, &list, &count) != 0) {
        for (int i = 0; i < count; ++i)
            takesPart = takesPart || list[i] == deleteWindow;
        XFree(list);
    }
    if (!takesPart)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    return sent != 0;
}

} // namespace xwin
