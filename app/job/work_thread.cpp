#include "app/job/work_thread.h"

#include "app/job/outcome.h"
#include "app/job/render.h"
#include "platform/forms/application.h"
#include "platform/win32/messagebox.h"
#include "renderer/mureline.h"

namespace quillon {

TWorkThread::TWorkThread(TWorkThreadInfo &JobInfo)
    : JobInfo(JobInfo)
{
    SetFreeOnTerminate(true);
    RequestedOutputFolder = JobInfo.OutputFolder;
    NormaliseOutputFolder(JobInfo);
}

TPhoto2VideoThread::TPhoto2VideoThread(TWorkThreadInfo &JobInfo, TConversionWindow &Window,
                                       win32::FolderLock JobFolderLock)
    : TWorkThread(JobInfo)
    , Window(Window)
    , JobFolderLock(std::move(JobFolderLock))
{}

void TPhoto2VideoThread::Execute()
{
    MessageText = ConvertingText;
    Synchronize([this] { ShowStatusText(); });

    int result = -1;
    if (JobInfo.OutputFolder.empty()) {
        // Nothing renders: the job folder is free before the box, which may
        // stay open for long.
        JobFolderLock.Release();
        MessageText
            = MissingOutputFolderMessage(RequestedOutputFolder, JobInfo.OutputFolderProblem);
        Synchronize([this] { ShowMessageText(); });
    } else {
        Movie = MoviePath(JobInfo);
        // The renderer shows a box only once it is done with the job files
        // (a failure, or a warning after the script is open): another run
        // need not wait for whoever reads it.
        const win32::BeforeMessageBoxOnThisThread releaseJobFolder(
            [this] { JobFolderLock.Release(); });
        result = RenderMovie(Window.Handle(), JobInfo, Window.StopRequest());
    }
    JobFolderLock.Release();
    // The record is read no more from here on (the outcome names Movie, taken
    // above): once the window hears that the run is over, a new Go may fill it
    // in again while this thread still shows its outcome.
    Completed = result >= 0;
    Synchronize([this] { Window.ConversionFinished(); });
    if (result == MURELINE_STOPPED) {
        // The user asked for it: the status line is answer enough.
        MessageText = ConversionStoppedText;
        Synchronize([this] { ShowStatusText(); });
        return;
    }
    MessageText = result < 0 ? ConversionFailedText : ConversionCompletedText;
    Synchronize([this] { ShowStatusText(); });
    Synchronize([this] { ShowMessageText(); });
}

void TPhoto2VideoThread::ShowMessageText()
{
    const forms::TApplication *app = forms::Application();
    const std::string caption = app ? app->Title() : std::string();
    if (Completed && !Movie.empty())
        ShowMovieOutcome(Window.Handle(), caption, MessageText, Movie);
    else
        win32::MessageBoxA(Window.Handle(), MessageText.c_str(), caption.c_str(), win32::MB_OK);
}

void TPhoto2VideoThread::ShowStatusText()
{
    Window.SetStatusText(MessageText);
}

} // namespace quillon
