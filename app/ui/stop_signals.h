// Ctrl+C, a hang-up and TERM (a logout, a session ending) for the window: the
// signal is noted on the GUI thread, a run under way is stopped as by Stop
// (its unfinished movie goes and the earlier one stays), Go starts no other,
// every message box from then on is answered unseen by its way out (No,
// Cancel, OK), and `End` is called, which in the program quits its event
// loops; the program then ends by that signal. A second signal ends the
// process at once. A signal that was ignored when the program started (nohup)
// stays ignored.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace quillon {

class TMainForm;

class TStopSignals : public QObject
{
public:
    TStopSignals(TMainForm &Form, std::function<void()> End);
    ~TStopSignals() override;

    // The signal that came; 0 while none has.
    int Signal() const { return FSignal; }

private:
    void Came();

    TMainForm &FForm;
    std::function<void()> FEnd;
    QSocketNotifier *FNotifier = nullptr;
    int FSignal = 0;
};

} // namespace quillon
