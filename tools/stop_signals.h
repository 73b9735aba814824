// How the command-line tools take Ctrl+C, a hang-up, TERM and the warning
// that the soft CPU time limit is reached (XCPU): the signal is
// noted, the tool stops at its next step, removes its new files and then ends
// by that signal as it would have without a handler; one that was ignored when
// the tool started (nohup) is left ignored. A reader that has gone
// (SIGPIPE) and a file larger than the user's limit (SIGXFSZ) become failed
// writes instead of an end that leaves new files behind.
#pragma once

#include <atomic>
#include <csignal>

namespace toolsignals {

inline volatile std::sig_atomic_t stopSignal = 0;
// 1 once a stop signal came: a renderer's stop request.
inline std::atomic<int> stopRequest{0};

inline void OnStopSignal(int signal)
{
    stopSignal = signal;
    stopRequest.store(1, std::memory_order_relaxed);
}

inline void CatchStopSignals()
{
    struct sigaction action
    {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // A signal ignored at the start stays ignored: nohup's hang-up, a
    // script's Ctrl+C for its background jobs.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGXCPU}) {
        struct sigaction inherited
        {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

// Ends the process by the stop signal that came, or by `otherwise` when none did.
[[noreturn]] inline void EndByStopSignal(int otherwise)
{
    const int signal = stopSignal ? static_cast<int>(stopSignal) : otherwise;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

} // namespace toolsignals
