// Shows kept in files through the real window: what Save Show keeps, Open Show
// brings back, as far as it can, saying what it left out; Ctrl+S and Ctrl+O.
#include "window_support.h"

#include "app/photos/photo_commands.h"
#include "app/ui/show_commands.h"

#include "qtwidgets.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

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
    EXPECT_TRUE(boxes.texts().empty());
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

    Open(show);
    EXPECT_EQ(List(), (std::vector<std::string>{first, last}));
    EXPECT_EQ(form->edtInterval->Text(), "3");
    EXPECT_EQ(form->pnl3_grpStandard->ItemIndex(), 0);
    ASSERT_EQ(boxes.texts().size(), 1u);
    const std::string text = boxes.texts()[0];
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
