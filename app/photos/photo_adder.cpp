#include "app/photos/photo_adder.h"

#include "platform/forms/errors.h"

#include <QLocale>
#include <QString>

#include <cstdio>

namespace quillon {

namespace {

std::string SizeText(std::int64_t bytes)
{
    char text[32];
    if (bytes < 1000)
        std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
    else if (bytes < 1000 * 1000)
        std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1e3);
    else
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    // With the desktop's decimal sign, as the window's other numbers.
    return QString::fromLatin1(text).replace(QChar('.'), QLocale().decimalPoint()).toStdString();
}

} // namespace

TPhotoAdder::TPhotoAdder(TPhotoThumbPanel &Panel)
    : FPanel(Panel)
{}

TPhotoAdder::~TPhotoAdder()
{
    FLoader.reset();
}

bool TPhotoAdder::Start(std::function<std::vector<std::string>()> Source, TFailureRule Rule,
                        std::function<void(const TOutcome &)> Finished)
{
    if (Busy())
        return false;
    FRule = Rule;
    FFinished = std::move(Finished);
    FOutcome = TOutcome();
    FOutcome.FirstNew = FPanel.ThumbItems()->Count();
    FSinceLayout.start();
    FWakePending = false;
    FLoader = std::make_unique<ThumbLoader>(
        std::move(Source), [this] { Wake(); }, WorkerThreads, WorkerNiceness,
        FPanel.ThumbItems()->AutoRotate());
    if (OnProgress)
        OnProgress(0, -1);
    return true;
}

void TPhotoAdder::Wake()
{
    // One wake-up waiting in the GUI thread's queue is enough: it takes
    // everything that is ready by the time it runs.
    if (FWakePending.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this, [this] { Drain(); }, Qt::QueuedConnection);
}

void TPhotoAdder::Drain()
{
    FWakePending = false;
    if (!FLoader)
        return;
    try {
        TakeReady();
    } catch (...) {
        // Whatever went wrong ends the add as a photo that cannot be read would.
        FOutcome.Error = std::current_exception();
        Finish();
    }
}

void TPhotoAdder::TakeReady()
{
    const std::optional<std::size_t> total = FLoader->Total();
    if (!total)
        return;
    if (const std::exception_ptr error = FLoader->SourceError()) {
        FOutcome.Error = error;
        Finish();
        return;
    }
    QElapsedTimer turn;
    turn.start();
    bool more = true;
    while (std::optional<ThumbLoader::Result> next = FLoader->TakeNext()) {
        if (next->Error) {
            if (FRule == TFailureRule::StopThere) {
                FOutcome.Error = next->Error;
                Finish();
                return;
            }
            FOutcome.LeftOut.push_back({next->Path, forms::MessageOf(next->Error)});
        } else {
            TThumbItem *item = FPanel.ThumbItems()->Add();
            item->TakeFileName(next->Path, next->Thumbnail.Bitmap);
            item->Image()->setToolTip(QString::fromStdString(TooltipText(*next)));
            ++FOutcome.Added;
            FLaidOut = false;
        }
        if (turn.elapsed() >= kTurnMs) {
            // Let the window repaint and take its input before the rest.
            Wake();
            more = false;
            break;
        }
    }
    if (more && FLoader->Done()) {
        Finish();
        return;
    }
    if (!FLaidOut && FSinceLayout.elapsed() >= kLayoutIntervalMs) {
        FPanel.ArrangeThumbs();
        FLaidOut = true;
        FSinceLayout.restart();
    }
    if (OnProgress)
        OnProgress(FOutcome.Added, static_cast<int>(*total));
}

void TPhotoAdder::Finish()
{
    FLoader.reset();
    if (!FLaidOut)
        FPanel.ArrangeThumbs();
    FLaidOut = true;
    const std::function<void(const TOutcome &)> finished = std::move(FFinished);
    FFinished = nullptr;
    const TOutcome outcome = std::move(FOutcome);
    FOutcome = TOutcome();
    if (finished)
        finished(outcome);
}

std::string TPhotoAdder::TooltipText(const ThumbLoader::Result &Result)
{
    const std::size_t slash = Result.Path.rfind('/');
    std::string text = slash == std::string::npos ? Result.Path : Result.Path.substr(slash + 1);
    std::string details;
    const PhotoThumbnail &thumbnail = Result.Thumbnail;
    if (thumbnail.PictureWidth > 0 && thumbnail.PictureHeight > 0)
        details = std::to_string(thumbnail.PictureWidth) + " \u00d7 "
                  + std::to_string(thumbnail.PictureHeight) + " pixels";
    if (Result.FileBytes >= 0)
        details += (details.empty() ? "" : ", ") + SizeText(Result.FileBytes);
    if (!details.empty())
        text += "\n" + details;
    return text;
}

} // namespace quillon
