#include "app/ui/preview.h"

#include "app/job/app_define.h"
#include "app/ui/MouseEffectImage.h"
#include "app/ui/mainunit.h"
#include "app/ui/photo_row.h"
#include "app/ui/preview_frames.h"
#include "app/ui/preview_sound.h"
#include "platform/forms/application.h"
#include "platform/forms/errors.h"
#include "platform/win32/files.h"
#include "platform/win32/messagebox.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QTextOption>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quillon {

namespace {

// Often enough that a frame goes to the screen within a few milliseconds of its
// time, at every frame rate the show may have.
constexpr int kTickMs = 4;

QString MinutesSeconds(std::int64_t Seconds)
{
    return QStringLiteral("%1:%2").arg(Seconds / 60).arg(Seconds % 60, 2, 10, QChar('0'));
}

} // namespace

// TPreviewView

TPreviewView::TPreviewView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAccessibleName(QStringLiteral("Picture"));
}

void TPreviewView::SetFrame(std::int64_t Number, avs::PFrame Frame)
{
    FNumber = Number;
    FFrame = std::move(Frame);
    update();
}

void TPreviewView::SetMessage(const QString &Text)
{
    FMessage = Text;
    update();
}

void TPreviewView::SetFrameSize(QSize Size)
{
    // The same pixel shape the movie file is given.
    const SampleAspect sar = SampleAspectFor({Size.width(), Size.height()});
    const long long width
        = (static_cast<long long>(Size.width()) * sar.num * 2 + sar.den) / (2LL * sar.den);
    FShownSize = QSize(static_cast<int>(std::max(1LL, width)), Size.height());
    updateGeometry();
}

QSize TPreviewView::sizeHint() const
{
    return FShownSize;
}

QRect TPreviewView::PictureRect() const
{
    const QSize fit = FShownSize.scaled(size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - fit.width()) / 2, (height() - fit.height()) / 2), fit);
}

void TPreviewView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!FMessage.isEmpty()) {
        painter.setPen(Qt::white);
        // Between words; a name too long for a line (no blanks in it) breaks
        // where the line ends rather than running past the view's edges.
        QTextOption option(Qt::AlignCenter);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        painter.drawText(QRectF(rect().adjusted(16, 16, -16, -16)), FMessage, option);
        return;
    }
    if (!FFrame)
        return;
    const QImage image(FFrame->data(), FFrame->width(), FFrame->height(), FFrame->stride(),
                       QImage::Format_BGR888);
    const QRect at = PictureRect();
    if (at.size() == image.size()) {
        painter.drawImage(at.topLeft(), image);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(at, image);
    }
    if (OnPainted)
        OnPainted(FNumber);
}

// TPreviewForm

TPreviewForm::TPreviewForm(QWidget *Owner)
    : QWidget(Owner, Qt::Window)
{
    setWindowTitle(QStringLiteral("Preview"));
    setAccessibleName(QStringLiteral("Preview"));

    View = new TPreviewView(this);
    View->OnPainted = [this](std::int64_t Number) { Painted(Number); };

    btnPlay = new QToolButton(this);
    btnPlay->setAutoRaise(true);
    btnPlay->setIconSize(QSize(20, 20));
    connect(btnPlay, &QToolButton::clicked, this, [this] { FPlaying ? Pause() : Play(); });

    sldPosition = new QSlider(Qt::Horizontal, this);
    sldPosition->setAccessibleName(QStringLiteral("Position"));
    sldPosition->setToolTip(QStringLiteral("Position in the show"));
    connect(sldPosition, &QSlider::sliderMoved, this, [this](int Value) { SeekTo(Value); });
    connect(sldPosition, &QSlider::actionTriggered, this, [this](int Action) {
        if (Action != QAbstractSlider::SliderMove)
            SeekTo(sldPosition->sliderPosition());
    });

    lblTime = new QLabel(this);
    lblTime->setAccessibleName(QStringLiteral("Time"));
    lblTime->setMinimumWidth(
        lblTime->fontMetrics().horizontalAdvance(QStringLiteral("000:00 / 000:00")));
    lblTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto *controls = new QHBoxLayout;
    controls->setContentsMargins(6, 4, 8, 6);
    controls->addWidget(btnPlay);
    controls->addWidget(sldPosition, 1);
    controls->addWidget(lblTime);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(View, 1);
    layout->addLayout(controls);
    setTabOrder(btnPlay, sldPosition);
    btnPlay->installEventFilter(this);
    sldPosition->installEventFilter(this);

    FTick = new QTimer(this);
    FTick->setTimerType(Qt::PreciseTimer);
    FTick->setInterval(kTickMs);
    connect(FTick, &QTimer::timeout, this, [this] { Tick(); });
    ShowState();
}

TPreviewForm::~TPreviewForm()
{
    Stop();
}

void TPreviewForm::Stop()
{
    FTick->stop();
    FSound.reset();
    FFrames.reset();
    FPlaying = false;
    FClockRunning = false;
}

void TPreviewForm::Open(const JobSettings &Settings, int StartPhoto)
{
    Stop();
    std::string script = ScriptText(Settings);
    // From memory, under a name of its own: the script file stays as Go left it.
    avs::PClip clip;
    try {
        // A photo gone or damaged stops the show where it is due, as one that
        // goes while the preview plays; the rest can still be seen.
        clip = avs::OpenScriptText(script, "preview.avs", true);
    } catch (const avs::Error &e) {
        throw forms::Exception(e.what());
    }
    const avs::VideoInfo &info = clip->GetVideoInfo();
    FScript = std::move(script);
    FFps = info.fpsDenominator ? static_cast<double>(info.fpsNumerator) / info.fpsDenominator : 25;
    FFrameCount = info.frameCount;
    FPhotoCount = static_cast<std::int64_t>(Settings.photos.size());
    FInterval = IntervalValue(Settings.intervalText);

    std::vector<std::string> tracks;
    if (win32::FileExists(Settings.soundFile))
        tracks.push_back(Settings.soundFile);
    for (const std::string &track : Settings.movie.moreSoundFiles)
        if (win32::FileExists(track))
            tracks.push_back(track);
    try {
        FSound = TPreviewSound::Make(tracks, Settings.movie.soundEnd, FFrameCount / FFps);
    } catch (const std::exception &e) {
        throw forms::Exception(e.what());
    }

    FFrames = std::make_unique<TPreviewFrames>(std::move(clip));
    View->SetMessage(QString());
    View->SetFrame(-1, nullptr);
    View->SetFrameSize(QSize(info.width, info.height));
    View->setMinimumSize(View->sizeHint().boundedTo(QSize(352, 240)));
    sldPosition->setRange(0, static_cast<int>(std::max<std::int64_t>(FFrameCount - 1, 0)));
    sldPosition->setPageStep(static_cast<int>(std::lround(FFps * 5)));
    sldPosition->setSingleStep(static_cast<int>(std::lround(FFps)));

    FStats = {};
    FOpened.start();
    FShown = -1;
    FFailed = -1;
    FPlaying = true;
    FClockRunning = false;
    SeekTo(
        FirstFrameOfPhoto(std::max(StartPhoto, 0), FInterval, static_cast<int>(std::lround(FFps))));
    FTick->start();
}

bool TPreviewForm::Waking() const
{
    return FTick->isActive();
}

void TPreviewForm::Play()
{
    if (!FFrames || FPlaying)
        return;
    if (!FTick->isActive())
        FTick->start();
    if (FShown >= FFrameCount - 1)
        SeekTo(0);
    else if (FFailed >= 0)
        SeekTo(FShown >= 0 ? FShown : FWanted); // and the frames that failed are tried again
    else if (FShown >= 0)
        FWanted = FShown;
    FPlaying = true;
    FClockRunning = false;
    ShowState();
}

void TPreviewForm::Pause()
{
    if (FPlaying && FClockRunning && FShown >= 0)
        FWanted = FShown;
    FPlaying = false;
    FClockRunning = false;
    if (FSound)
        FSound->Stop();
    ShowState();
}

void TPreviewForm::SeekTo(std::int64_t Frame)
{
    if (!FFrames)
        return;
    FWanted = std::clamp<std::int64_t>(Frame, 0, std::max<std::int64_t>(FFrameCount - 1, 0));
    FClockRunning = false;
    if (FSound)
        FSound->Stop();
    // A cross-fade needs two photos: each is decoded by a thread of its own.
    std::vector<std::int64_t> warm;
    const FramePhotos photos
        = PhotosAtFrame(FWanted, FPhotoCount, FInterval, static_cast<int>(std::lround(FFps)));
    if (photos.second >= 0)
        for (std::int64_t photo : {photos.first, photos.second})
            warm.push_back(
                FirstFrameOfPhoto(photo, FInterval, static_cast<int>(std::lround(FFps))));
    FFrames->Seek(FWanted, warm);
    if (!FTick->isActive())
        FTick->start();
    ShowState();
}

void TPreviewForm::StartClock()
{
    FClockFrame = FShown;
    FClock.start();
    FClockRunning = true;
    FLastPainted = FShown - 1;
    if (FSound)
        FSound->Start(FShown / FFps);
}

void TPreviewForm::Tick()
{
    if (!FFrames)
        return;
    std::int64_t due = FWanted;
    if (FPlaying && FClockRunning)
        due = FClockFrame
              + static_cast<std::int64_t>(static_cast<double>(FClock.nsecsElapsed()) * FFps / 1e9);
    const std::int64_t last = FFrameCount - 1;
    due = std::min(due, last);
    // A frame that cannot be made (its photo gone or damaged) stops the show
    // when it is due, with the reason; the keys and the slider still move on.
    if (const std::string failure = FFrames->Failure(due); !failure.empty()) {
        if (FFailed != due) {
            FFailed = due;
            // The reason as the user knows it, without the script's function.
            QString reason = QString::fromStdString(failure);
            if (reason.startsWith(QStringLiteral("ImageSource: ")))
                reason.remove(0, 13);
            View->SetMessage(reason);
            // The slider and the time stand where the show stopped, and follow
            // the keys that move on from there.
            if (!sldPosition->isSliderDown())
                sldPosition->setValue(static_cast<int>(due));
            lblTime->setText(TimeText());
        }
        if (FPlaying)
            Pause();
        // It stands at that frame: the keys move on from there. Nothing to do
        // until a key, the slider or Play asks for a frame.
        FWanted = due;
        FTick->stop();
        return;
    }
    if (due != FShown)
        if (avs::PFrame frame = FFrames->Take(due)) {
            if (FFailed >= 0) {
                FFailed = -1;
                View->SetMessage(QString());
            }
            Show(due, frame);
        }
    if (FPlaying && !FClockRunning && FShown == FWanted)
        StartClock();
    if (FPlaying && FClockRunning && FShown == last) {
        // The show is over: it stands at its last frame.
        FWanted = last;
        Pause();
    }
    // Paused with the frame asked for on the screen: no reason to wake.
    if (!FPlaying && FShown == FWanted)
        FTick->stop();
}

void TPreviewForm::Show(std::int64_t Number, const avs::PFrame &Frame)
{
    FShown = Number;
    View->SetFrame(Number, Frame);
    if (!sldPosition->isSliderDown())
        sldPosition->setValue(static_cast<int>(Number));
    lblTime->setText(TimeText());
}

void TPreviewForm::Painted(std::int64_t Number)
{
    if (FStats.startMs < 0 && Number >= 0)
        FStats.startMs = FOpened.elapsed();
    if (!FPlaying || !FClockRunning || Number < 0)
        return;
    ++FStats.painted;
    if (Number > FLastPainted + 1)
        FStats.dropped += Number - FLastPainted - 1;
    FLastPainted = std::max(FLastPainted, Number);
}

QString TPreviewForm::TimeText() const
{
    const std::int64_t at = std::max<std::int64_t>(FFailed >= 0 ? FFailed : FShown, 0);
    return MinutesSeconds(static_cast<std::int64_t>(at / FFps)) + QStringLiteral(" / ")
           + MinutesSeconds(static_cast<std::int64_t>(FFrameCount / FFps));
}

void TPreviewForm::ShowState()
{
    const bool playing = FPlaying;
    btnPlay->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    btnPlay->setToolTip(playing ? QStringLiteral("Pause (Space)") : QStringLiteral("Play (Space)"));
    btnPlay->setAccessibleName(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    lblTime->setText(TimeText());
}

void TPreviewForm::keyPressEvent(QKeyEvent *event)
{
    if (!KeyPressed(event))
        QWidget::keyPressEvent(event);
}

bool TPreviewForm::eventFilter(QObject *watched, QEvent *event)
{
    // The window's keys mean the same whichever control has the focus.
    if (event->type() == QEvent::KeyPress && KeyPressed(static_cast<QKeyEvent *>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool TPreviewForm::KeyPressed(QKeyEvent *event)
{
    const std::int64_t second = static_cast<std::int64_t>(std::lround(FFps));
    // From the frame asked for last, so that keys pressed faster than frames are
    // made all count; from the one on the screen while the show runs.
    const std::int64_t at = FPlaying && FClockRunning && FShown >= 0 ? FShown : FWanted;
    switch (event->key()) {
    case Qt::Key_Escape:
        close();
        return true;
    case Qt::Key_Space:
        FPlaying ? Pause() : Play();
        return true;
    case Qt::Key_Left:
        SeekTo(at - second);
        return true;
    case Qt::Key_Right:
        SeekTo(at + second);
        return true;
    case Qt::Key_Comma:
        Pause();
        SeekTo(at - 1);
        return true;
    case Qt::Key_Period:
        Pause();
        SeekTo(at + 1);
        return true;
    case Qt::Key_Home:
        SeekTo(0);
        return true;
    case Qt::Key_End:
        SeekTo(FFrameCount - 1);
        return true;
    default:
        return false;
    }
}

void TPreviewForm::closeEvent(QCloseEvent *event)
{
    Stop();
    QWidget::closeEvent(event);
}

// TPreviewCommand

TPreviewCommand::TPreviewCommand(TMainForm &Form)
    : FForm(Form)
{
    pnl3_btnPreview = new TMouseEffectImage(&FForm);
    pnl3_btnPreview->move(446, 375);
    const forms::TPicture origin = Artwork("btn_preview.png");
    const forms::TPicture over = Artwork("btn_preview_over.png");
    pnl3_btnPreview->SetPicture(&origin);
    pnl3_btnPreview->SetOriginPicture(&origin);
    pnl3_btnPreview->SetOverPicture(&over);
    pnl3_btnPreview->SetDownPicture(&over);
    pnl3_btnPreview->setToolTip(QStringLiteral("Play the show as the movie will show it"));
    pnl3_btnPreview->setAccessibleName(QStringLiteral("Preview"));
    pnl3_btnPreview->OnClick = [this](QObject *Sender) { PreviewClick(Sender); };
    // It stands with Go, on the Output view.
    pnl3_btnPreview->setVisible(FForm.pnl3_btnGo->isVisibleTo(&FForm));
    FForm.pnl3_btnGo->installEventFilter(this);
}

TPreviewCommand::~TPreviewCommand()
{
    delete FPreview;
}

TPreviewForm *TPreviewCommand::Form() const
{
    return FPreview && FPreview->isVisible() ? FPreview : nullptr;
}

bool TPreviewCommand::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FForm.pnl3_btnGo) {
        if (event->type() == QEvent::ShowToParent)
            pnl3_btnPreview->show();
        else if (event->type() == QEvent::HideToParent)
            pnl3_btnPreview->hide();
    }
    return false;
}

void TPreviewCommand::PreviewClick(QObject *)
{
    PreviewFrom(0);
}

void TPreviewCommand::PreviewFrom(int Index)
{
    // The list is not whole until the photos being added are in.
    if (FForm.PhotoRow().RefuseWhileAdding())
        return;
    if (FForm.PhotoThumbPanel1->ThumbItems()->Count() == 0) {
        const forms::TApplication *app = forms::Application();
        win32::MessageBoxA(FForm.Handle(), "Please add some photos first.",
                           app ? app->Title().c_str() : ApplicationTitle, win32::MB_OK);
        return;
    }
    // What Go would take: the interval within its bounds.
    FForm.edtInterval->ApplyBounds();
    const JobSettings settings = FForm.CurrentJobSettings();
    // One window, kept while the main window lives: closing it stops the show
    // and lets its frames go.
    const bool fresh = !FPreview;
    if (fresh)
        FPreview = new TPreviewForm(&FForm);
    const bool shown = FPreview->isVisible();
    FPreview->Open(settings, Index);
    if (!shown) {
        FPreview->adjustSize();
        FPreview->move(FForm.geometry().center() - FPreview->rect().center());
    }
    FPreview->show();
    FPreview->raise();
    FPreview->activateWindow();
}

} // namespace quillon
