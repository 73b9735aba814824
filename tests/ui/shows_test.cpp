// Shows kept in files through the real window: what Save Show keeps, Open Show
// brings back, as far as it can, saying what it left out; Ctrl+S and Ctrl+O.
#include "window_support.h"

#include "app/photos/photo_commands.h"
#include "app/ui/drop.h"
#include "app/ui/photo_row.h"
#include "app/ui/show_commands.h"

#include "qtwidgets.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

using namespace quillon;
using namespace windowtest;
using testsupport::Click;
using testsupport::MakeFolder;
using testsupport::WriteFile;

namespace {

class Shows : public MainFormTest
{
protected:
    void Open(const std::string &path)
    {
        form->Shows().Open(path);
        WaitForAdd();
    }
    // The answers to "Save the changes?"; other boxes get their default.
    static int Answer(const testsupport::RecordedBox &box, int answer)
    {
        return box.text.starts_with("Save ") ? answer : win32::DefaultButton(box.type);
    }
    static int DontSave(const testsupport::RecordedBox &box) { return Answer(box, win32::IDNO); }
    static int Cancel(const testsupport::RecordedBox &box) { return Answer(box, win32::IDCANCEL); }
    static int Save(const testsupport::RecordedBox &box) { return Answer(box, win32::IDYES); }
    // Closes the window as its close glyph does; true when it closed.
    bool Close()
    {
        form->close();
        const bool closed = !form->isVisible();
        if (closed)
            testsupport::ShowWindow(form.get());
        return closed;
    }
};

} // namespace

TEST_F(Shows, ASavedShowOpensAgainWithItsPhotosAndSettings)
{
    MakeFolder(dir.file("trip/pics"));
    const std::vector<std::string> photos
        = {Jpeg("trip/pics/b.jpg"), Bmp("trip/pics/a.bmp"), Jpeg("elsewhere.jpg")};
    AddFiles({photos[0], photos[1]});
    AddFiles({photos[2]});
    ASSERT_GE(form->cmbCompressorList->count(), 2);
    form->pnl3_grpStandard->SetItemIndex(1);
    form->pnl3_grpResolution->SetItemIndex(2);
    form->edtInterval->SetText("5");
    form->edtOutputPath->setText(QString::fromStdString(dir.file("trip/Movies/")));
    form->edtSoundFile->setText(QString::fromStdString(dir.file("tune.wav")));
    form->cmbCompressorList->setCurrentIndex(1);
    const QString compressor = form->cmbCompressorList->currentText();
    MovieOptions movie;
    movie.width = 1280;
    movie.height = 720;
    movie.fit = MovieOptions::Fit::Letterbox;
    movie.moreSoundFiles = {dir.file("more.mp3")};
    form->pnl3_grpMovie->SetOptions(movie);
    const std::string show = dir.file("trip/trip.qshow");
    form->Shows().Save(show);
    EXPECT_EQ(Status(), "Saved trip.qshow.");
    EXPECT_NE(testsupport::ReadFile(show).find("Photo1=pics/b.jpg\r\n"), std::string::npos);

    // Everything changed, then the show opened again.
    Click(form->pnl1_btnDelAll, {10, 10});
    form->pnl3_grpStandard->SetItemIndex(0);
    form->pnl3_grpResolution->SetItemIndex(0);
    form->edtInterval->SetText("2");
    form->edtOutputPath->setText("/elsewhere");
    form->edtSoundFile->clear();
    form->cmbCompressorList->setCurrentIndex(0);
    form->pnl3_grpMovie->SetOptions(MovieOptions());
    form->tabOutputClick(nullptr);
    boxes.answer = DontSave;
    Open(show);
    EXPECT_EQ(List(), photos);
    EXPECT_EQ(form->PhotoThumbPanel1->SelectedIndex(), 0);
    EXPECT_EQ(form->ActiveView(), PhotoView);
    EXPECT_EQ(Status(), "3 photo(s) total.");
    EXPECT_EQ(form->pnl3_grpStandard->ItemIndex(), 1);
    EXPECT_EQ(form->pnl3_grpResolution->Item(2), "Low (352x288)");
    EXPECT_EQ(form->pnl3_grpResolution->ItemIndex(), 2);
    EXPECT_EQ(form->edtInterval->Text(), "5");
    EXPECT_EQ(form->edtOutputPath->text().toStdString(), dir.file("trip/Movies/"));
    EXPECT_EQ(form->edtSoundFile->text().toStdString(), dir.file("tune.wav"));
    EXPECT_EQ(form->cmbCompressorList->currentText(), compressor);
    EXPECT_EQ(form->pnl3_grpMovie->Options(), movie);
    EXPECT_EQ(boxes.texts(),
              std::vector<std::string>{"Save the changes to the show \"trip.qshow\"?"});
}

// Names are bytes: an output folder and a sound file whose names are not UTF-8
// reach the movie's settings and the saved show exactly, not as the text the
// boxes can show.
TEST_F(Shows, PathsThatAreNotUtf8GoThroughTheBoxesWhole)
{
    const std::string photo = Jpeg("a.jpg");
    const std::string folder = dir.file("out\xff"), sound = dir.file("tune\xfe.wav");
    WriteFile(sound, "");
    const std::string show = dir.file("bytes.qshow");
    WriteFile(show, "[Show]\nOutputFolder=" + folder + "\nSoundFile=" + sound
                        + "\n[Photos]\nPhoto1=a.jpg\n");
    Open(show);
    EXPECT_EQ(List(), std::vector<std::string>{photo});
    const JobSettings settings = form->CurrentJobSettings();
    EXPECT_EQ(settings.outputFolder, folder);
    EXPECT_EQ(settings.soundFile, sound);
    form->Shows().Save(dir.file("again.qshow"));
    const std::string again = testsupport::ReadFile(dir.file("again.qshow"));
    EXPECT_NE(again.find("OutputFolder=out\xff\r\n"), std::string::npos) << again;
    EXPECT_NE(again.find("SoundFile=tune\xfe.wav\r\n"), std::string::npos) << again;

    // The file dialog holds names as text: Save Show for a show in such a
    // folder starts in the nearest folder above it with a text name, and
    // offers no name made of the folder's (which would save elsewhere).
    MakeFolder(dir.file("caf\xe9"));
    WriteFile(dir.file("caf\xe9/trip.qshow"), "[Photos]\nPhoto1=" + photo + "\n");
    Open(dir.file("caf\xe9/trip.qshow"));
    QString start = "none", offered = "none";
    WhenDialogOpens<QFileDialog>([&](QFileDialog *dialog) {
        start = dialog->directory().absolutePath();
        offered = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
        dialog->reject();
    });
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(start.toStdString() + "/", dir.path());
    EXPECT_EQ(offered, "");
}

TEST_F(Shows, AnOpenLeavesOutWhatIsGoneOrBrokenAndSaysWhat)
{
    const std::string first = Jpeg("first.jpg"), last = Jpeg("last.jpg");
    WriteFile(dir.file("broken.jpg"), "no JPEG");
    const std::string show = dir.file("old.qshow");
    WriteFile(show, "[Show]\nStandard=SECAM\nInterval=3\nCompressor=No Such Codec\n[Photos]\n"
                    "Photo1=first.jpg\nPhoto2=gone.jpg\nPhoto3=broken.jpg\nPhoto4=last.jpg\n"
                    "Photo5=/dev/zero\nPhoto6=pics\n");
    MakeFolder(dir.file("pics"));
    AddFiles({Jpeg("before.jpg")});

    boxes.answer = DontSave;
    Open(show);
    EXPECT_EQ(List(), (std::vector<std::string>{first, last}));
    EXPECT_EQ(form->edtInterval->Text(), "3");
    EXPECT_EQ(form->pnl3_grpStandard->ItemIndex(), 0);
    ASSERT_EQ(boxes.texts().size(), 2u);
    const std::string text = boxes.texts()[1];
    EXPECT_TRUE(text.starts_with("The show \"old.qshow\" was opened without:\n"
                                 "Standard=SECAM\n"
                                 "Compressor=No Such Codec (not on this machine)\n"
                                 + dir.file("gone.jpg")
                                 + ": it is gone\n/dev/zero: it is not a "
                                   "plain file\n"
                                 + dir.file("pics") + ": it is a folder\n" + dir.file("broken.jpg")
                                 + ": Cannot read the picture"))
        << text;

    // A file that cannot be read changes nothing.
    boxes.clear();
    Open(dir.file("missing.qshow"));
    EXPECT_EQ(boxes.texts(),
              std::vector<std::string>{
                  "Cannot open the show \"missing.qshow\": No such file or directory"});
    EXPECT_EQ(List(), (std::vector<std::string>{first, last}));
}

// Photos that are gone when the show is opened (a disk not mounted), or that
// this user may not open yet (a file, or a folder on the way, its owner has
// yet to give leave for), are named and not dropped by the next save: each
// goes back after the photo it followed, or after the nearest one before that
// which the list still holds.
TEST_F(Shows, PhotosGoneOrLockedAtTheOpenAreSavedAtTheirPlaces)
{
    Jpeg("a.jpg"), Jpeg("b.jpg"), Jpeg("c.jpg");
    const std::string locked = Jpeg("locked.jpg");
    MakeFolder(dir.file("private"));
    const std::string hidden = Jpeg("private/p.jpg");
    const std::string show = dir.file("trip.qshow");
    WriteFile(show, "[Photos]\nPhoto1=usb/x.jpg\nPhoto2=a.jpg\nPhoto3=locked.jpg\nPhoto4=b.jpg\n"
                    "Photo5=usb/z.jpg\nPhoto6=c.jpg\nPhoto7=private/p.jpg\n");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir.file("private").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    {
        // The open as a user that may read the folder but not those two.
        struct AsNobody
        {
            AsNobody() { ok = ::setresuid(-1, 65534, -1) == 0; }
            ~AsNobody() { (void)::setresuid(-1, 0, -1); }
            bool ok;
        } nobody;
        ASSERT_TRUE(nobody.ok);
        Open(show);
    }
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(boxes.texts()[0], "The show \"trip.qshow\" was opened without:\n"
                                    + dir.file("usb/x.jpg") + ": it is gone\n" + locked
                                    + ": it cannot be read: Permission denied\n"
                                    + dir.file("usb/z.jpg") + ": it is gone\n" + hidden
                                    + ": it cannot be read: Permission denied");
    form->PhotoThumbPanel1->SetSelectedIndex(1);
    Click(form->pnl1_btnDelete, {10, 10});
    EXPECT_EQ(List(), (std::vector<std::string>{dir.file("a.jpg"), dir.file("c.jpg")}));
    form->Shows().Save(show);
    EXPECT_TRUE(testsupport::ReadFile(show).ends_with(
        "[Photos]\r\nPhoto1=usb/x.jpg\r\nPhoto2=a.jpg\r\nPhoto3=locked.jpg\r\n"
        "Photo4=usb/z.jpg\r\nPhoto5=c.jpg\r\nPhoto6=private/p.jpg\r\n"))
        << testsupport::ReadFile(show);
}

// A show saved before the movie choices were offered makes the movie it made
// then, whatever show was open before it.
TEST_F(Shows, AShowWithoutMovieChoicesOpensWithTheDefaults)
{
    Jpeg("a.jpg");
    MovieOptions chosen;
    chosen.fit = MovieOptions::Fit::Crop;
    chosen.container = MovieOptions::Container::Mp4;
    chosen.framesPerSecond = 30;
    form->pnl3_grpMovie->SetOptions(chosen);
    const std::string show = dir.file("first.qshow");
    WriteFile(show, "[Show]\nVersion=1\nStandard=PAL\nInterval=4\n[Photos]\nPhoto1=a.jpg\n");
    Open(show);
    EXPECT_EQ(form->pnl3_grpMovie->Options(), MovieOptions());
}

// A photo that is in the show twice: the gone photo follows the copy it
// followed, whichever copy the user removes. Remove All takes the gone photos
// with the rest, so none comes into the next show saved.
TEST_F(Shows, GonePhotosFollowTheCopyTheyFollowedAndGoWithRemoveAll)
{
    Jpeg("a.jpg"), Jpeg("b.jpg");
    const std::string show = dir.file("twice.qshow");
    WriteFile(show, "[Photos]\nPhoto1=a.jpg\nPhoto2=usb/g1.jpg\nPhoto3=b.jpg\nPhoto4=a.jpg\n"
                    "Photo5=usb/g2.jpg\n");
    Open(show);
    form->PhotoThumbPanel1->SetSelectedIndex(0);
    Click(form->pnl1_btnDelete, {10, 10});
    form->Shows().Save(show);
    EXPECT_TRUE(testsupport::ReadFile(show).ends_with("[Photos]\r\nPhoto1=usb/g1.jpg\r\n"
                                                      "Photo2=b.jpg\r\nPhoto3=a.jpg\r\n"
                                                      "Photo4=usb/g2.jpg\r\n"))
        << testsupport::ReadFile(show);

    Click(form->pnl1_btnDelAll, {10, 10});
    AddFiles({dir.file("b.jpg")});
    const std::string other = dir.file("other.qshow");
    form->Shows().Save(other);
    EXPECT_TRUE(testsupport::ReadFile(other).ends_with("[Photos]\r\nPhoto1=b.jpg\r\n"))
        << testsupport::ReadFile(other);
}

TEST_F(Shows, CtrlSAndCtrlOGoThroughTheirDialogs)
{
    const std::string photo = Jpeg("a.jpg");
    AddFiles({photo});
    QApplication::setActiveWindow(form.get());
    QString title;
    WhenDialogOpens<QFileDialog>([&](QFileDialog *dialog) {
        title = dialog->windowTitle();
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        ChooseFiles(dialog, {dir.file("mine")}); // the suffix comes by itself
    });
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(title, "Save Show");
    ASSERT_TRUE(testsupport::Exists(dir.file("mine.qshow")));

    Click(form->pnl1_btnDelAll, {10, 10});
    boxes.answer = DontSave;
    bool opened = false;
    WhenDialogOpens<QFileDialog>([&](QFileDialog *dialog) {
        opened = true;
        ChooseFiles(dialog, {dir.file("mine.qshow")});
    });
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(opened);
    WaitForAdd();
    EXPECT_EQ(List(), std::vector<std::string>{photo});
}

// A show's changes are not lost by a close: the user is asked. Cancel keeps the
// window as it is, so does a save that fails; Save writes the show, then closes.
TEST_F(Shows, ClosingAChangedShowAsksToSaveItFirst)
{
    const std::vector<std::string> photos = {Jpeg("a.jpg"), Jpeg("b.jpg")};
    AddFiles(photos);
    const std::string show = dir.file("trip.qshow");
    form->Shows().Save(show);
    const std::string saved = testsupport::ReadFile(show);
    form->edtInterval->SetText("7");
    Click(form->pnl1_btnDelete, {10, 10});
    const std::string question = "Save the changes to the show \"trip.qshow\"?";

    boxes.answer = Cancel;
    EXPECT_FALSE(Close());
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{question});
    EXPECT_EQ(List(), std::vector<std::string>{photos[1]});
    EXPECT_EQ(form->edtInterval->Text(), "7");
    EXPECT_EQ(testsupport::ReadFile(show), saved);

    // A folder where the show was: it cannot be written, the error says so.
    std::filesystem::remove(show);
    MakeFolder(show);
    boxes.clear();
    boxes.answer = Save;
    EXPECT_FALSE(Close());
    ASSERT_EQ(boxes.texts().size(), 2u);
    EXPECT_EQ(boxes.texts()[0], question);
    EXPECT_NE(boxes.texts()[1].find("trip.qshow"), std::string::npos) << boxes.texts()[1];

    std::filesystem::remove(show);
    boxes.clear();
    EXPECT_TRUE(Close());
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{question});
    const std::string written = testsupport::ReadFile(show);
    EXPECT_NE(written.find("Interval=7\r\n"), std::string::npos) << written;
    EXPECT_TRUE(written.ends_with("[Photos]\r\nPhoto1=b.jpg\r\n")) << written;
    // Saved, it closes unasked; so it does when Don't Save was the answer.
    boxes.clear();
    EXPECT_TRUE(Close());
    form->edtInterval->SetText("8");
    boxes.answer = DontSave;
    EXPECT_TRUE(Close());
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{question});
    EXPECT_EQ(testsupport::ReadFile(show), written);
}

// A setting that no line can hold is named as a setting, and a close whose save
// could not keep it stays open, so that the user sees what the file lacks.
TEST_F(Shows, ASettingNoLineCanHoldIsNamedAndTheCloseStays)
{
    AddFiles({Jpeg("a.jpg")});
    const std::string show = dir.file("trip.qshow");
    form->Shows().Save(show);
    const std::string sound = dir.file("a\nb.wav");
    SetBoxPath(form->edtSoundFile, sound);
    boxes.answer = Save;
    EXPECT_FALSE(Close());
    EXPECT_EQ(boxes.texts(),
              (std::vector<std::string>{
                  "Save the changes to the show \"trip.qshow\"?",
                  "These settings have a line break in their values and were not saved:\nSoundFile="
                      + sound}));
}

// A show another program saved after this window opened it is not written over
// unasked: No keeps the window and the other program's file as they are, Yes
// writes. The window's own saves, each a new file in the old one's place, ask
// nothing.
TEST_F(Shows, ASaveOverAShowChangedElsewhereAsksFirst)
{
    Jpeg("a.jpg");
    const std::string b = Jpeg("b.jpg");
    Jpeg("c.jpg");
    const std::string show = dir.file("trip.qshow");
    WriteFile(show, "[Show]\nInterval=3\n[Photos]\nPhoto1=a.jpg\nPhoto2=b.jpg\n");
    Open(show);
    const std::string theirs
        = "[Show]\nInterval=7\n[Photos]\nPhoto1=a.jpg\nPhoto2=b.jpg\nPhoto3=c.jpg\n";
    WriteFile(show, theirs);
    Click(form->pnl1_btnDelete, {10, 10});
    const std::string question = "The show \"trip.qshow\" was changed by another program since "
                                 "it was opened or saved here. Save over it?";
    int overwrite = win32::IDNO;
    boxes.answer = [&](const testsupport::RecordedBox &box) {
        return box.text == question ? overwrite : Save(box);
    };
    EXPECT_FALSE(Close());
    EXPECT_EQ(boxes.texts(),
              (std::vector<std::string>{"Save the changes to the show \"trip.qshow\"?", question}));
    EXPECT_EQ(testsupport::ReadFile(show), theirs);
    EXPECT_EQ(List(), std::vector<std::string>{b});

    overwrite = win32::IDYES;
    EXPECT_TRUE(Close());
    const std::string written = testsupport::ReadFile(show);
    EXPECT_NE(written.find("Interval=3\r\n"), std::string::npos) << written;
    EXPECT_TRUE(written.ends_with("[Photos]\r\nPhoto1=b.jpg\r\n")) << written;

    boxes.clear();
    form->edtInterval->SetText("4");
    EXPECT_TRUE(form->Shows().Save(show));
    form->edtInterval->SetText("5");
    EXPECT_TRUE(Close());
    EXPECT_EQ(boxes.texts(),
              std::vector<std::string>{"Save the changes to the show \"trip.qshow\"?"});
    EXPECT_NE(testsupport::ReadFile(show).find("Interval=5\r\n"), std::string::npos);
}

// Only a change asks: a list kept in no show closes as it always has, and a
// show opened without some of its photos and settings, or with values the
// controls write their own way, has not changed.
TEST_F(Shows, NoQuestionWithoutAShowOrWithoutAChange)
{
    AddFiles({Jpeg("a.jpg")});
    form->edtInterval->SetText("4");
    EXPECT_TRUE(Close());
    EXPECT_TRUE(boxes.texts().empty());

    MakeFolder(dir.file("pics"));
    const std::string show = dir.file("old.qshow");
    WriteFile(show, "[Show]\nStandard=SECAM\nResolution=low\nInterval=3\n"
                    "Compressor=No Such Codec\nSoundFile=music/../tune.wav\nFuture=1\n"
                    "[Photos]\nPhoto2=a.jpg\nPhoto1=gone.jpg\nPhoto3=pics\n");
    boxes.answer = DontSave;
    Open(show);
    ASSERT_EQ(boxes.texts().size(), 2u); // the question for the list, what was left out
    EXPECT_EQ(List(), std::vector<std::string>{dir.file("a.jpg")});
    EXPECT_FALSE(form->Shows().Changed());
    boxes.clear();
    EXPECT_TRUE(Close());
    EXPECT_TRUE(boxes.texts().empty());
    // Changed and changed back is no change either.
    form->edtInterval->SetText("9");
    EXPECT_TRUE(form->Shows().Changed());
    form->edtInterval->SetText("3");
    EXPECT_TRUE(Close());
    EXPECT_TRUE(boxes.texts().empty());
}

// The show as its file has it is what a change is measured against: a setting
// changed while its photos still come in is a change, and the close asks.
TEST_F(Shows, ASettingChangedWhileTheShowLoadsIsAChange)
{
    std::string lines;
    for (int i = 1; i <= 40; ++i)
        lines += "Photo" + std::to_string(i) + "=" + Jpeg("p" + std::to_string(i) + ".jpg") + "\n";
    const std::string show = dir.file("slow.qshow");
    WriteFile(show, "[Show]\nInterval=5\n[Photos]\n" + lines);
    form->Shows().Open(show);
    ASSERT_TRUE(form->PhotoRow().Adding());
    form->edtInterval->SetText("9");
    WaitForAdd();
    EXPECT_TRUE(form->Shows().Changed());
    boxes.answer = Save;
    EXPECT_TRUE(Close());
    EXPECT_EQ(boxes.texts(),
              std::vector<std::string>{"Save the changes to the show \"slow.qshow\"?"});
    EXPECT_NE(testsupport::ReadFile(show).find("Interval=9\r\n"), std::string::npos);
}

// Opening a show over one that changed, or over a list kept in no show, offers
// to save it first: Cancel opens nothing, Save asks where when there is no show
// file yet; a show dropped on the window asks the same.
TEST_F(Shows, OpeningAnotherShowOffersToSaveWhatItReplaces)
{
    const std::string a = Jpeg("a.jpg"), b = Jpeg("b.jpg");
    const std::string other = dir.file("other.qshow");
    WriteFile(other, "[Photos]\nPhoto1=b.jpg\n");
    AddFiles({a});

    boxes.answer = Cancel;
    Open(other);
    EXPECT_EQ(List(), std::vector<std::string>{a});
    EXPECT_EQ(boxes.texts(),
              std::vector<std::string>{"Save the photos and settings as a show before opening "
                                       "\"other.qshow\"?"});
    EXPECT_EQ(form->Shows().CurrentShow(), "");

    boxes.answer = Save;
    WhenDialogOpens<QFileDialog>(
        [&](QFileDialog *dialog) { ChooseFiles(dialog, {dir.file("first.qshow")}); });
    Open(other);
    EXPECT_EQ(List(), std::vector<std::string>{b});
    EXPECT_NE(testsupport::ReadFile(dir.file("first.qshow")).find("Photo1=a.jpg\r\n"),
              std::string::npos);
    EXPECT_EQ(form->Shows().CurrentShow(), other);

    // A drop over a changed show: Don't Save opens the dropped one.
    boxes.clear();
    boxes.answer = DontSave;
    form->edtInterval->SetText("6");
    form->Drops().Take({dir.file("first.qshow")});
    WaitForAdd();
    EXPECT_EQ(List(), std::vector<std::string>{a});
    EXPECT_EQ(boxes.texts(),
              std::vector<std::string>{"Save the changes to the show \"other.qshow\"?"});
    EXPECT_EQ(testsupport::ReadFile(other), "[Photos]\nPhoto1=b.jpg\n");
}
