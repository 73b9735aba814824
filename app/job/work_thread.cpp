#include "app/job/work_thread.h"

#include "app/job/render.h"
#include "platform/forms/application.h"
#include "platform/win32/messagebox.h"

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
        MessageText = MissingOutputFolderMessage(RequestedOutputFolder);
        Synchronize([this] { ShowMessageText(); });
    } else {
        result = RenderMovie(Window.Handle(), JobInfo);
    }
    JobFolderLock.Release();

    Synchronize([this] { Window.ConversionFinished(); });
    MessageText = result < 0 ? ConversionFailedText : ConversionCompletedText;
    Synchronize([this] { ShowStatusText(); });
    if (result >= 0)
        MessageText = CompletedMessage(JobInfo);
    Synchronize([this] { ShowMessageText(); });
}

void TPhoto2VideoThread::ShowMessageText()
{
    const forms::TApplication *app = forms::Application();
    const std::string caption = app ? app->Title() : std::string();
    win32::MessageBoxA(Window.Handle(), MessageText.c_str(), caption.c_str(), win32::MB_OK);
}

void TPhoto2VideoThread::ShowStatusText()
{
    Window.SetStatusText(MessageText);
}

} // namespace quillon
