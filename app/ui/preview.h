// The preview: a player window that plays the show as the movie will show it,
// in real time, without making a file. It evaluates the very script that Go
// writes (built by the same writer from the same settings), from memory: the
// job files stay as the last Go left them. Play and pause, a position slider
// that seeks anywhere, the time as "m:ss / m:ss", the sound track along, and
// Escape to close.
//
// The "Preview" command stands on the Output view beside Go; Space on the row
// of photos previews from the selected photo.
#pragma once

#include "app/job/job.h"
#include "platform/avs/avs.h"

#include <QElapsedTimer>
#include <QObject>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QSlider;
class QTimer;
class QToolButton;

namespace quillon {

class TMainForm;
class TMouseEffectImage;
class TPreviewFrames;
class TPreviewSound;

// Shows one frame of the show, as large as the window allows without changing
// the shape the movie shows it at, on black.
class TPreviewView : public QWidget
{
public:
    explicit TPreviewView(QWidget *parent = nullptr);

    void SetFrame(std::int64_t Number, avs::PFrame Frame);
    // The size of the show's frames, in pixels. The view's natural size is
    // the size they show at: a television frame's pixels are not square, so
    // its width is stretched to give the movie's 4:3.
    void SetFrameSize(QSize Size);
    // Where the picture stands in the view.
    QRect PictureRect() const;
    const avs::PFrame &Frame() const { return FFrame; }
    // A text shown in place of the pictures (why the show cannot play).
    void SetMessage(const QString &Text);
    QString Message() const { return FMessage; }

    // Called each time a frame reaches the screen, with its number.
    std::function<void(std::int64_t)> OnPainted;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    avs::PFrame FFrame;
    std::int64_t FNumber = -1;
    QSize FShownSize{352, 240}; // the frame's size on the screen, its pixels square
    QString FMessage;
};

class TPreviewForm : public QWidget
{
public:
    explicit TPreviewForm(QWidget *Owner);
    ~TPreviewForm() override;

    // Evaluates the script of `Settings` and starts to play it where the photo at
    // `StartPhoto` comes in.
    // Raises the script's error (an interval that is not a number); a photo
    // that is not there or breaks stops the show with its message where due.
    void Open(const JobSettings &Settings, int StartPhoto = 0);

    void Play();
    void Pause();
    bool Playing() const { return FPlaying; }
    // Whether it wakes to show frames: not once it stands paused (or at the
    // end, or at a photo that failed) with nothing more to show.
    bool Waking() const;
    // Shows frame `Frame` as soon as it is made; playing goes on from there.
    void SeekTo(std::int64_t Frame);

    // The script that plays: the text Go writes for the same settings.
    const std::string &Script() const { return FScript; }
    std::int64_t FrameCount() const { return FFrameCount; }
    // The frame on the screen, -1 before the first.
    std::int64_t Position() const { return FShown; }
    // "m:ss / m:ss": the position and the show's length.
    QString TimeText() const;

    struct TStats
    {
        qint64 startMs = -1;      // from Open to the first frame on the screen
        std::int64_t painted = 0; // frames that reached the screen while playing
        std::int64_t dropped = 0; // frames whose time passed while playing, never shown
    };
    const TStats &Stats() const { return FStats; }

    TPreviewView *View;
    QToolButton *btnPlay;
    QSlider *sldPosition;
    QLabel *lblTime;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Space, the arrows, Home, End, ',' and '.' (a frame back and on), Escape.
    bool KeyPressed(QKeyEvent *event);
    void Tick();
    void Show(std::int64_t Number, const avs::PFrame &Frame);
    void Painted(std::int64_t Number);
    void StartClock();
    void ShowState();
    void Stop();

    std::string FScript;
    std::unique_ptr<TPreviewFrames> FFrames;
    std::unique_ptr<TPreviewSound> FSound;
    QTimer *FTick = nullptr;
    std::int64_t FFrameCount = 0;
    double FFps = 25;
    std::int64_t FPhotoCount = 0;
    int FInterval = 1;

    bool FPlaying = false;
    bool FClockRunning = false;
    QElapsedTimer FClock;
    std::int64_t FClockFrame = 0; // the frame shown when the clock started
    std::int64_t FWanted = 0;     // the frame to show while the clock stands
    std::int64_t FShown = -1;
    std::int64_t FFailed = -1; // the frame whose failure the view shows; -1: none
    std::int64_t FLastPainted = -1;
    QElapsedTimer FOpened;
    TStats FStats;
};

// The command: the Output view's "Preview" button and Space on the photo row.
class TPreviewCommand : public QObject
{
public:
    explicit TPreviewCommand(TMainForm &Form);
    ~TPreviewCommand() override;

    TMouseEffectImage *pnl3_btnPreview;

    // Plays the show from its start.
    void PreviewClick(QObject *Sender);
    // Plays the show from the start of the photo at `Index`.
    void PreviewFrom(int Index);
    // The open preview window; null when none is open.
    TPreviewForm *Form() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TMainForm &FForm;
    TPreviewForm *FPreview = nullptr;
};

} // namespace quillon
