// Stopping a run: the "Stop" button beside the progress bar and Escape in the
// window. The render stops at its next frame, its unfinished file goes and the
// earlier movie stays; the status line then says so.
#pragma once

#include <QObject>

#include <atomic>

class QToolButton;

namespace quillon {

class TMainForm;

class TStopCommand : public QObject
{
public:
    explicit TStopCommand(TMainForm &Form);
    ~TStopCommand() override;

    QToolButton *btnStop;

    // A new run starts: nothing asks it to stop yet.
    void Arm();
    // Asks the run under way to stop; nothing without one.
    void StopClick();
    // What the render reads.
    const std::atomic<int> *Request() const { return &FRequest; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TMainForm &FForm;
    std::atomic<int> FRequest{0};
};

} // namespace quillon
