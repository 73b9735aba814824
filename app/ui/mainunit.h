// The main window: a borderless 630 × 530 picture with two views, the photo
// view (the photo list commands and the thumbnail panel) and the output view
// (the output settings and the Go command), a status line, the minimise and
// close glyphs, the "About " label, and a background that moves the window.
//
// The window owns all of the program's state: the photo list (the thumbnail
// panel's ThumbItems), the output settings (the controls), the job record and
// the run state. Its message procedure is the procedure of its window handle:
// the renderer's progress messages and the compressor list (WM_COPYDATA) come
// through it.
#pragma once

#include "app/job/job.h"
#include "app/job/work_thread.h"
#include "app/photos/PhotoThumbPanel.h"
#include "app/ui/MouseEffectImage.h"
#include "app/ui/TwoStatesPicButton.h"
#include "app/ui/movie_settings.h"
#include "app/ui/stdctrls.h"
#include "platform/forms/controls.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace quillon {

class TDropTarget;
class TKeyboard;
class TMovieLength;
class TPhotoRow;
class TPreviewCommand;
class TShowCommands;
class TStopCommand;

enum TView : std::uint8_t { PhotoView = 0, OutputView = 1 };

// The address that the Go command offers when no compressor entry names the
// preferred codec: where the encoder behind that entry comes from.
inline constexpr const char *DivXDownloadPage = "https://ffmpeg.org/download.html";

inline constexpr const char *ApplicationTitle = "Tessary";

// The window's font: Liberation Sans with a character height of 11 pixels, the
// metrics of the layout's 8-point sans serif.
QFont UiFont();
// A picture of the window's design, by its name in the artwork; empty when missing.
forms::TPicture Artwork(const char *name);

// The path a path box holds. A path is bytes and the box shows it as text,
// which cannot carry a name that is not UTF-8; the box keeps the bytes beside
// its text, and gives them back while it shows the text it was given with them.
void SetBoxPath(QLineEdit *box, const std::string &path);
std::string BoxPath(const QLineEdit *box);

class TMainForm : public QWidget, public TConversionWindow
{
public:
    // Creates the components from the window's design, then runs FormCreate.
    explicit TMainForm(QWidget *parent = nullptr);
    // Waits for a run's worker to end, then FormDestroy. The application object
    // must still exist: it serves the worker's last calls.
    ~TMainForm() override;

    // Components, in creation order.
    forms::TImage *mainImgBack;
    forms::TLabel *lblAbout;
    forms::TImage *pnl1_imgBack;
    forms::TLabel *sb_status;
    TTwoStatesPicButton *tabAddPhotos;
    TTwoStatesPicButton *tabOutput;
    TMouseEffectImage *pnl1_btnAdd;
    TMouseEffectImage *pnl1_btnAddFolder;
    TMouseEffectImage *pnl1_btnDelete;
    TMouseEffectImage *pnl1_btnDelAll;
    TMouseEffectImage *pnl3_btnGo;
    forms::TImage *Image1;
    forms::TImage *Image2;
    QScrollArea *pnl1_ScrollBox;
    TPhotoThumbPanel *PhotoThumbPanel1;
    TRadioGroup *pnl3_grpStandard;
    TRadioGroup *pnl3_grpResolution;
    QGroupBox *pnl3_grpSoundTrack;
    forms::TLabel *Label4;
    QLineEdit *edtSoundFile;
    QToolButton *btnSelectMusic;
    QAction *actClearSound; // in the sound file box: no sound track
    forms::TCustomPanel *pnl3_pnlOutput;
    forms::TLabel *lblInterval;
    TSpinEdit *edtInterval;
    forms::TLabel *lblOutputPath;
    QLineEdit *edtOutputPath;
    QToolButton *SpeedButton3;
    QPushButton *butBrowse;
    forms::TLabel *Label2;
    QComboBox *cmbCompressorList;
    QPushButton *Button3;
    TMovieSettingsBox *pnl3_grpMovie;
    QProgressBar *ProgressConvert;
    std::unique_ptr<TOpenDialog> dlgOpenPic;
    std::unique_ptr<TOpenDialog> dlgOpenMusic;

    // Event handlers; each ignores its sender.
    void FormCreate(QObject *Sender);
    void FormDestroy(QObject *Sender);
    void FormKeyUp(QObject *Sender, forms::WORD &Key, forms::TShiftState Shift);
    void tabAddPhotosClick(QObject *Sender);
    void tabOutputClick(QObject *Sender);
    void mainImgBackMouseDown(QObject *Sender, forms::TMouseButton Button, forms::TShiftState Shift,
                              int X, int Y);
    void lblAboutMouseMove(QObject *Sender, forms::TShiftState Shift, int X, int Y);
    void lblAboutMouseLeave(QObject *Sender);
    void lblAboutClick(QObject *Sender);
    void Image1Click(QObject *Sender);
    void Image2Click(QObject *Sender);
    // The photo list commands.
    void pnl1_btnAddClick(QObject *Sender);
    void pnl1_btnAddFolderClick(QObject *Sender);
    // After an add of folders: which of them, or of the folders in them, could
    // not be read (none: nothing is said).
    void WarnUnreadableFolders(const std::vector<std::string> &Folders);
    void pnl1_btnDeleteClick(QObject *Sender);
    void pnl1_btnDelAllClick(QObject *Sender);
    // The output settings.
    void pnl3_grpStandardClick(QObject *Sender);
    void btnSelectMusicClick(QObject *Sender);
    void SpeedButton3Click(QObject *Sender);
    void butBrowseClick(QObject *Sender);
    void Button3Click(QObject *Sender);
    // The Go command.
    void pnl3_btnGoClick(QObject *Sender);

    // The view switch.
    void ApplyView();
    TView ActiveView() const { return FActiveView; }
    // The job as Go takes it from the list and the settings.
    JobSettings CurrentJobSettings() const;
    // True when some compressor entry contains "DivX? 5".
    bool HasDivXCompressor() const;

    // The window's message procedure.
    LRESULT WndProc(HWND hwnd, UINT Msg, WPARAM wParam, LPARAM lParam);

    // The run's state.
    bool Converting() const { return FConverting; }
    std::int64_t TotalSeconds() const { return FTotalSeconds; }
    UINT ProgressMessage() const { return FProgressMessage; }
    const TWorkThreadInfo &JobInfo() const { return *FWorkThreadInfo; }
    // True while a run's worker thread exists, up to the end of its outcome box.
    bool RunActive() const { return FRunningWorkers > 0; }
    // The program is ending (a stop signal came): a run under way is asked to
    // stop and Go starts none.
    void EndRuns();

    // The row of thumbnails as people use it: adding without holding up the
    // window, the keyboard, the wheel, dragging to reorder.
    TPhotoRow &PhotoRow() const { return *FPhotoRow; }
    // Shows kept in files: Open Show and Save Show.
    TShowCommands &Shows() const { return *FShows; }
    // Files and folders dropped on the window (and named on the command line).
    TDropTarget &Drops() const { return *FDrops; }
    TKeyboard &Keyboard() const { return *FKeyboard; }
    TMovieLength &MovieLength() const { return *FMovieLength; }
    // The show played before it is made: the Output view's "Preview".
    TPreviewCommand &Preview() const { return *FPreview; }
    // Stop, beside the progress bar, and Escape during a run.
    TStopCommand &Stop() const { return *FStop; }
    // True while photos are being added; the list is not whole until then.
    bool Adding() const;

    // TConversionWindow
    HWND Handle() const override { return FHandle; }
    void SetStatusText(const std::string &text) override;
    void ConversionFinished() override;
    const std::atomic<int> *StopRequest() const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void CreateComponents();
    void CreateOutputControls();
    // Brings a control to the front of its kind: a picture or label stays below
    // every windowed control, as such controls always do.
    void BringToFront(QWidget *control);
    void WMCopyData(const win32::COPYDATASTRUCT *data);
    void WMProgress(WPARAM wParam);
    void StartWindowMove();
    void WorkerEnded();
    void SelectThumbnail(QObject *image);
    // Follows the movie's choices where they show: the thumbnails and the
    // picture dialog's preview stand upright or not, "Open" names the movie.
    void MovieSettingsChanged();
    // After the user changed the movie's container: a compressor the container
    // cannot carry gives way to the one quillon-render takes for it, and comes
    // back when a later container carries it and the one picked is still chosen.
    void FitCompressorToContainer();

    bool FConverting = false;
    bool FEnding = false;
    TView FActiveView = PhotoView;
    std::unique_ptr<TWorkThreadInfo> FWorkThreadInfo;
    HWND FHandle = nullptr;
    UINT FProgressMessage = 0;
    std::int64_t FTotalSeconds = 0;
    int FRunningWorkers = 0;

    std::vector<QWidget *> FWindowedControls; // bottom to top
    QWidget *FPanelHost = nullptr;            // the scroll box's content
    QPointF FLastPressGlobal;
    std::unique_ptr<TPhotoRow> FPhotoRow;
    std::unique_ptr<TShowCommands> FShows;
    std::unique_ptr<TDropTarget> FDrops;
    std::unique_ptr<TKeyboard> FKeyboard;
    std::unique_ptr<TMovieLength> FMovieLength;
    std::unique_ptr<TPreviewCommand> FPreview;
    std::unique_ptr<TStopCommand> FStop;
    int FPickedCompressor = -1;   // chosen by FitCompressorToContainer
    int FReplacedCompressor = -1; // the user's choice it replaced
    bool FMoving = false;
    QPoint FMoveStartPos;
    QPointF FMoveStartGlobal;
};

} // namespace quillon
