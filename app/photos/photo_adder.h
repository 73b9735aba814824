// Adding photos to the list without holding up the window: the thumbnails are
// made by a ThumbLoader on worker threads, and each photo is appended to the
// panel's ThumbItems on the GUI thread, in the list's order, as soon as its
// thumbnail is there. The entries, their order and their thumbnails are those
// that writing each FileName in turn would give.
#pragma once

#include "app/photos/PhotoThumbPanel.h"
#include "app/photos/thumb_loader.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillon {

class TPhotoAdder : public QObject
{
public:
    // What a photo that cannot be read does to the add.
    enum class TFailureRule {
        // The add ends at that photo: it is not appended, nor is any photo after
        // it, and the error is handed back.
        StopThere,
        // The photo is left out and the add goes on.
        LeaveOut,
    };

    struct TLeftOut
    {
        std::string Path;
        std::string Reason;
    };

    struct TOutcome
    {
        int FirstNew = 0;              // the position of the first photo appended
        int Added = 0;                 // how many were appended
        std::exception_ptr Error;      // StopThere: the error of the photo it ended at
        std::vector<TLeftOut> LeftOut; // LeaveOut: the photos left out, in list order
    };

    explicit TPhotoAdder(TPhotoThumbPanel &Panel);
    // Stops an add under way without finishing it.
    ~TPhotoAdder() override;

    // Starts appending the photos that `Source` lists (run on a worker); false,
    // and nothing starts, while an add is under way. `Finished` runs on the GUI
    // thread once the add has ended, after a last layout pass.
    bool Start(std::function<std::vector<std::string>()> Source, TFailureRule Rule,
               std::function<void(const TOutcome &)> Finished);
    bool Busy() const { return FLoader != nullptr; }

    // Worker threads of the next add; 0 means one a processor.
    unsigned WorkerThreads = 0;
    // How far below the GUI thread the workers are scheduled (nice steps), so
    // that a repaint never waits for a decode: bench/thumbs measured 10
    // against 0 (the same time for the add, shorter longest repaint).
    int WorkerNiceness = 10;

    // Told on the GUI thread as the add goes on: photos appended so far and how
    // many there are in all (-1 while the source still lists them).
    std::function<void(int Done, int Total)> OnProgress;

    // Layout passes while photos come in, at most this often, so that they
    // appear without the passes over a long row taking the GUI thread's time.
    static constexpr int kLayoutIntervalMs = 100;
    // How long one turn of the GUI thread may spend appending photos.
    static constexpr int kTurnMs = 15;

    // "NAME\nW × H pixels, SIZE": what the thumbnail's tooltip says about its photo.
    static std::string TooltipText(const ThumbLoader::Result &Result);

private:
    void Wake();
    void Drain();
    void TakeReady();
    void Finish();

    TPhotoThumbPanel &FPanel;
    std::unique_ptr<ThumbLoader> FLoader;
    TFailureRule FRule = TFailureRule::StopThere;
    std::function<void(const TOutcome &)> FFinished;
    TOutcome FOutcome;
    std::atomic<bool> FWakePending{false};
    QElapsedTimer FSinceLayout;
    bool FLaidOut = true;
};

} // namespace quillon
