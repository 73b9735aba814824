// The worker thread of a conversion run. It is made on the user-interface
// thread once the job record is complete, calls the renderer and reaches the
// window only through calls run synchronised on the user-interface thread.
#pragma once

#include "app/job/job.h"
#include "platform/forms/threads.h"
#include "platform/win32/types.h"

#include <atomic>
#include <string>

namespace quillon {

// What the worker of a run reaches of the main window. Handle() is read from
// the worker thread (it does not change while the window lives); the other two
// are only ever called synchronised, on the user-interface thread.
class TConversionWindow
{
public:
    virtual ~TConversionWindow() = default;
    // The window that receives the renderer's progress messages.
    virtual HWND Handle() const = 0;
    // Puts `text` into the status line.
    virtual void SetStatusText(const std::string &text) = 0;
    // The end-of-run step: the run is no longer busy, the progress bar hides.
    virtual void ConversionFinished() = 0;
    // While the run renders, a non-zero value asks it to stop; null when the
    // window never stops a run. Read from the worker thread.
    virtual const std::atomic<int> *StopRequest() const { return nullptr; }
};

class TWorkThread : public forms::TThread
{
public:
    // On the user-interface thread: keeps the record (not owned), makes the
    // thread free itself when its body ends, puts a '/' at the end of the
    // record's output folder and replaces it by its short form ("" when the
    // folder does not exist). The body waits for Start(), which the creator calls
    // once the whole object is made.
    explicit TWorkThread(TWorkThreadInfo &JobInfo);

protected:
    void Execute() override {}
    virtual void ShowMessageText() = 0;
    virtual void ShowStatusText() = 0;

    std::string MessageText;
    TWorkThreadInfo &JobInfo;
    // The output folder as the record held it before its short form replaced
    // it, for a message that names it.
    std::string RequestedOutputFolder;
};

class TPhoto2VideoThread : public TWorkThread
{
public:
    // `JobFolderLock`, when held, is kept until the renderer is done with the
    // job files.
    TPhoto2VideoThread(TWorkThreadInfo &JobInfo, TConversionWindow &Window,
                       win32::FolderLock JobFolderLock = {});

protected:
    // Status "Converting photo to video stream ... ", the render, the end-of-run
    // step, then the outcome in the status line and in a message box (a run
    // stopped on request says so in the status line alone). Without an output
    // folder there is no render: the renderer would otherwise get the bare
    // file name and write the movie wherever the program happens to run.
    void Execute() override;
    // A modal message box with MessageText; run synchronised. The box of a
    // finished movie names it and offers to play it or show its folder.
    void ShowMessageText() override;
    // MessageText into the status line; run synchronised.
    void ShowStatusText() override;

private:
    TConversionWindow &Window;
    win32::FolderLock JobFolderLock;
    std::string Movie;
    bool Completed = false; // the movie was made: its box offers to play it
};

} // namespace quillon
