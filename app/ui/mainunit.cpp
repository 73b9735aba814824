#include "app/ui/mainunit.h"

#include "app/job/app_define.h"
#include "app/job/compressor_list.h"
#include "app/photos/folder_scan.h"
#include "app/photos/photo_commands.h"
#include "app/ui/about.h"
#include "app/ui/drop.h"
#include "app/ui/keyboard.h"
#include "app/ui/movie_length.h"
#include "app/ui/photo_row.h"
#include "app/ui/preview.h"
#include "app/ui/show_commands.h"
#include "app/ui/stop_command.h"
#include "platform/forms/application.h"
#include "platform/media/compressors.h"
#include "platform/tamsik/tamsik.h"
#include "platform/win32/files.h"
#include "platform/win32/messagebox.h"
#include "platform/win32/shell.h"

#include <QAction>
#include <QChildEvent>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <climits>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <memory>

namespace quillon {

namespace {

// The answer to Go or a close while a run is under way.
constexpr const char *JustWaitText = "The application is converting photos to DVD, just wait.";

constexpr forms::TColor SkyBlue = 15780518;   // #A6CAF0
constexpr forms::TColor AboutRed = 255;       // #FF0000
constexpr forms::TColor StatusInk = 0x462D20; // #202D46
const forms::TColor White = forms::clWhite;

std::string Title()
{
    const forms::TApplication *app = forms::Application();
    return app ? app->Title() : std::string(ApplicationTitle);
}

void ShowMessage(HWND owner, const std::string &text)
{
    win32::MessageBoxA(owner, text.c_str(), Title().c_str(), win32::MB_OK);
}

// A white container of the output view.
template <class T>
T *WhiteBox(T *box)
{
    QPalette palette = box->palette();
    palette.setColor(QPalette::Window, Qt::white);
    box->setPalette(palette);
    box->setAutoFillBackground(true);
    return box;
}

// The group boxes' controls are placed for a caption that sits on the frame's
// top line, not above the frame.
QGroupBox *FramedGroup(QGroupBox *box)
{
    box->setStyleSheet(QStringLiteral(
        "QGroupBox { background: white; border: 1px solid #C9D2DE; border-radius: 4px;"
        " margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 7px; padding: 0px 1px; color: #202D46; }"));
    return WhiteBox(box);
}

forms::TLabel *PlainLabel(QWidget *parent, int x, int y, const char *caption)
{
    auto *label = new forms::TLabel(parent);
    label->SetTransparent(true);
    label->SetCaption(caption);
    label->move(x, y);
    return label;
}

// A box that shows a chosen path; only its "..." button changes it.
QLineEdit *PathBox(QWidget *parent, const QRect &geometry)
{
    auto *box = new QLineEdit(parent);
    box->setGeometry(geometry);
    box->setReadOnly(true);
    return box;
}

// The "..." button beside a path box.
QToolButton *ChooseButton(QWidget *parent, const QRect &geometry, const char *hint)
{
    auto *button = new QToolButton(parent);
    button->setGeometry(geometry);
    button->setText(QStringLiteral("..."));
    button->setToolTip(QString::fromUtf8(hint));
    return button;
}

// A Qt signal's handler: its error is shown, never left to unwind through Qt.
template <class Handler>
auto Guarded(Handler handler)
{
    return [handler] {
        try {
            handler();
        } catch (...) {
            forms::HandleException(std::current_exception());
        }
    };
}

void ReleaseCapture()
{
    if (QWidget *grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
}

} // namespace

// The property that holds a path box's bytes.
constexpr const char *kPathBytes = "pathBytes";

void SetBoxPath(QLineEdit *box, const std::string &path)
{
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    box->setText(QString::fromUtf8(bytes));
    box->setProperty(kPathBytes, bytes);
}

std::string BoxPath(const QLineEdit *box)
{
    const QByteArray bytes = box->property(kPathBytes).toByteArray();
    if (!bytes.isNull() && QString::fromUtf8(bytes) == box->text())
        return bytes.toStdString();
    return box->text().toStdString();
}

forms::TPicture Artwork(const char *name)
{
    const QImage image(QStringLiteral(":/artwork/") + QString::fromLatin1(name));
    forms::TPicture picture;
    if (!image.isNull()) {
        const forms::TBitmap bitmap(image);
        picture.SetGraphic(&bitmap);
    }
    return picture;
}

QFont UiFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

TMainForm::TMainForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint)
{
    CreateComponents();
    FormCreate(this);
    // Beyond the window's design: the row as people use it, shows kept in
    // files, drops, the preview, stopping a run, the keyboard and the movie's
    // length.
    FPhotoRow = std::make_unique<TPhotoRow>(*this);
    FShows = std::make_unique<TShowCommands>(*this);
    FDrops = std::make_unique<TDropTarget>(*this);
    FPreview = std::make_unique<TPreviewCommand>(*this);
    FStop = std::make_unique<TStopCommand>(*this);
    FKeyboard = std::make_unique<TKeyboard>(*this, *FShows);
    FMovieLength = std::make_unique<TMovieLength>(*this);
}

TMainForm::~TMainForm()
{
    // The worker still reaches the job record and this window: let it finish,
    // serving its synchronised calls and messages meanwhile. Its last call, the
    // end of its thread, wakes this loop.
    while (FRunningWorkers > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    // An add under way stops here: its workers end before the list goes.
    FMovieLength.reset();
    FKeyboard.reset();
    FStop.reset();
    FPreview.reset();
    FDrops.reset();
    FShows.reset();
    FPhotoRow.reset();
    FormDestroy(this);
}

void TMainForm::CreateComponents()
{
    setWindowTitle(QString::fromLatin1(ApplicationTitle));
    setWindowIcon(QIcon(QStringLiteral(":/artwork/quillon.png")));
    setFont(UiFont());
    setFixedSize(630, 530);
    move(332, 216);

    mainImgBack = new forms::TImage(this);
    mainImgBack->setGeometry(0, 0, 630, 530);
    {
        const forms::TPicture back = Artwork("background.jpg");
        mainImgBack->SetPicture(&back);
    }
    mainImgBack->OnMouseDown = [this](QObject *s, forms::TMouseButton b, forms::TShiftState sh,
                                      int x, int y) { mainImgBackMouseDown(s, b, sh, x, y); };

    lblAbout = new forms::TLabel(this);
    lblAbout->SetTransparent(true);
    lblAbout->SetFontColor(SkyBlue);
    lblAbout->SetCaption("About ");
    lblAbout->move(39, 477);
    lblAbout->setCursor(Qt::PointingHandCursor);
    lblAbout->OnClick = [this](QObject *s) { lblAboutClick(s); };
    lblAbout->OnMouseMove = [this](QObject *s, forms::TShiftState sh, int x, int y) {
        lblAboutMouseMove(s, sh, x, y);
    };
    lblAbout->OnMouseLeave = [this](QObject *s) { lblAboutMouseLeave(s); };

    pnl1_imgBack = new forms::TImage(this);
    pnl1_imgBack->setGeometry(15, 90, 419, 320);
    {
        const forms::TPicture empty = Artwork("empty.jpg");
        pnl1_imgBack->SetPicture(&empty);
    }

    sb_status = new forms::TLabel(this);
    sb_status->SetTransparent(true);
    sb_status->SetFontColor(StatusInk);
    sb_status->SetCaption("Quillon");
    sb_status->move(83, 429);
    // A long text (a show's name, a path) stops short of the Go button.
    sb_status->SetMaxWidth(340);

    auto makeTab = [this](int x, const char *up, const char *down, bool downState) {
        auto *tab = new TTwoStatesPicButton(this);
        tab->move(x, 31);
        const forms::TPicture upPicture = Artwork(up);
        const forms::TPicture downPicture = Artwork(down);
        tab->SetPicture(downState ? &downPicture : &upPicture);
        tab->SetUpPicture(&upPicture);
        tab->SetDownPicture(&downPicture);
        tab->SetDownState(downState);
        return tab;
    };
    tabAddPhotos = makeTab(58, "tab_photos_up.png", "tab_photos_down.png", true);
    tabAddPhotos->OnClick = [this](QObject *s) { tabAddPhotosClick(s); };
    tabOutput = makeTab(175, "tab_output_up.png", "tab_output_down.png", false);
    tabOutput->OnClick = [this](QObject *s) { tabOutputClick(s); };

    auto makeButton = [this](int x, int y, const char *origin, const char *over, const char *hint,
                             void (TMainForm::*handler)(QObject *)) {
        auto *button = new TMouseEffectImage(this);
        button->move(x, y);
        const forms::TPicture originPicture = Artwork(origin);
        const forms::TPicture overPicture = Artwork(over);
        button->SetPicture(&originPicture);
        button->SetOriginPicture(&originPicture);
        button->SetOverPicture(&overPicture);
        button->SetDownPicture(&overPicture);
        button->SetRevertOnLeave(false);
        button->setToolTip(QString::fromLatin1(hint));
        button->OnClick = [this, handler](QObject *s) { (this->*handler)(s); };
        return button;
    };
    pnl1_btnAdd = makeButton(446, 168, "btn_add.png", "btn_add_over.png", "Add photo(s)",
                             &TMainForm::pnl1_btnAddClick);
    pnl1_btnAddFolder = makeButton(446, 214, "btn_addfolder.png", "btn_addfolder_over.png",
                                   "Add photo(s) from folder", &TMainForm::pnl1_btnAddFolderClick);
    pnl1_btnDelete = makeButton(445, 260, "btn_remove.png", "btn_remove_over.png",
                                "Remove selected photo", &TMainForm::pnl1_btnDeleteClick);
    pnl1_btnDelAll = makeButton(446, 307, "btn_removeall.png", "btn_removeall_over.png",
                                "Remove all photo(s)", &TMainForm::pnl1_btnDelAllClick);
    pnl3_btnGo = makeButton(446, 421, "btn_go.png", "btn_go_over.png",
                            "Make the movie from the photo list", &TMainForm::pnl3_btnGoClick);

    auto makeGlyph = [this](int x, const char *name, void (TMainForm::*handler)(QObject *)) {
        auto *glyph = new forms::TImage(this);
        glyph->setGeometry(x, 6, 10, 11);
        const forms::TPicture picture = Artwork(name);
        glyph->SetPicture(&picture);
        glyph->OnClick = [this, handler](QObject *s) { (this->*handler)(s); };
        return glyph;
    };
    Image1 = makeGlyph(575, "glyph_minimise.png", &TMainForm::Image1Click);
    Image1->setToolTip(QStringLiteral("Minimize"));
    Image2 = makeGlyph(592, "glyph_close.png", &TMainForm::Image2Click);
    Image2->setToolTip(QStringLiteral("Close"));

    // The windowed controls, which always lie above the pictures and labels.
    pnl1_ScrollBox = new QScrollArea(this);
    pnl1_ScrollBox->setGeometry(24, 100, 404, 302);
    pnl1_ScrollBox->setWidgetResizable(false);
    pnl1_ScrollBox->setFrameShape(QFrame::NoFrame);
    WhiteBox(pnl1_ScrollBox->viewport());
    FPanelHost = WhiteBox(new QWidget);
    PhotoThumbPanel1 = new TPhotoThumbPanel(FPanelHost);
    PhotoThumbPanel1->setGeometry(8, 8, 370, 260);
    PhotoThumbPanel1->SetHorizontalGap(5);
    PhotoThumbPanel1->SetVerticalGap(20);
    PhotoThumbPanel1->SetBackColor(forms::clBlack);
    PhotoThumbPanel1->SetCellWidth(110);
    PhotoThumbPanel1->SetCellHeight(90);
    PhotoThumbPanel1->SetThumbWidth(0);
    PhotoThumbPanel1->SetThumbHeight(0);
    PhotoThumbPanel1->SetWrap(false);
    PhotoThumbPanel1->SetCellCount(0);
    PhotoThumbPanel1->setFocusPolicy(Qt::NoFocus);
    PhotoThumbPanel1->installEventFilter(this);
    FPanelHost->resize(8 + 370, 8 + 260);
    pnl1_ScrollBox->setWidget(FPanelHost);
    pnl1_ScrollBox->hide();
    FWindowedControls.push_back(pnl1_ScrollBox);

    CreateOutputControls();

    ProgressConvert = new QProgressBar(this);
    ProgressConvert->setGeometry(268, 431, 149, 12);
    ProgressConvert->setTextVisible(false);
    ProgressConvert->setRange(0, 100);
    ProgressConvert->setValue(0);
    ProgressConvert->hide();
    FWindowedControls.push_back(ProgressConvert);

    dlgOpenPic = std::make_unique<TOpenDialog>(this);
    dlgOpenPic->MultiSelect = true;
    dlgOpenPic->PicturePreview = true;
    dlgOpenPic->Title = "Open";
    dlgOpenMusic = std::make_unique<TOpenDialog>(this);
    // WAV first, as always; the renderer plays any sound FFmpeg decodes.
    dlgOpenMusic->Filter = "(Sound files) *.wav|*.wav|Other sound files|"
                           "*.mp3;*.m4a;*.aac;*.flac;*.ogg;*.oga;*.opus|All files|*";
    dlgOpenMusic->Title = "Open";
    MovieSettingsChanged();
}

void TMainForm::CreateOutputControls()
{
    pnl3_grpStandard = new TRadioGroup(this);
    FramedGroup(pnl3_grpStandard);
    pnl3_grpStandard->setGeometry(39, 205, 172, 84);
    pnl3_grpStandard->SetCaption(" Video Standard  ");
    pnl3_grpStandard->SetItems({"NTSC", "PAL"});
    pnl3_grpStandard->SetItemIndex(0);
    pnl3_grpStandard->OnClick = [this](QObject *s) { pnl3_grpStandardClick(s); };
    FWindowedControls.push_back(pnl3_grpStandard);

    pnl3_grpResolution = new TRadioGroup(this);
    FramedGroup(pnl3_grpResolution);
    pnl3_grpResolution->setGeometry(223, 207, 186, 82);
    pnl3_grpResolution->SetCaption(" Video Resolution  ");
    pnl3_grpResolution->SetItems({"High (720x480)", "Medium (352x480)", "Low (352x240)"});
    pnl3_grpResolution->SetItemIndex(0);
    FWindowedControls.push_back(pnl3_grpResolution);

    pnl3_grpSoundTrack = new QGroupBox(this);
    FramedGroup(pnl3_grpSoundTrack);
    pnl3_grpSoundTrack->setGeometry(39, 107, 368, 74);
    pnl3_grpSoundTrack->setTitle(QStringLiteral(" Sound Track  "));
    Label4 = PlainLabel(pnl3_grpSoundTrack, 10, 33, "Sound File:  ");
    edtSoundFile = PathBox(pnl3_grpSoundTrack, {78, 25, 214, 21});
    btnSelectMusic
        = ChooseButton(pnl3_grpSoundTrack, {301, 25, 23, 22}, "Choose a WAV sound track");
    connect(btnSelectMusic, &QToolButton::clicked, this,
            Guarded([this] { btnSelectMusicClick(btnSelectMusic); }));
    // Back to no sound: a clear sign at the box's end while it names a track,
    // and Delete or Backspace while the box has the focus.
    actClearSound = edtSoundFile->addAction(style()->standardIcon(QStyle::SP_LineEditClearButton),
                                            QLineEdit::TrailingPosition);
    actClearSound->setToolTip(QStringLiteral("No sound track"));
    actClearSound->setShortcuts({QKeySequence(Qt::Key_Delete), QKeySequence(Qt::Key_Backspace)});
    actClearSound->setShortcutContext(Qt::WidgetShortcut);
    actClearSound->setVisible(false);
    connect(actClearSound, &QAction::triggered, this,
            Guarded([this] { SetBoxPath(edtSoundFile, std::string()); }));
    connect(edtSoundFile, &QLineEdit::textChanged, actClearSound,
            [this](const QString &text) { actClearSound->setVisible(!text.isEmpty()); });
    FWindowedControls.push_back(pnl3_grpSoundTrack);

    pnl3_pnlOutput = WhiteBox(new forms::TCustomPanel(this));
    pnl3_pnlOutput->setGeometry(28, 296, 401, 96);
    pnl3_pnlOutput->SetBevelOuter(forms::TBevelCut::bvNone);
    pnl3_pnlOutput->SetColor(White);
    lblInterval = PlainLabel(pnl3_pnlOutput, 12, 15, "Slide Interval :   ");
    edtInterval = new TSpinEdit(pnl3_pnlOutput);
    // Wide enough for the largest interval, five digits, in the font in use.
    const int digits = edtInterval->fontMetrics().horizontalAdvance(QStringLiteral("65536"));
    edtInterval->setGeometry(97, 6, std::max(46, digits + 15 + 14), 22);
    edtInterval->SetMinValue(1);
    edtInterval->SetMaxValue(65536);
    edtInterval->SetIncrement(1);
    edtInterval->SetValue(2);
    lblOutputPath = PlainLabel(pnl3_pnlOutput, 12, 44, "Output Folder : ");
    edtOutputPath = PathBox(pnl3_pnlOutput, {96, 36, 177, 21});
    SetBoxPath(edtOutputPath, DefaultOutputFolder());
    SpeedButton3 = ChooseButton(pnl3_pnlOutput, {279, 33, 23, 22}, "Choose the output folder");
    connect(SpeedButton3, &QToolButton::clicked, this,
            Guarded([this] { SpeedButton3Click(SpeedButton3); }));
    butBrowse = new QPushButton(QStringLiteral("Open"), pnl3_pnlOutput);
    butBrowse->setGeometry(313, 33, 75, 23);
    connect(butBrowse, &QPushButton::clicked, this, Guarded([this] { butBrowseClick(butBrowse); }));
    Label2 = PlainLabel(pnl3_pnlOutput, 12, 73, "Compressor :  ");
    cmbCompressorList = new QComboBox(pnl3_pnlOutput);
    cmbCompressorList->setGeometry(96, 65, 209, 21);
    cmbCompressorList->setEditable(false);
    Button3 = new QPushButton(QStringLiteral("Config"), pnl3_pnlOutput);
    Button3->setGeometry(313, 62, 75, 23);
    connect(Button3, &QPushButton::clicked, this, Guarded([this] { Button3Click(Button3); }));
    FWindowedControls.push_back(pnl3_pnlOutput);

    pnl3_grpMovie = new TMovieSettingsBox(this);
    FramedGroup(pnl3_grpMovie);
    pnl3_grpMovie->setGeometry(447, 107, 168, 258);
    pnl3_grpMovie->OnChange = [this] { MovieSettingsChanged(); };
    pnl3_grpMovie->OnChosen = [this](const MovieOptions &Before) {
        if (pnl3_grpMovie->Options().container != Before.container)
            FitCompressorToContainer();
    };
    // A compressor chosen otherwise ends what the container's changes remember.
    connect(cmbCompressorList, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index != FPickedCompressor)
            FPickedCompressor = FReplacedCompressor = -1;
    });
    FWindowedControls.push_back(pnl3_grpMovie);
}

void TMainForm::MovieSettingsChanged()
{
    const MovieOptions &movie = pnl3_grpMovie->Options();
    PhotoThumbPanel1->ThumbItems()->SetAutoRotate(movie.autoRotate);
    dlgOpenPic->PreviewUpright = movie.autoRotate;
    butBrowse->setToolTip(QStringLiteral("Open the output folder, where the movie photo_video.%1 "
                                         "is made")
                              .arg(QString::fromLatin1(ContainerExtension(movie.container))));
}

void TMainForm::FitCompressorToContainer()
{
    const auto container = static_cast<media::Container>(pnl3_grpMovie->Options().container);
    const std::vector<media::CompressorEntry> &category = media::VideoCompressorCategory();
    auto carried = [&](int index) {
        return index >= 0 && index < cmbCompressorList->count()
               && static_cast<std::size_t>(index) < category.size()
               && media::ContainerCarries(container, category[index]);
    };
    const int current = cmbCompressorList->currentIndex();
    if (current == FPickedCompressor && FReplacedCompressor != current
        && carried(FReplacedCompressor)) {
        FPickedCompressor = -1;
        cmbCompressorList->setCurrentIndex(FReplacedCompressor);
        return;
    }
    if (current < 0 || carried(current))
        return;
    std::vector<std::string> names;
    for (int i = 0; i < cmbCompressorList->count(); ++i)
        names.push_back(cmbCompressorList->itemText(i).toStdString());
    const int usual = media::UsualCompressorIndex(container, names);
    if (usual < 0)
        return; // Go says what the container takes
    const int replaced = current != FPickedCompressor ? current : FReplacedCompressor;
    FPickedCompressor = usual;
    cmbCompressorList->setCurrentIndex(usual);
    FReplacedCompressor = replaced;
    sb_status->SetCaption(std::string(media::ContainerName(container))
                          + " movies take the compressor \""
                          + cmbCompressorList->currentText().toStdString() + "\".");
}

void TMainForm::FormCreate(QObject *)
{
    FConverting = false;
    FActiveView = PhotoView;
    FWorkThreadInfo = std::make_unique<TWorkThreadInfo>();
    FHandle = forms::AllocateHandle(
        this, [this](HWND hwnd, UINT msg, WPARAM w, LPARAM l) { return WndProc(hwnd, msg, w, l); });
    // Libraries that get nothing but the handle find the window by it.
    win32::SetPropA(FHandle, "QWidget", static_cast<QWidget *>(this));
    GetCompressorsList(FHandle);
    FProgressMessage = win32::RegisterWindowMessageA("WM_COMPRESS_POSITION");
    ReadApplicationInfo(ConfigFilePath());
    ApplyView();
}

void TMainForm::FormDestroy(QObject *)
{
    win32::RemovePropA(FHandle, "QWidget");
    FWorkThreadInfo.reset();
}

void TMainForm::FormKeyUp(QObject *, forms::WORD &Key, forms::TShiftState Shift)
{
    PhotoThumbPanel1->KeyUp(Key, Shift);
}

void TMainForm::BringToFront(QWidget *control)
{
    control->raise();
    const auto windowed = std::find(FWindowedControls.begin(), FWindowedControls.end(), control);
    if (windowed != FWindowedControls.end()) {
        FWindowedControls.erase(windowed);
        FWindowedControls.push_back(control);
        return;
    }
    for (QWidget *w : FWindowedControls)
        w->raise();
}

void TMainForm::ApplyView()
{
    const bool photo = FActiveView == PhotoView;
    tabAddPhotos->SetDownState(photo);
    tabOutput->SetDownState(FActiveView == OutputView);

    for (QWidget *w :
         {static_cast<QWidget *>(pnl1_btnAddFolder), static_cast<QWidget *>(pnl1_btnDelete),
          static_cast<QWidget *>(pnl1_btnAdd), static_cast<QWidget *>(pnl1_btnDelAll),
          static_cast<QWidget *>(pnl1_ScrollBox), static_cast<QWidget *>(pnl1_imgBack)})
        w->setVisible(photo);
    for (QWidget *w :
         {static_cast<QWidget *>(pnl3_grpStandard), static_cast<QWidget *>(pnl3_grpResolution),
          static_cast<QWidget *>(pnl3_grpSoundTrack), static_cast<QWidget *>(pnl3_btnGo),
          static_cast<QWidget *>(pnl3_pnlOutput), static_cast<QWidget *>(pnl3_grpMovie)})
        w->setVisible(!photo);

    if (photo) {
        if (PhotoThumbPanel1->ThumbItems()->Count() >= 1) {
            PhotoThumbPanel1->SetSelectedIndex(0);
            pnl1_imgBack->hide();
            pnl1_ScrollBox->show();
        } else {
            pnl1_imgBack->show();
            pnl1_ScrollBox->hide();
        }
        for (QWidget *w :
             {static_cast<QWidget *>(pnl1_btnAdd), static_cast<QWidget *>(pnl1_btnAddFolder),
              static_cast<QWidget *>(pnl1_btnDelete), static_cast<QWidget *>(pnl1_btnDelAll),
              static_cast<QWidget *>(pnl1_ScrollBox), static_cast<QWidget *>(pnl1_imgBack)})
            BringToFront(w);
        sb_status->SetCaption("Add or delete your photos. ");
    } else {
        for (QWidget *w :
             {static_cast<QWidget *>(pnl3_grpStandard), static_cast<QWidget *>(pnl3_grpResolution),
              static_cast<QWidget *>(pnl3_grpSoundTrack), static_cast<QWidget *>(pnl3_pnlOutput),
              static_cast<QWidget *>(pnl3_btnGo)})
            BringToFront(w);
        sb_status->SetCaption("Output settings view. ");
    }
}

void TMainForm::tabAddPhotosClick(QObject *)
{
    FActiveView = PhotoView;
    ApplyView();
}

void TMainForm::tabOutputClick(QObject *)
{
    FActiveView = OutputView;
    ApplyView();
}

void TMainForm::mainImgBackMouseDown(QObject *, forms::TMouseButton, forms::TShiftState Shift, int,
                                     int)
{
    if (Shift & forms::ssLeft) {
        ReleaseCapture();
        win32::SendMessageA(FHandle, win32::WM_SYSCOMMAND, win32::SC_MOVE | win32::HTCAPTION, 0);
    }
}

void TMainForm::lblAboutMouseMove(QObject *, forms::TShiftState, int, int)
{
    lblAbout->SetFontColor(AboutRed);
}

void TMainForm::lblAboutMouseLeave(QObject *)
{
    lblAbout->SetFontColor(SkyBlue);
}

void TMainForm::lblAboutClick(QObject *)
{
    TAboutForm about(this);
    about.exec();
}

void TMainForm::Image1Click(QObject *)
{
    showMinimized();
}

void TMainForm::Image2Click(QObject *)
{
    close();
}

// The photo list commands

void TMainForm::pnl1_btnAddClick(QObject *)
{
    if (FPhotoRow->RefuseWhileAdding())
        return;
    dlgOpenPic->Filter = "Picture Files (JPEG)|*.jpeg;*.jpg|Picture Files (BMP)|*.bmp|"
                         "All Picture Files|*.jpeg;*.jpg;*.bmp";
    if (!dlgOpenPic->Execute())
        return;
    // The thumbnails are made on worker threads; the command's last steps run
    // once every photo is in.
    FPhotoRow->Append([files = dlgOpenPic->Files()] { return files; },
                      [this] {
                          if (PhotoThumbPanel1->ThumbItems()->Count() >= 1)
                              PhotoThumbPanel1->SetSelectedIndex(0);
                          ApplyView();
                      });
}

void TMainForm::pnl1_btnAddFolderClick(QObject *)
{
    if (FPhotoRow->RefuseWhileAdding())
        return;
    std::string folder;
    BrowseForFolder(FHandle, folder);
    if (folder.empty())
        return;
    // The scan runs on a worker thread too, before the thumbnails.
    auto unreadable = std::make_shared<std::vector<std::string>>();
    FPhotoRow->Append(
        [folder, unreadable] {
            std::vector<std::string> list;
            *unreadable = ScanPictureFolder(list, folder);
            return list;
        },
        [this, unreadable] {
            ApplyView();
            sb_status->SetCaption(PhotoCountText(PhotoThumbPanel1->ThumbItems()->Count()));
            WarnUnreadableFolders(*unreadable);
        });
}

void TMainForm::WarnUnreadableFolders(const std::vector<std::string> &Folders)
{
    if (!Folders.empty())
        win32::MessageBoxA(FHandle, UnreadableFoldersMessage(Folders).c_str(), Title().c_str(),
                           win32::MB_OK | win32::MB_ICONWARNING);
}

bool TMainForm::Adding() const
{
    return FPhotoRow && FPhotoRow->Adding();
}

void TMainForm::SelectThumbnail(QObject *image)
{
    // The single-row panel gives its thumbnails no click handler of its own; a
    // click selects the photo, so that Remove can reach any of them.
    const TThumbItems *items = PhotoThumbPanel1->ThumbItems();
    for (int i = 0; i < items->Count(); ++i) {
        if (items->Items(i)->Image() == image) {
            if (PhotoThumbPanel1->SelectedIndex() != i)
                PhotoThumbPanel1->SetSelectedIndex(i);
            return;
        }
    }
}

void TMainForm::pnl1_btnDeleteClick(QObject *)
{
    if (FPhotoRow->RefuseWhileAdding())
        return;
    DeleteSelectedPhoto(*PhotoThumbPanel1);
    FPhotoRow->KeepInView();
}

void TMainForm::pnl1_btnDelAllClick(QObject *)
{
    if (FPhotoRow->RefuseWhileAdding())
        return;
    DeleteAllPhotos(*PhotoThumbPanel1);
    FShows->ForgetGonePhotos();
    FPhotoRow->KeepInView();
#ifdef __GLIBC__
    // The thumbnails were made on the loader's threads, in heaps of their own
    // that the C library keeps when they are freed: 23 KB a photo, 45 MB for
    // a list of 2,000 that the system would otherwise not get back.
    ::malloc_trim(0);
#endif
}

// The output settings

void TMainForm::pnl3_grpStandardClick(QObject *)
{
    const int standard = pnl3_grpStandard->ItemIndex() != 0 ? 1 : 0;
    static constexpr const char *Levels[3] = {"High", "Medium", "Low"};
    for (int k = 0; k < 3; ++k) {
        const OutputSize size = OutputSizeFor(standard, k);
        pnl3_grpResolution->SetItem(k, std::string(Levels[k]) + " (" + std::to_string(size.width)
                                           + "x" + std::to_string(size.height) + ")");
    }
}

void TMainForm::btnSelectMusicClick(QObject *)
{
    if (dlgOpenMusic->Execute())
        SetBoxPath(edtSoundFile, dlgOpenMusic->FileName());
}

void TMainForm::SpeedButton3Click(QObject *)
{
    std::string folder;
    BrowseForFolder(FHandle, folder);
    if (!folder.empty())
        SetBoxPath(edtOutputPath, folder);
}

void TMainForm::butBrowseClick(QObject *)
{
    const std::string folder = BoxPath(edtOutputPath);
    if (win32::DirectoryExists(folder))
        win32::ShellExecuteA(FHandle, "open", folder.c_str(), nullptr, nullptr,
                             win32::SW_SHOWNORMAL);
}

void TMainForm::Button3Click(QObject *)
{
    if (!setCompressorProperty(FHandle, cmbCompressorList->currentIndex()))
        ShowMessage(FHandle, "Can not configure the selected compressor.");
}

bool TMainForm::HasDivXCompressor() const
{
    for (int i = 0; i < cmbCompressorList->count(); ++i)
        if (cmbCompressorList->itemText(i).contains(QString::fromLatin1(PreferredCompressorMark),
                                                    Qt::CaseSensitive))
            return true;
    return false;
}

// The Go command

void TMainForm::pnl3_btnGoClick(QObject *)
{
    if (FEnding)
        return;
    // The list is not whole until the photos being added are in.
    if (FPhotoRow->RefuseWhileAdding())
        return;
    if (FConverting) {
        ShowMessage(FHandle, JustWaitText);
        return;
    }
    if (PhotoThumbPanel1->ThumbItems()->Count() == 0) {
        ShowMessage(FHandle, "Please add some photos first.");
        return;
    }
    // A run of another process (a second program, a quillon-render) would
    // write its own job over this one's files.
    win32::FolderLock jobFolderLock;
    if (!TryLockJobFolder(jobFolderLock)) {
        ShowMessage(FHandle, JobFolderBusyText);
        return;
    }
    if (!HasDivXCompressor()) {
        // Another run need not wait while the question is open; the folder is
        // taken again after it, and may have been taken meanwhile.
        jobFolderLock.Release();
        if (win32::MessageBoxA(
                FHandle,
                "DivX 5.0 codec isn' t detected in your computer, download and install it now?",
                "Confirm", win32::MB_YESNO | win32::MB_ICONQUESTION)
            == win32::IDYES)
            win32::ShellExecuteA(FHandle, "open", DivXDownloadPage, nullptr, nullptr,
                                 win32::SW_SHOWMAXIMIZED);
        if (!TryLockJobFolder(jobFolderLock)) {
            ShowMessage(FHandle, JobFolderBusyText);
            return;
        }
    }

    // The Go button does not take the focus, so the interval box may still hold a
    // number its own focus-out would have brought within bounds.
    edtInterval->ApplyBounds();

    // A question above may have waited while the program was told to end.
    if (FEnding)
        return;
    FTotalSeconds = PrepareConversion(CurrentJobSettings(), *FWorkThreadInfo);

    FStop->Arm();
    auto *thread = new TPhoto2VideoThread(*FWorkThreadInfo, *this, std::move(jobFolderLock));
    thread->OnTerminate = [this](forms::TThread *) { WorkerEnded(); };
    ++FRunningWorkers;
    // From here on the thread frees itself; nothing keeps a reference to it.
    thread->Start();
    FConverting = true;
}

JobSettings TMainForm::CurrentJobSettings() const
{
    JobSettings settings;
    settings.photos = PhotoList(*PhotoThumbPanel1);
    settings.standard = pnl3_grpStandard->ItemIndex();
    settings.resolution = pnl3_grpResolution->ItemIndex();
    settings.intervalText = edtInterval->Text();
    settings.outputFolder = BoxPath(edtOutputPath);
    settings.compressorIndex = cmbCompressorList->currentIndex();
    settings.soundFile = BoxPath(edtSoundFile);
    settings.movie = pnl3_grpMovie->Options();
    return settings;
}

void TMainForm::EndRuns()
{
    FEnding = true;
    if (RunActive())
        FStop->StopClick();
}

void TMainForm::WorkerEnded()
{
    --FRunningWorkers;
}

void TMainForm::SetStatusText(const std::string &text)
{
    sb_status->SetCaption(text);
}

void TMainForm::ConversionFinished()
{
    FConverting = false;
    ProgressConvert->hide();
    // The question of a close during the run is no longer asked.
    forms::CloseMessageBoxes(FHandle, JustWaitText);
}

const std::atomic<int> *TMainForm::StopRequest() const
{
    return FStop->Request();
}

// The message procedure

LRESULT TMainForm::WndProc(HWND, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (FProgressMessage != 0 && Msg == FProgressMessage && lParam == 0)
        WMProgress(wParam);
    switch (Msg) {
    case win32::WM_COPYDATA:
        WMCopyData(reinterpret_cast<const win32::COPYDATASTRUCT *>(lParam));
        return 0;
    case win32::WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == win32::SC_MOVE)
            StartWindowMove();
        return 0;
    default:
        return 0;
    }
}

void TMainForm::WMCopyData(const win32::COPYDATASTRUCT *data)
{
    const std::vector<std::string> names
        = data ? CompressorNamesFromBlock(data->lpData, data->cbData) : std::vector<std::string>();
    cmbCompressorList->clear();
    for (const std::string &name : names)
        cmbCompressorList->addItem(QString::fromStdString(name));
    if (cmbCompressorList->count() >= 1)
        cmbCompressorList->setCurrentIndex(0);
    for (int i = 0; i < cmbCompressorList->count(); ++i) {
        if (cmbCompressorList->itemText(i).contains(QString::fromLatin1(PreferredCompressorMark),
                                                    Qt::CaseSensitive)) {
            cmbCompressorList->setCurrentIndex(i);
            break;
        }
    }
}

void TMainForm::WMProgress(WPARAM wParam)
{
    const auto milliseconds = static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam));
    const double seconds = milliseconds / 1000.0;
    QString time = QString::number(seconds, 'f', 2);
    time.replace(QChar('.'), QLocale().decimalPoint());
    sb_status->SetCaption("Time: " + time.toStdString() + "s/" + std::to_string(FTotalSeconds)
                          + "s ");
    const int maximum = static_cast<int>(std::clamp<std::int64_t>(FTotalSeconds, 0, INT_MAX));
    ProgressConvert->show();
    ProgressConvert->setMaximum(maximum);
    // The bar shows a position beyond its range at the nearer end, as the
    // platform's progress bar does.
    ProgressConvert->setValue(std::clamp(milliseconds / 1000, 0, maximum));
}

// Moving the window

void TMainForm::StartWindowMove()
{
    if (QWindow *window = windowHandle(); window && window->startSystemMove())
        return;
    // No window manager to do it: follow the pointer until the button is released.
    FMoving = true;
    FMoveStartPos = pos();
    FMoveStartGlobal = FLastPressGlobal;
    grabMouse();
}

void TMainForm::mouseMoveEvent(QMouseEvent *event)
{
    if (FMoving) {
        move(FMoveStartPos + (event->globalPosition() - FMoveStartGlobal).toPoint());
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void TMainForm::mouseReleaseEvent(QMouseEvent *event)
{
    if (FMoving) {
        FMoving = false;
        releaseMouse();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

// Events

bool TMainForm::event(QEvent *event)
{
    if (event->type() == QEvent::WinIdChange || event->type() == QEvent::Show) {
        // Key preview: the window sees every key before the control with the
        // focus, which is what filtering its top-level window gives.
        if (QWindow *window = windowHandle()) {
            window->removeEventFilter(this);
            window->installEventFilter(this);
        }
    }
    return QWidget::event(event);
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == PhotoThumbPanel1) {
        // Thumbnails reach the panel at their first layout pass.
        if (event->type() == QEvent::ChildAdded)
            if (auto *image
                = dynamic_cast<forms::TImage *>(static_cast<QChildEvent *>(event)->child()))
                image->installEventFilter(this);
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (const auto *widget = qobject_cast<QWidget *>(watched);
            widget && widget->parentWidget() == PhotoThumbPanel1) {
            SelectThumbnail(watched);
            return false;
        }
    }
    if (watched == windowHandle()) {
        if (event->type() == QEvent::MouseButtonPress)
            FLastPressGlobal = static_cast<QMouseEvent *>(event)->globalPosition();
        if (event->type() == QEvent::KeyRelease) {
            auto *key = static_cast<QKeyEvent *>(event);
            forms::WORD code = forms::VirtualKeyOf(key->key());
            try {
                FormKeyUp(this, code, forms::ShiftStateOf(key->modifiers()));
            } catch (...) {
                forms::HandleException(std::current_exception());
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // The worker still uses the job record and sends to this window's handle.
    if (FConverting || FRunningWorkers > 0) {
        event->ignore();
        ShowMessage(FHandle, JustWaitText);
        return;
    }
    // The changes to a show are not lost by a close unasked.
    if (FShows && !FShows->MayClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace quillon
