// Quillon: start-up. The application object with its title, look, font and
// desktop services; then the main window, shown, and the message loop until it
// is closed. A show file named on the command line is opened, photos and
// folders named there are added after its photos, as if they were dropped on
// the window; other names are reported.
#include "app/ui/drop.h"
#include "app/ui/mainunit.h"
#include "app/ui/startup.h"
#include "app/ui/stop_signals.h"
#include "platform/forms/application.h"
#include "platform/win32/files.h"
#include "tools/standard_output.h"

#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Absolute(const std::string &path)
{
    if (path.empty() || path.front() == '/')
        return path;
    std::vector<char> folder(4096);
    while (!::getcwd(folder.data(), folder.size())) {
        if (errno != ERANGE)
            return path;
        folder.resize(folder.size() * 2);
    }
    return std::string(folder.data()) + "/" + path;
}

constexpr const char *kUsage
    = "usage: quillon [SHOW.qshow] [PHOTO_OR_FOLDER...]\n"
      "Makes a slide-show movie of photos. A show file named here is opened; photos\n"
      "and folders named here are added to the list (after the show's own), as if\n"
      "dropped on the window.\n"
      "  -h, --help     print this help and exit\n"
      "  --version      print the version and exit\n"
      "  --             what follows is shows, photos and folders, also names that\n"
      "                 begin with '-'\n"
      "The movie can be made without a window by quillon-render.\n";

// --help and --version answer on the terminal, with no display needed; the
// window's own options are left to it.
bool AnsweredOnTheTerminal(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quillon %s\n", QUILLON_VERSION);
            return true;
        }
    }
    return false;
}

// Whether the window has nowhere to be shown: Qt's X and Wayland platforms
// end the program with an abort when neither display is named. Another
// platform (-platform, QT_QPA_PLATFORM) is left to Qt.
bool NoDisplayNamed(int argc, char **argv)
{
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 && i + 1 < argc)
            platform = argv[i + 1];
        else if (std::strncmp(argv[i], "-platform=", 10) == 0)
            platform = argv[i] + 10;
    }
    const auto named = [](const char *variable) {
        const char *value = std::getenv(variable);
        return value && *value;
    };
    const std::string chosen = platform ? platform : "";
    const bool windowing
        = chosen.empty() || chosen.starts_with("xcb") || chosen.starts_with("wayland");
    return windowing && !named("DISPLAY") && !named("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char **argv)
{
    // A show or movie must never take the number of a closed standard stream.
    win32::KeepStandardStreamsOpen();
    if (AnsweredOnTheTerminal(argc, argv))
        return toolsoutput::WithStandardOutput("quillon", 0);
    if (NoDisplayNamed(argc, argv)) {
        std::fputs("quillon: no display to show the window on (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set); quillon-render makes movies without one\n",
                   stderr);
        return 1;
    }
    // A movie larger than the user's file size limit fails its write (EFBIG)
    // and is reported, instead of ending the program with its new file left.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication::setApplicationName(QStringLiteral("quillon"));
    // The first "--" ends the options, as --help and --version are looked for:
    // Qt is given only what comes before it to find its own (-platform,
    // -style, ...) in, so that a name after it such as "-style" stays a name.
    int options = argc;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--") == 0) {
            options = i;
            break;
        }
    std::vector<char *> qtArgv(argv, argv + options);
    qtArgv.push_back(nullptr);
    int qtArgc = options;
    forms::TApplication app(qtArgc, qtArgv.data());
    quillon::SetUpApplication(app);

    // Qt has taken its own options out of its part by now.
    std::vector<std::string> named;
    for (int i = 1; i < qtArgc; ++i)
        named.push_back(Absolute(qtArgv[static_cast<std::size_t>(i)]));
    for (int i = options + 1; i < argc; ++i)
        named.push_back(Absolute(argv[i]));

    int status = 0;
    int stopSignal = 0;
    {
        quillon::TMainForm form;
        // exit, not quit: quit asks the window to close, which it refuses
        // while a run is under way.
        const quillon::TStopSignals stopSignals(form, [] { QCoreApplication::exit(0); });
        form.show();
        if (!named.empty())
            QTimer::singleShot(0, &form, [&form, named] { form.Drops().TakeNamed(named); });
        status = app.exec();
        stopSignal = stopSignals.Signal();
        // Asked again: a run may have started from a click that came with the
        // signal.
        if (stopSignal != 0)
            form.EndRuns();
        // The window waits here for a run it stopped to take its file away.
    }
    if (stopSignal != 0) {
        std::signal(stopSignal, SIG_DFL);
        std::raise(stopSignal);
        std::_Exit(128 + stopSignal);
    }
    return status;
}
