// A deliberately slow Xlib client that writes what it receives to a file. It takes a fixed time
// for every key event, and it reads the keyboard map the way every Xlib program does (xterm,
// Motif, Tk): Xlib marks the map stale when it reads the notification from the server, which may
// be while older keys still wait in its queue, and those are then read with the new map. It
// answers the window manager's ping in the order of its events. A sender that gives a keycode a
// new meaning before such a receiver has read every key typed with the old one is caught by it.
// Usage: slowreceiver TITLE OUTPUT MILLISECONDS_PER_EVENT
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

int main(int argc, char* argv[])
{
    if (argc < 4)
        return 2;
    const std::string title = argv[1];
    const int delayMs = std::atoi(argv[3]);
    FILE* out = std::fopen(argv[2], "ab");
    Display* d = XOpenDisplay(nullptr);
    if (!out || !d)
        return 1;
    const Window root = DefaultRootWindow(d);
    XSetWindowAttributes attributes{};
    attributes.event_mask = KeyPressMask | KeyReleaseMask;
    const Window w = XCreateWindow(d, root, 600, 100, 300, 80, 1, CopyFromParent, InputOutput,
                                   CopyFromParent, CWEventMask, &attributes);
    XStoreName(d, w, title.c_str());
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False),
                    XInternAtom(d, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    const Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
    Atom ping = XInternAtom(d, "_NET_WM_PING", False);
    XSetWMProtocols(d, w, &ping, 1);
    // Xlib reads the map, and asks to hear of its changes, at the first key it looks up: done
    // here, as by a program that has been typed into before, so that a change between the map
    // and the request, which would go unheard, cannot come with the first text.
    XKeyEvent first{};
    first.type = KeyPress;
    first.display = d;
    first.keycode = XKeysymToKeycode(d, XK_space);
    char ignored[8];
    XLookupString(&first, ignored, sizeof ignored, nullptr, nullptr);
    XMapWindow(d, w);
    XFlush(d);

    for (;;) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type == KeyPress || ev.type == KeyRelease)
            usleep(static_cast<useconds_t>(delayMs) * 1000);
        if (ev.type == KeyPress) {
            KeySym sym = NoSymbol;
            char latin1[8];
            XLookupString(&ev.xkey, latin1, sizeof latin1, &sym, nullptr);
            char bytes[8];
            const int n = xkb_keysym_to_utf8(static_cast<xkb_keysym_t>(sym), bytes, sizeof bytes);
            if (n > 1) {
                std::fwrite(bytes, 1, static_cast<size_t>(n - 1), out);
                std::fflush(out);
            }
        } else if (ev.type == MappingNotify) {
            XRefreshKeyboardMapping(&ev.xmapping);
        } else if (ev.type == ClientMessage && ev.xclient.message_type == protocols &&
                   static_cast<Atom>(ev.xclient.data.l[0]) == ping) {
            ev.xclient.window = root;
            XSendEvent(d, root, False, SubstructureNotifyMask | SubstructureRedirectMask, &ev);
            XFlush(d);
        }
    }
}
