#include "app/ui/stop_signals.h"

#include "app/ui/mainunit.h"
#include "app/ui/stop_command.h"
#include "platform/win32/messagebox.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace quillon {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The handler's end of a pipe that the GUI thread watches.
int gWrite = -1;
int gRead = -1;

void OnSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(gWrite, &byte, 1);
    errno = saved;
}

// The signals caught here end the process again, as by default.
void RestoreDefaults()
{
    for (const int signal : kSignals) {
        struct sigaction now
        {};
        if (::sigaction(signal, nullptr, &now) == 0 && now.sa_handler == OnSignal)
            std::signal(signal, SIG_DFL);
    }
}

} // namespace

TStopSignals::TStopSignals(TMainForm &Form, std::function<void()> End)
    : FForm(Form)
    , FEnd(std::move(End))
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    gRead = ends[0];
    gWrite = ends[1];
    FNotifier = new QSocketNotifier(gRead, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { Came(); });
    struct sigaction action
    {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        struct sigaction inherited
        {};
        if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

TStopSignals::~TStopSignals()
{
    if (gRead < 0)
        return;
    RestoreDefaults();
    delete FNotifier;
    ::close(gRead);
    ::close(gWrite);
    gRead = gWrite = -1;
}

void TStopSignals::Came()
{
    unsigned char byte = 0;
    if (::read(gRead, &byte, 1) != 1 || FSignal != 0)
        return;
    FSignal = byte;
    // A second signal, should this end wait on something, ends the process.
    RestoreDefaults();
    // Nobody is there to answer a box any more: each is answered as by its
    // way out (No, Cancel, OK) without being shown, so that the program ends.
    win32::SetMessageBoxHandler([](HWND, const std::string &, const std::string &, UINT type) {
        return win32::EscapeButton(type);
    });
    win32::SetTaskDialogHandler([](const win32::TASKDIALOGCONFIG &) { return win32::IDOK; });
    FForm.EndRuns();
    if (FEnd)
        FEnd();
}

} // namespace quillon
