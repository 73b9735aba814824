// The main window as a user meets it: start-up, the two views and their tabs,
// moving the window, the "About " label and the about box, the output settings
// with their rules, the compressor list messages and the compressor settings.
#include "window_support.h"

#include "app/job/app_define.h"
#include "app/ui/about.h"
#include "app/ui/show_commands.h"
#include "platform/media/compressors.h"
#include "platform/tamsik/tamsik.h"
#include "platform/win32/files.h"

#include "qtwidgets.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <optional>
#include <pwd.h>
#include <unistd.h>

using namespace quillon;
using namespace windowtest;
using testsupport::Click;
using testsupport::MoveTo;
using testsupport::Press;
using testsupport::Release;

namespace {

std::vector<std::string> Items(const QComboBox *combo)
{
    std::vector<std::string> items;
    for (int i = 0; i < combo->count(); ++i)
        items.push_back(combo->itemText(i).toStdString());
    return items;
}

std::vector<std::string> ResolutionCaptions(const TMainForm &form)
{
    return {form.pnl3_grpResolution->Item(0), form.pnl3_grpResolution->Item(1),
            form.pnl3_grpResolution->Item(2)};
}

bool Shown(const QWidget *widget)
{
    return widget->isVisibleTo(widget->window());
}

} // namespace

using MainForm = MainFormTest;

TEST_F(MainForm, StartsInThePhotoViewWithTheDefaults)
{
    EXPECT_EQ(form->windowTitle().toStdString(), "Tessary");
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form->size(), QSize(630, 530));
    EXPECT_EQ(form->ActiveView(), PhotoView);
    EXPECT_FALSE(form->Converting());

    EXPECT_TRUE(form->tabAddPhotos->DownState());
    EXPECT_FALSE(form->tabOutput->DownState());
    EXPECT_TRUE(Shown(form->pnl1_imgBack));
    EXPECT_FALSE(Shown(form->pnl1_ScrollBox));
    for (QWidget *w : {(QWidget *)form->pnl1_btnAdd, (QWidget *)form->pnl1_btnAddFolder,
                       (QWidget *)form->pnl1_btnDelete, (QWidget *)form->pnl1_btnDelAll})
        EXPECT_TRUE(Shown(w));
    for (QWidget *w : {(QWidget *)form->pnl3_btnGo, (QWidget *)form->pnl3_grpStandard,
                       (QWidget *)form->pnl3_grpResolution, (QWidget *)form->pnl3_grpSoundTrack,
                       (QWidget *)form->pnl3_pnlOutput, (QWidget *)form->ProgressConvert})
        EXPECT_FALSE(Shown(w));
    EXPECT_EQ(form->sb_status->Caption(), "Add or delete your photos. ");

    // The compressor list arrived while the window was made, in the category's
    // order, with the preferred entry selected.
    std::vector<std::string> category;
    for (const auto &entry : media::VideoCompressorCategory())
        category.push_back(entry.friendlyName);
    EXPECT_EQ(Items(form->cmbCompressorList), category);
    ASSERT_GE(form->cmbCompressorList->currentIndex(), 0);
    EXPECT_NE(form->cmbCompressorList->currentText().indexOf("DivX? 5"), -1);
    EXPECT_EQ(form->ProgressMessage(), win32::RegisterWindowMessageA("WM_COMPRESS_POSITION"));

    // The output settings' defaults.
    EXPECT_EQ(form->pnl3_grpStandard->ItemIndex(), 0);
    EXPECT_EQ(form->pnl3_grpResolution->ItemIndex(), 0);
    EXPECT_EQ(ResolutionCaptions(*form),
              (std::vector<std::string>{"High (720x480)", "Medium (352x480)", "Low (352x240)"}));
    EXPECT_EQ(form->edtInterval->Text(), "2");
    EXPECT_EQ(form->edtInterval->MinValue(), 1);
    EXPECT_EQ(form->edtInterval->MaxValue(), 65536);
    EXPECT_EQ(form->edtOutputPath->text().toStdString(),
              std::string(std::getenv("HOME")) + "/My Movie");
    EXPECT_TRUE(form->edtOutputPath->isReadOnly());
    EXPECT_EQ(form->edtSoundFile->text(), "");
    EXPECT_TRUE(form->edtSoundFile->isReadOnly());

    // config.ini beside the program is read once: none stands beside the tests.
    EXPECT_EQ(ApplicationInfo().Homepage, DefaultHomepage);
}

// The output folder box starts at "My Movie" in the home folder, byte for
// byte: a home folder whose name is not UTF-8 is not another folder made with
// replacement characters; without HOME, the password file says where it is.
TEST_F(MainForm, TheDefaultOutputFolderIsInTheHomeFolderByteForByte)
{
    const std::optional<std::string> saved
        = std::getenv("HOME") ? std::optional<std::string>(std::getenv("HOME")) : std::nullopt;
    auto startWithHome = [&](const char *home) {
        form.reset();
        if (home)
            ::setenv("HOME", home, 1);
        else
            ::unsetenv("HOME");
        form = std::make_unique<TMainForm>();
        if (saved)
            ::setenv("HOME", saved->c_str(), 1);
        return BoxPath(form->edtOutputPath);
    };
    EXPECT_EQ(startWithHome("/home/j\xf6rg"), "/home/j\xf6rg/My Movie");
    const passwd *user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    const std::string usersOwn = std::string(user->pw_dir) + "/My Movie";
    EXPECT_EQ(startWithHome(nullptr), usersOwn);
    EXPECT_EQ(startWithHome("relative/home"), usersOwn);
    EXPECT_EQ(startWithHome("/"), "/My Movie");
}

TEST_F(MainForm, PicturesGiveTheControlsTheirSizesAndWindowedControlsLieAbove)
{
    // Picture controls size themselves to their artwork, so a picture of the
    // wrong size would move or clip the control.
    struct Place
    {
        QWidget *control;
        QRect rect;
    };
    const Place places[] = {
        {form->tabAddPhotos, {58, 31, 112, 50}},
        {form->tabOutput, {175, 31, 113, 50}},
        {form->pnl1_btnAdd, {446, 168, 170, 28}},
        {form->pnl1_btnAddFolder, {446, 214, 170, 28}},
        {form->pnl1_btnDelete, {445, 260, 170, 28}},
        {form->pnl1_btnDelAll, {446, 307, 170, 28}},
        {form->pnl3_btnGo, {446, 421, 170, 37}},
        {form->Image1, {575, 6, 10, 11}},
        {form->Image2, {592, 6, 10, 11}},
    };
    for (const Place &place : places) {
        EXPECT_EQ(place.control->geometry(), place.rect);
        const auto *image = static_cast<forms::TImage *>(place.control);
        EXPECT_EQ(QSize(image->Picture()->Width(), image->Picture()->Height()), place.rect.size());
    }
    EXPECT_EQ(form->mainImgBack->Picture()->Width(), 630);
    EXPECT_EQ(form->pnl1_imgBack->Picture()->Height(), 320);

    // The windowed controls lie above every picture and label, also after the
    // view switch has brought pictures to the front.
    Click(form->tabOutput, {20, 20});
    Click(form->tabAddPhotos, {20, 20});
    const QObjectList &children = form->children();
    const auto order = [&](QWidget *w) { return children.indexOf(w); };
    for (QWidget *windowed : {(QWidget *)form->pnl1_ScrollBox, (QWidget *)form->ProgressConvert,
                              (QWidget *)form->pnl3_pnlOutput})
        for (QWidget *picture : {(QWidget *)form->pnl1_imgBack, (QWidget *)form->sb_status,
                                 (QWidget *)form->pnl1_btnAdd, (QWidget *)form->mainImgBack})
            EXPECT_GT(order(windowed), order(picture));
}

TEST_F(MainForm, TabsSwitchTheViewsAndTheStatusText)
{
    Click(form->tabOutput, {20, 20});
    EXPECT_EQ(form->ActiveView(), OutputView);
    EXPECT_TRUE(form->tabOutput->DownState());
    EXPECT_FALSE(form->tabAddPhotos->DownState());
    for (QWidget *w : {(QWidget *)form->pnl1_btnAdd, (QWidget *)form->pnl1_btnAddFolder,
                       (QWidget *)form->pnl1_btnDelete, (QWidget *)form->pnl1_btnDelAll,
                       (QWidget *)form->pnl1_ScrollBox, (QWidget *)form->pnl1_imgBack})
        EXPECT_FALSE(Shown(w));
    for (QWidget *w : {(QWidget *)form->pnl3_btnGo, (QWidget *)form->pnl3_grpStandard,
                       (QWidget *)form->pnl3_grpResolution, (QWidget *)form->pnl3_grpSoundTrack,
                       (QWidget *)form->pnl3_pnlOutput})
        EXPECT_TRUE(Shown(w));
    EXPECT_EQ(form->sb_status->Caption(), "Output settings view. ");
    EXPECT_FALSE(Shown(form->ProgressConvert));

    // The tab that is already down stays down.
    Click(form->tabOutput, {20, 20});
    EXPECT_TRUE(form->tabOutput->DownState());
    EXPECT_FALSE(form->tabAddPhotos->DownState());

    Click(form->tabAddPhotos, {20, 20});
    EXPECT_EQ(form->ActiveView(), PhotoView);
    EXPECT_TRUE(form->tabAddPhotos->DownState());
    EXPECT_FALSE(form->tabOutput->DownState());
    EXPECT_TRUE(Shown(form->pnl1_imgBack));
    EXPECT_FALSE(Shown(form->pnl3_btnGo));
    EXPECT_EQ(form->sb_status->Caption(), "Add or delete your photos. ");
}

TEST_F(MainForm, PhotoTabSelectsTheFirstPhotoAgain)
{
    std::vector<std::string> photos;
    for (int i = 0; i < 5; ++i)
        photos.push_back(Jpeg("p" + std::to_string(i) + ".jpg", 64, 48, i));
    AddFiles(photos);
    ASSERT_EQ(form->PhotoThumbPanel1->ThumbItems()->Count(), 5);
    EXPECT_TRUE(Shown(form->pnl1_ScrollBox));
    EXPECT_FALSE(Shown(form->pnl1_imgBack));
    form->PhotoThumbPanel1->SetSelectedIndex(2);
    form->sb_status->SetCaption("something else");

    Click(form->tabAddPhotos, {20, 20});
    EXPECT_EQ(form->PhotoThumbPanel1->SelectedIndex(), 0);
    EXPECT_EQ(form->sb_status->Caption(), "Add or delete your photos. ");
    // The panel has grown past the scroll box, which now scrolls it.
    EXPECT_EQ(form->PhotoThumbPanel1->width(), 5 * 115 + 5);
    EXPECT_EQ(form->pnl1_ScrollBox->widget()->width(), 8 + 5 * 115 + 5);
}

TEST_F(MainForm, LeftDragOnTheBackgroundMovesTheWindowOtherButtonsDoNot)
{
    const QPoint start = form->pos();
    Press(form->mainImgBack, {300, 15}, Qt::RightButton);
    MoveTo(form->mainImgBack, {340, 45});
    Release(form->mainImgBack, {340, 45}, Qt::RightButton);
    EXPECT_EQ(form->pos(), start);

    Press(form->mainImgBack, {300, 15});
    MoveTo(form->mainImgBack, {340, 45});
    EXPECT_EQ(form->pos(), start + QPoint(40, 30));
    // The window has moved under the pointer: the same place on the screen is
    // where the press was in the window.
    Release(form->mainImgBack, {300, 15});
    EXPECT_EQ(form->pos(), start + QPoint(40, 30));
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    // Presses elsewhere do not move it.
    const QPoint moved = form->pos();
    Press(form->sb_status, {2, 2});
    MoveTo(form->sb_status, {40, 40});
    Release(form->sb_status, {40, 40});
    EXPECT_EQ(form->pos(), moved);
}

TEST_F(MainForm, AboutLabelTurnsRedUnderThePointer)
{
    EXPECT_EQ(form->lblAbout->FontColor(), 15780518u);
    EXPECT_EQ(form->lblAbout->Caption(), "About ");
    MoveTo(form->lblAbout, {5, 5});
    MoveTo(form->lblAbout, {6, 6});
    EXPECT_EQ(form->lblAbout->FontColor(), 255u);
    EXPECT_EQ(form->lblAbout->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    MoveTo(form->mainImgBack, {300, 300});
    EXPECT_EQ(form->lblAbout->FontColor(), 15780518u);
    EXPECT_EQ(form->lblAbout->palette().color(QPalette::WindowText), QColor(0xA6, 0xCA, 0xF0));
}

TEST_F(MainForm, AboutBoxShowsAndOpensTheHomepage)
{
    struct Seen
    {
        std::string url, version, caption;
        QSize size;
        bool modal = false;
        bool keys = false;
    };
    auto openAbout = [&](Seen &seen) {
        WhenDialogOpens<TAboutForm>([&](TAboutForm *about) {
            seen.url = about->lblUrl->Caption();
            seen.version = about->lbl1->Caption();
            seen.caption = about->windowTitle().toStdString();
            seen.size = about->size();
            seen.modal = about->isModal();
            EXPECT_LE((about->geometry().center() - form->geometry().center()).manhattanLength(),
                      4);
            EXPECT_EQ(about->lblUrl->FontColor(), forms::clWhite);
            EXPECT_EQ(about->btnContinue->text(), "Continue");
            EXPECT_TRUE(about->btnContinue->isFlat());
            EXPECT_EQ(about->btnContinue->geometry(), QRect(208, 225, 73, 25));
            Click(about->lblUrl, {2, 2});
            if (seen.keys) {
                // Continue has the focus; Tab reaches the address, underlined,
                // and Enter opens it.
                EXPECT_EQ(QApplication::focusWidget(), about->btnContinue);
                QTest::keyClick(about->btnContinue, Qt::Key_Tab);
                EXPECT_EQ(QApplication::focusWidget(), about->lblUrl);
                EXPECT_TRUE(about->lblUrl->font().underline());
                QTest::keyClick(about->lblUrl, Qt::Key_Return);
            }
            Click(about->btnContinue, {10, 10});
        });
        Click(form->lblAbout, {5, 5});
    };

    // Without config.ini: the built-in address.
    ReadApplicationInfo(dir.file("missing.ini"));
    Seen first;
    first.keys = true;
    openAbout(first);
    EXPECT_EQ(first.url, DefaultHomepage);
    EXPECT_EQ(first.version, "Version 2.00 ");
    EXPECT_EQ(first.caption, "About");
    EXPECT_EQ(first.size, QSize(300, 266));
    EXPECT_TRUE(first.modal);
    ASSERT_EQ(shell.requests().size(), 2u); // the click and the key
    for (const auto &request : shell.requests()) {
        EXPECT_EQ(request.file, DefaultHomepage);
        EXPECT_EQ(request.verb, "");
        EXPECT_EQ(request.show, win32::SW_SHOWNORMAL);
    }

    // An empty Homepage leaves the design text and hands an empty address over.
    testsupport::WriteFile(dir.file("config.ini"), "[ApplicationInfo]\nHomepage=\n");
    ReadApplicationInfo(dir.file("config.ini"));
    Seen second;
    openAbout(second);
    EXPECT_EQ(second.url, "SDFm");
    ASSERT_EQ(shell.requests().size(), 3u);
    EXPECT_EQ(shell.requests()[2].file, "");
    EXPECT_TRUE(form->isVisible());
}

TEST_F(MainForm, StandardRelabelsTheResolutionsAndKeepsTheLevel)
{
    Click(form->tabOutput, {20, 20});
    Click(form->pnl3_grpResolution->Button(1), {5, 8});
    ASSERT_EQ(form->pnl3_grpResolution->ItemIndex(), 1);

    Click(form->pnl3_grpStandard->Button(1), {5, 8});
    EXPECT_EQ(form->pnl3_grpStandard->ItemIndex(), 1);
    EXPECT_EQ(ResolutionCaptions(*form),
              (std::vector<std::string>{"High (720x576)", "Medium (352x576)", "Low (352x288)"}));
    EXPECT_EQ(form->pnl3_grpResolution->ItemIndex(), 1);

    // The keyboard changes the standard too.
    form->pnl3_grpStandard->Button(1)->setFocus();
    QTest::keyClick(form->pnl3_grpStandard->Button(1), Qt::Key_Up);
    EXPECT_EQ(form->pnl3_grpStandard->ItemIndex(), 0);
    EXPECT_EQ(ResolutionCaptions(*form),
              (std::vector<std::string>{"High (720x480)", "Medium (352x480)", "Low (352x240)"}));
    EXPECT_EQ(form->pnl3_grpResolution->ItemIndex(), 1);
}

TEST_F(MainForm, IntervalBoxRules)
{
    Click(form->tabOutput, {20, 20});
    TSpinEdit *interval = form->edtInterval;
    interval->setFocus();
    interval->selectAll();
    // Letters, blanks and Enter are refused; digits, signs and the separator go in.
    QTest::keyClicks(interval, "1a2 -+.x");
    QTest::keyClick(interval, Qt::Key_Return);
    EXPECT_EQ(interval->Text(), "12-+.");
    EXPECT_EQ(interval->Value(), 1); // not a whole number

    // Pasted letters stand in the box and count as the minimum.
    interval->SetText("abc");
    EXPECT_EQ(interval->Value(), 1);

    interval->SetText("65535");
    QTest::keyClick(interval, Qt::Key_Up);
    EXPECT_EQ(interval->Text(), "65536");
    QTest::keyClick(interval, Qt::Key_Up);
    EXPECT_EQ(interval->Text(), "65536");
    Click(interval->DownButton(), {5, 3});
    EXPECT_EQ(interval->Text(), "65535");
    interval->SetText("1");
    QTest::keyClick(interval, Qt::Key_Down);
    EXPECT_EQ(interval->Text(), "1");
    Click(interval->UpButton(), {5, 3});
    EXPECT_EQ(interval->Text(), "2");

    // Leaving the box brings a value out of bounds back to the nearer bound;
    // a text that is no number stays as it is.
    for (const auto &[typed, left] : std::vector<std::pair<std::string, std::string>>{
             {"0", "1"}, {"-3", "1"}, {"70000", "65536"}, {"42", "42"}, {"abc", "abc"}}) {
        interval->setFocus();
        interval->SetText(typed);
        form->edtOutputPath->setFocus();
        EXPECT_EQ(interval->Text(), left) << typed;
    }
}

TEST_F(MainForm, OutputFolderChooserAndOpen)
{
    const std::string start = form->edtOutputPath->text().toStdString();
    folders.add(std::nullopt);
    Click(form->tabOutput, {20, 20});
    Click(form->SpeedButton3, {5, 5});
    EXPECT_EQ(form->edtOutputPath->text().toStdString(), start);
    ASSERT_EQ(folders.requests().size(), 1u);
    EXPECT_EQ(folders.requests()[0].lpszTitle, "Please specify a directory");
    EXPECT_EQ(folders.requests()[0].hwndOwner, form->Handle());

    folders.add(dir.path() + "Movies");
    Click(form->SpeedButton3, {5, 5});
    EXPECT_EQ(form->edtOutputPath->text().toStdString(), dir.path() + "Movies/");
    folders.add(std::nullopt);
    Click(form->SpeedButton3, {5, 5});
    EXPECT_EQ(form->edtOutputPath->text().toStdString(), dir.path() + "Movies/");
    folders.add("/");
    Click(form->SpeedButton3, {5, 5});
    EXPECT_EQ(form->edtOutputPath->text().toStdString(), "/");

    // "Open" only for a folder that exists.
    form->edtOutputPath->setText(QString::fromStdString(dir.path() + "Movies/"));
    Click(form->butBrowse, {5, 5});
    EXPECT_TRUE(shell.requests().empty());
    testsupport::MakeFolder(dir.path() + "Movies");
    Click(form->butBrowse, {5, 5});
    ASSERT_EQ(shell.requests().size(), 1u);
    EXPECT_EQ(shell.requests()[0].verb, "open");
    EXPECT_EQ(shell.requests()[0].file, dir.path() + "Movies/");
    EXPECT_EQ(shell.requests()[0].show, win32::SW_SHOWNORMAL);
    EXPECT_EQ(shell.requests()[0].owner, form->Handle());
}

TEST_F(MainForm, SoundFileFromItsDialog)
{
    const std::string tune = dir.file("tune.wav");
    testsupport::WriteFile(tune, "RIFF");
    QStringList filters;
    bool multiple = true;
    WhenDialogOpens<QFileDialog>([&](QFileDialog *dialog) {
        filters = dialog->nameFilters();
        multiple = dialog->fileMode() == QFileDialog::ExistingFiles;
        ChooseFiles(dialog, {tune});
    });
    Click(form->tabOutput, {20, 20});
    Click(form->btnSelectMusic, {5, 5});
    EXPECT_EQ(form->edtSoundFile->text().toStdString(), tune);
    ASSERT_EQ(filters.size(), 3);
    EXPECT_TRUE(filters[0].startsWith("(Sound files) *.wav ("));
    EXPECT_TRUE(filters[1].startsWith("Other sound files (*.[mM][pP]3 "));
    EXPECT_FALSE(multiple);

    WhenDialogOpens<QFileDialog>([](QFileDialog *dialog) { ChooseFiles(dialog, {}); });
    Click(form->btnSelectMusic, {5, 5});
    EXPECT_EQ(form->edtSoundFile->text().toStdString(), tune);
}

// A sound track once chosen can go again: the clear sign in the box, or Delete
// while the box has the focus; the sign shows only while there is a track.
TEST_F(MainForm, TheSoundTrackCanBeTakenAwayAgain)
{
    const std::string tune = dir.file("tune.wav");
    testsupport::WriteFile(tune, "RIFF");
    Click(form->tabOutput, {20, 20});
    EXPECT_FALSE(form->actClearSound->isVisible());
    auto choose = [&] {
        WhenDialogOpens<QFileDialog>([&](QFileDialog *dialog) { ChooseFiles(dialog, {tune}); });
        Click(form->btnSelectMusic, {5, 5});
        EXPECT_EQ(form->CurrentJobSettings().soundFile, tune);
    };
    choose();
    ASSERT_TRUE(form->actClearSound->isVisible());
    form->actClearSound->trigger();
    EXPECT_EQ(form->edtSoundFile->text(), "");
    EXPECT_EQ(form->CurrentJobSettings().soundFile, "");
    EXPECT_FALSE(form->actClearSound->isVisible());

    choose();
    QApplication::setActiveWindow(form.get());
    form->edtSoundFile->setFocus();
    QTest::keyClick(form->edtSoundFile, Qt::Key_Delete);
    EXPECT_EQ(form->CurrentJobSettings().soundFile, "");
}

// A status text longer than its room (a long show name) ends in "…" short of
// the Go button; its whole text stays the caption and is the hint.
TEST_F(MainForm, ALongStatusStopsShortOfGo)
{
    const std::string name(120, 'n');
    AddFiles({Jpeg("a.jpg")});
    form->Shows().Save(dir.file(name + ".qshow"));
    EXPECT_EQ(Status(), "Saved " + name + ".qshow.");
    EXPECT_LT(form->sb_status->geometry().right(), form->pnl3_btnGo->x());
    EXPECT_TRUE(form->sb_status->text().endsWith(QChar(0x2026)));
    EXPECT_EQ(form->sb_status->toolTip().toStdString(), Status());
    form->sb_status->SetCaption("Short.");
    EXPECT_EQ(form->sb_status->text(), "Short.");
    EXPECT_TRUE(form->sb_status->toolTip().isEmpty());
}

TEST_F(MainForm, CompressorListMessagesReplaceTheList)
{
    const HWND window = form->Handle();
    auto list = [&] { return Items(form->cmbCompressorList); };
    auto selected = [&] { return form->cmbCompressorList->currentIndex(); };

    EXPECT_EQ(SendCompressorList(window, {"Cinepak Codec", "Intel Indeo", "DivX? 5.0 Codec"}), 0);
    EXPECT_EQ(list(),
              (std::vector<std::string>{"Cinepak Codec", "Intel Indeo", "DivX? 5.0 Codec"}));
    EXPECT_EQ(selected(), 2);
    EXPECT_TRUE(form->HasDivXCompressor());

    SendCompressorList(window, {"Other", "DivX? 5 Pro", "DivX? 5.0 Codec"});
    EXPECT_EQ(selected(), 1);
    SendCompressorList(window, {"Cinepak", "DivX\xC2\xAE 5.0 Codec", "divx? 5"});
    EXPECT_EQ(selected(), 0);
    EXPECT_FALSE(form->HasDivXCompressor());

    // Duplicates stay, in the block's order.
    SendCompressorList(window, {"B", "A", "B"});
    EXPECT_EQ(list(), (std::vector<std::string>{"B", "A", "B"}));

    // A name that fills its slot becomes an item of exactly 255 characters.
    const std::string full(255, 'n');
    SendCompressorList(window, {full, "short"});
    EXPECT_EQ(list(), (std::vector<std::string>{full, "short"}));

    // n = 0 empties the list and leaves no selection.
    SendCompressorList(window, {});
    EXPECT_TRUE(list().empty());
    EXPECT_EQ(selected(), -1);
    SendCompressorList(window, {"x"}, -5);
    EXPECT_TRUE(list().empty());

    // A count larger than the block holds takes only the names that are there.
    SendCompressorList(window, {"one", "two"}, 100000);
    EXPECT_EQ(list(), (std::vector<std::string>{"one", "two"}));
    SendCompressorList(window, {"one", "two", "three"}, 3, 2);
    EXPECT_EQ(list(), (std::vector<std::string>{"one", "two"}));
}

TEST_F(MainForm, ConfigShowsTheSettingsOrSaysItCannot)
{
    Click(form->tabOutput, {20, 20});
    SendCompressorList(form->Handle(), {});
    Click(form->Button3, {5, 5});
    EXPECT_EQ(boxes.texts(),
              (std::vector<std::string>{"Can not configure the selected compressor."}));

    // With the real list the dialog of the selected compressor opens over the window.
    GetCompressorsList(form->Handle());
    boxes.clear();
    QWidget *parent = nullptr;
    WhenModalOpens([&](QWidget *dialog) {
        parent = dialog->parentWidget();
        static_cast<QDialog *>(dialog)->reject();
    });
    Click(form->Button3, {5, 5});
    EXPECT_EQ(parent, form.get());
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(MainForm, GlyphsMinimiseAndClose)
{
    Click(form->Image1, {5, 5});
    EXPECT_TRUE(form->isMinimized());
    form->showNormal();
    EXPECT_FALSE(form->isMinimized());
    EXPECT_EQ(form->ActiveView(), PhotoView);

    Click(form->Image2, {5, 5});
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(MainForm, KeysGoOnToTheFocusedControl)
{
    Click(form->tabOutput, {20, 20});
    form->edtInterval->setFocus();
    form->edtInterval->SetText("5");
    QTest::keyClick(form->windowHandle(), Qt::Key_Up);
    EXPECT_EQ(form->edtInterval->Text(), "6");
    EXPECT_EQ(form->PhotoThumbPanel1->ThumbItems()->Count(), 0);
}
