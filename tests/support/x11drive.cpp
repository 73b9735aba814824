#include "x11drive.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace x11drive {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char *> Pointers(std::vector<std::string> &strings)
{
    std::vector<char *> pointers;
    for (std::string &s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The child dies with the test: a test that fails hard (or is killed by
// CTest's time limit) leaves no X server or program behind.
pid_t Spawn(const std::string &path, std::vector<std::string> args,
            std::vector<std::string> environment, const std::string &output)
{
    // The given variables first: the first of two with the same name counts.
    for (char **e = environ; *e; ++e)
        environment.push_back(*e);
    args.insert(args.begin(), path);
    std::vector<char *> argv = Pointers(args);
    std::vector<char *> envp = Pointers(environment);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0)
        return -1;
    const pid_t parent = ::getpid();
    // Only calls that are safe in the copy of a threaded process after fork.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execve(path.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    return pid;
}

void Stop(pid_t &pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

} // namespace

bool WaitFor(const std::function<bool()> &done, int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// VirtualScreen

VirtualScreen::VirtualScreen(int width, int height)
{
    if (::access("/usr/bin/Xvfb", X_OK) != 0)
        return;
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    // The server writes the display number it took to -displayfd.
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_ = Spawn("/usr/bin/Xvfb",
                 {"-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp",
                  "-noreset"},
                 {}, "/dev/null");
    ::close(fds[1]);
    std::string number;
    struct pollfd wait
    {
        fds[0], POLLIN, 0
    };
    while (pid_ > 0 && ::poll(&wait, 1, 10000) == 1) {
        char c = 0;
        if (::read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty())
        Stop(pid_);
    else
        name_ = ":" + number;
}

VirtualScreen::~VirtualScreen()
{
    Stop(pid_);
}

// Program

Program::Program(const std::string &path, const std::vector<std::string> &args,
                 const std::vector<std::string> &environment, const std::string &output)
    : pid_(Spawn(path, args, environment, output))
{}

Program::~Program()
{
    Kill();
}

bool Program::Running()
{
    if (pid_ <= 0)
        return false;
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void Program::Kill()
{
    Stop(pid_);
}

// Connection

Connection::Connection(const std::string &display)
    : display_(display.empty() ? nullptr : XOpenDisplay(display.c_str()))
{
    // Windows come and go while they are looked at (a dialog closing): the
    // default handler would end the test on the first such error.
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
}

Connection::~Connection()
{
    if (display_)
        XCloseDisplay(display_);
}

void Connection::Sync()
{
    XSync(display_, False);
}

XWindow Connection::FindWindow(const std::string &title, int ms)
{
    XWindow found = 0;
    WaitFor(
        [&] {
            Window root = DefaultRootWindow(display_), parent = 0, *children = nullptr;
            unsigned count = 0;
            if (!XQueryTree(display_, root, &root, &parent, &children, &count))
                return false;
            for (unsigned i = 0; i < count && !found; ++i) {
                XWindowAttributes attributes{};
                char *name = nullptr;
                if (XGetWindowAttributes(display_, children[i], &attributes)
                    && attributes.map_state == IsViewable
                    && XFetchName(display_, children[i], &name) && name) {
                    if (std::string_view(name).starts_with(title))
                        found = children[i];
                    XFree(name);
                }
            }
            if (children)
                XFree(children);
            return found != 0;
        },
        ms);
    return found;
}

Point Connection::Origin(XWindow window)
{
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return {x, y};
}

void Connection::Focus(XWindow window)
{
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    Sync();
}

void Connection::MoveTo(Point p)
{
    XTestFakeMotionEvent(display_, -1, p.x, p.y, CurrentTime);
    Sync();
}

void Connection::Click(Point p)
{
    MoveTo(p);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    Sync();
}

void Connection::Drag(Point from, Point to, int steps)
{
    MoveTo(from);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    Sync();
    for (int i = 1; i <= steps; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        MoveTo({from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    Sync();
}

void Connection::Key(const std::string &name, bool control)
{
    const KeySym symbol = XStringToKeysym(name.c_str());
    const KeyCode code = XKeysymToKeycode(display_, symbol);
    if (code == 0)
        return;
    // A symbol on the key's second level needs Shift.
    const bool shift = XkbKeycodeToKeysym(display_, code, 0, 0) != symbol
                       && XkbKeycodeToKeysym(display_, code, 0, 1) == symbol;
    const KeyCode controlCode = XKeysymToKeycode(display_, XK_Control_L);
    const KeyCode shiftCode = XKeysymToKeycode(display_, XK_Shift_L);
    if (control)
        XTestFakeKeyEvent(display_, controlCode, True, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(display_, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(display_, shiftCode, False, CurrentTime);
    if (control)
        XTestFakeKeyEvent(display_, controlCode, False, CurrentTime);
    Sync();
}

void Connection::Type(const std::string &text)
{
    for (char c : text) {
        // Printable ASCII characters are their own Latin-1 key symbols.
        const KeySym symbol = static_cast<unsigned char>(c);
        const char *name = XKeysymToString(symbol);
        if (name)
            Key(name);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool Connection::DropUris(Point at, const std::vector<std::string> &uris, int ms)
{
    Display *d = display_;
    auto atom = [d](const char *name) { return XInternAtom(d, name, False); };
    const Atom aware = atom("XdndAware"), enter = atom("XdndEnter"),
               position = atom("XdndPosition"), status = atom("XdndStatus"),
               drop = atom("XdndDrop"), leave = atom("XdndLeave"), finished = atom("XdndFinished"),
               selection = atom("XdndSelection"), copy = atom("XdndActionCopy"),
               uriList = atom("text/uri-list");
    const Window root = DefaultRootWindow(d);

    // The target is the top-level window under the point that takes XDND.
    int x = 0, y = 0;
    Window target = 0;
    XTranslateCoordinates(d, root, root, at.x, at.y, &x, &y, &target);
    if (!target)
        return false;
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(d, target, aware, 0, 1, False, XA_ATOM, &type, &format, &items, &after,
                           &data)
            != Success
        || items == 0) {
        if (data)
            XFree(data);
        return false;
    }
    const long version = std::min<long>(5, static_cast<long>(*reinterpret_cast<Atom *>(data)));
    XFree(data);

    const Window source = XCreateSimpleWindow(d, root, -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(d, source, PropertyChangeMask);
    XSetSelectionOwner(d, selection, source, CurrentTime);
    std::string payload;
    for (const std::string &uri : uris)
        payload += uri + "\r\n";

    auto send = [&](Atom message, long l1, long l2, long l3, long l4) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = target;
        event.xclient.message_type = message;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(source);
        event.xclient.data.l[1] = l1;
        event.xclient.data.l[2] = l2;
        event.xclient.data.l[3] = l3;
        event.xclient.data.l[4] = l4;
        XSendEvent(d, target, False, NoEventMask, &event);
        XFlush(d);
    };
    // Answers the target's questions until `until` holds or the time is up.
    auto serve = [&](const std::function<bool(const XEvent &)> &until) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < deadline) {
            while (XPending(d)) {
                XEvent event;
                XNextEvent(d, &event);
                if (event.type == SelectionRequest) {
                    const XSelectionRequestEvent &request = event.xselectionrequest;
                    XEvent reply{};
                    reply.xselection.type = SelectionNotify;
                    reply.xselection.requestor = request.requestor;
                    reply.xselection.selection = request.selection;
                    reply.xselection.target = request.target;
                    reply.xselection.time = request.time;
                    reply.xselection.property = None;
                    if (request.target == uriList) {
                        XChangeProperty(d, request.requestor, request.property, uriList, 8,
                                        PropModeReplace,
                                        reinterpret_cast<const unsigned char *>(payload.data()),
                                        static_cast<int>(payload.size()));
                        reply.xselection.property = request.property;
                    }
                    XSendEvent(d, request.requestor, False, NoEventMask, &reply);
                    XFlush(d);
                } else if (until(event)) {
                    return true;
                }
            }
            struct pollfd wait
            {
                ConnectionNumber(d), POLLIN, 0
            };
            ::poll(&wait, 1, 20);
        }
        return false;
    };
    auto isMessage = [&](const XEvent &event, Atom message) {
        return event.type == ClientMessage && event.xclient.message_type == message;
    };

    send(enter, version << 24, static_cast<long>(uriList), 0, 0);
    send(position, 0, (at.x << 16) | at.y, CurrentTime, static_cast<long>(copy));
    bool accepted = false;
    serve([&](const XEvent &event) {
        if (!isMessage(event, status))
            return false;
        accepted = (event.xclient.data.l[1] & 1) != 0;
        return true;
    });
    bool done = false;
    if (accepted) {
        send(drop, 0, CurrentTime, 0, 0);
        done = serve([&](const XEvent &event) {
            return isMessage(event, finished)
                   && (version < 5 || (event.xclient.data.l[1] & 1) != 0);
        });
    } else {
        send(leave, 0, 0, 0, 0);
    }
    XDestroyWindow(d, source);
    Sync();
    return done;
}

unsigned Connection::Pixel(Point p)
{
    XImage *image
        = XGetImage(display_, DefaultRootWindow(display_), p.x, p.y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return 0;
    const unsigned long value = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return static_cast<unsigned>(value & 0xFFFFFF);
}

XWindow Connection::Cover(Point at, int width, int height, unsigned rgb)
{
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = rgb;
    const Window cover = XCreateWindow(display_, DefaultRootWindow(display_), at.x, at.y,
                                       static_cast<unsigned>(width), static_cast<unsigned>(height),
                                       0, CopyFromParent, InputOutput, CopyFromParent,
                                       CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display_, cover);
    Sync();
    return cover;
}

void Connection::Uncover(XWindow cover)
{
    XDestroyWindow(display_, cover);
    Sync();
}

} // namespace x11drive
