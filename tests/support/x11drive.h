// Driving real programs on a real X server, for what Qt's offscreen platform
// cannot show: a private Xvfb, the pointer and the keyboard through the XTEST
// extension (as the server's own devices), a drag and drop from a file manager
// (the XDND protocol, with a source window of our own), and the screen's pixels.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

typedef struct _XDisplay Display;

namespace x11drive {

using XWindow = unsigned long;

// An Xvfb of its own on a free display number; stopped with the object.
class VirtualScreen
{
public:
    VirtualScreen(int width = 1280, int height = 1024);
    ~VirtualScreen();
    VirtualScreen(const VirtualScreen &) = delete;
    VirtualScreen &operator=(const VirtualScreen &) = delete;

    // Empty when no X server could be started (no Xvfb on the machine).
    const std::string &Name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// A program started with extra environment ("NAME=value"); killed with the
// object when it still runs.
class Program
{
public:
    Program(const std::string &path, const std::vector<std::string> &args,
            const std::vector<std::string> &environment, const std::string &output);
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    bool Running();
    void Kill();

private:
    pid_t pid_ = -1;
};

struct Point
{
    int x = 0;
    int y = 0;
};

class Connection
{
public:
    explicit Connection(const std::string &display);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool Open() const { return display_ != nullptr; }
    ::Display *Get() const { return display_; }

    // The mapped top-level window whose name begins with `title` (Qt adds the
    // application's name to a dialog's), waiting up to `ms`; 0 when none.
    XWindow FindWindow(const std::string &title, int ms = 10000);
    // Where a window's top-left corner stands on the screen.
    Point Origin(XWindow window);

    // Gives the window the keyboard, as a window manager does for the window
    // a user clicks (there is none on the private screen).
    void Focus(XWindow window);
    void MoveTo(Point p);
    void Click(Point p);
    // Presses the left button at `from`, moves to `to` in steps, releases there.
    void Drag(Point from, Point to, int steps = 12);
    // A key by its X name ("s", "Return", "Tab") with Control when `control`.
    void Key(const std::string &name, bool control = false);
    // Types text of printable ASCII characters.
    void Type(const std::string &text);

    // Drags `uris` ("file:///...") from a source window of our own onto the
    // screen point, by the XDND protocol as a file manager does. True when
    // the target took the drop and said it finished.
    bool DropUris(Point at, const std::vector<std::string> &uris, int ms = 10000);

    // The colour of a screen pixel, 0xRRGGBB.
    unsigned Pixel(Point p);
    // Puts a window of one colour over the given part of the screen and takes
    // it away again; what lay beneath must repaint itself.
    XWindow Cover(Point at, int width, int height, unsigned rgb);
    void Uncover(XWindow cover);

    void Sync();

private:
    ::Display *display_ = nullptr;
};

// Waits, looking every few milliseconds, until `done` holds; false after `ms`.
bool WaitFor(const std::function<bool()> &done, int ms);

} // namespace x11drive
