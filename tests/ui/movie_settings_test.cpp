// The movie's further choices in the program: the dialog, the box on the output
// view that sums them up, and what Go hands to the run.
#include "window_support.h"

#include "app/job/script_writer.h"

#include "media_support.h"
#include "pictures.h"
#include "qtwidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <cstring>

using namespace quillon;
using namespace windowtest;
using testsupport::Click;
using testsupport::ReadFile;

namespace {

class MovieSettings : public MainFormTest
{
protected:
    void SetUp() override
    {
        MainFormTest::SetUp();
        form->edtOutputPath->setText(QString::fromStdString(dir.file("out")));
        Click(form->tabOutput, {20, 20});
    }
};

} // namespace

TEST_F(MovieSettings, TheDialogHandsBackEveryChoiceAndCancelKeepsTheOldOnes)
{
    MovieOptions chosen;
    chosen.width = 3840;
    chosen.height = 2160;
    chosen.framesPerSecond = 50;
    chosen.fit = MovieOptions::Fit::Blur;
    chosen.autoRotate = false;
    chosen.container = MovieOptions::Container::Matroska;
    // Names are bytes: one that is not UTF-8 comes back whole.
    chosen.moreSoundFiles = {"/music/one.mp3", "/music/two.flac", "/music/m\xfcsik.opus"};
    chosen.soundEnd = MovieOptions::SoundEnd::Loop;
    TMovieSettingsDialog dialog(chosen, form.get());
    EXPECT_EQ(dialog.cmbFrameSize->currentText(), "3840 x 2160 (2160p)");
    EXPECT_FALSE(dialog.edtWidth->isEnabled());
    EXPECT_EQ(dialog.Options(), chosen);

    // Another size: the boxes open, and an odd side goes down to an even one.
    dialog.cmbFrameSize->setCurrentIndex(dialog.cmbFrameSize->count() - 1);
    EXPECT_TRUE(dialog.edtWidth->isEnabled());
    dialog.edtWidth->setValue(999);
    dialog.edtHeight->setValue(500);
    dialog.lstSoundFiles->item(1)->setSelected(true);
    dialog.btnRemoveSound->click();
    const MovieOptions changed = dialog.Options();
    EXPECT_EQ(changed.width, 998);
    EXPECT_EQ(changed.height, 500);
    EXPECT_EQ(changed.moreSoundFiles,
              (std::vector<std::string>{"/music/one.mp3", "/music/m\xfcsik.opus"}));

    // Through the box on the output view: Cancel changes nothing.
    form->pnl3_grpMovie->SetOptions(chosen);
    WhenDialogOpens<TMovieSettingsDialog>([](TMovieSettingsDialog *d) {
        d->cmbFit->setCurrentIndex(0);
        d->reject();
    });
    Click(form->pnl3_grpMovie->btnSettings, {5, 5});
    EXPECT_EQ(form->pnl3_grpMovie->Options(), chosen);
    const QString summary = form->pnl3_grpMovie->lblSummary->text();
    EXPECT_TRUE(summary.contains("3840 x 2160") && summary.contains("photo_video.mkv")
                && summary.contains("3 more sound tracks"))
        << summary.toStdString();
    // "Open" names the movie it opens the folder of.
    EXPECT_TRUE(form->butBrowse->toolTip().contains("photo_video.mkv"));
    EXPECT_FALSE(form->dlgOpenPic->PreviewUpright);
}

// A container that cannot carry the chosen compressor gets the one
// quillon-render takes for it; the compressor chosen before comes back with a
// container that carries it, unless another was chosen meanwhile.
TEST_F(MovieSettings, AContainerGetsACompressorItCarries)
{
    auto index = [&](const char *name) {
        return form->cmbCompressorList->findText(QString::fromLatin1(name), Qt::MatchContains);
    };
    const int divx = index("DivX? 5"), vp9 = index("VP9"), av1 = index("AV1"),
              mjpeg = index("Motion JPEG");
    if (divx < 0 || vp9 < 0 || av1 < 0 || mjpeg < 0)
        GTEST_SKIP() << "this FFmpeg lacks a compressor the test needs";
    auto choose = [&](MovieOptions::Container container) {
        WhenDialogOpens<TMovieSettingsDialog>([container](TMovieSettingsDialog *d) {
            d->cmbContainer->setCurrentIndex(static_cast<int>(container));
            d->accept();
        });
        Click(form->pnl3_grpMovie->btnSettings, {5, 5});
        EXPECT_EQ(form->pnl3_grpMovie->Options().container, container);
        return form->cmbCompressorList->currentIndex();
    };
    form->cmbCompressorList->setCurrentIndex(mjpeg);
    EXPECT_EQ(choose(MovieOptions::Container::WebM), vp9);
    EXPECT_EQ(Status(), "WebM movies take the compressor \"VP9 Codec (libvpx)\".");
    EXPECT_EQ(choose(MovieOptions::Container::Avi), mjpeg);

    // Matroska carries Motion JPEG, AVI not the AV1 the user took meanwhile.
    EXPECT_EQ(choose(MovieOptions::Container::Matroska), mjpeg);
    EXPECT_EQ(choose(MovieOptions::Container::WebM), vp9);
    form->cmbCompressorList->setCurrentIndex(av1);
    EXPECT_EQ(choose(MovieOptions::Container::Matroska), av1);
    EXPECT_EQ(choose(MovieOptions::Container::Avi), divx);
    EXPECT_EQ(choose(MovieOptions::Container::WebM), av1);
    form->cmbCompressorList->setCurrentIndex(divx);
    EXPECT_EQ(choose(MovieOptions::Container::Mp4), divx);
    // A show's container and compressor come as the show gives them.
    form->pnl3_grpMovie->SetOptions(MovieOptions{.container = MovieOptions::Container::WebM});
    EXPECT_EQ(form->cmbCompressorList->currentIndex(), divx);
}

TEST_F(MovieSettings, ChoicesMadeInTheDialogReachTheJobFilesAndTheMovie)
{
    const std::string side = dir.file("side.jpg");
    testsupport::WriteOrientedJpeg(side, 60, 40, testsupport::Gradient(1), 6);
    const std::string plain = Jpeg("plain.jpg", 96, 64, 2);
    AddFiles({side, plain});
    const auto &thumbOfSide = *form->PhotoThumbPanel1->ThumbItems()->Items(0)->Image()->Picture();
    EXPECT_EQ(thumbOfSide.Width(), 60); // upright

    WhenDialogOpens<TMovieSettingsDialog>([](TMovieSettingsDialog *d) {
        d->cmbFrameSize->setCurrentIndex(d->cmbFrameSize->count() - 1);
        d->edtWidth->setValue(320);
        d->edtHeight->setValue(180);
        d->cmbFrameRate->setCurrentIndex(d->cmbFrameRate->findData(30));
        d->cmbFit->setCurrentIndex(static_cast<int>(MovieOptions::Fit::Letterbox));
        d->chkAutoRotate->setChecked(false);
        d->accept();
    });
    Click(form->pnl3_grpMovie->btnSettings, {5, 5});
    EXPECT_EQ(thumbOfSide.Width(), 40); // as stored, made again at once

    form->edtInterval->SetText("1");
    Click(form->pnl3_btnGo, {20, 15});
    ASSERT_TRUE(WaitUntil([&] { return !form->RunActive(); }));
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Video File Generation Compeleted."}));

    MovieOptions expected;
    expected.width = 320;
    expected.height = 180;
    expected.framesPerSecond = 30;
    expected.fit = MovieOptions::Fit::Letterbox;
    expected.autoRotate = false;
    EXPECT_EQ(form->JobInfo().Movie, expected);
    EXPECT_EQ(ReadFile(dir.job("param.ini")),
              "[Temp]\r\nOutputWidth=320\r\nOutputHeight=180\r\nInterval=1\r\nAutoRotate=0\r\n");
    EXPECT_EQ(ReadFile(dir.job("temp.avs")), BuildScript({side, plain}, 0, 0, "1", expected));
    const auto info = mediatest::ProbeAvi(dir.file("out/photo_video.avi"));
    ASSERT_NE(info.video(), nullptr);
    EXPECT_EQ(info.video()->width, 320);
    EXPECT_EQ(info.video()->height, 180);
    EXPECT_EQ(info.video()->frames, 30 * (2 * 2 - 1));
}

TEST_F(MovieSettings, TheAddPhotosPreviewFollowsTheUprightChoiceAndReadsBitmapsAsTheList)
{
    std::string side = dir.file("side.jpg");
    testsupport::WriteOrientedJpeg(side, 60, 40, testsupport::Gradient(1), 6);
    // Made beside the dialog, which never waits for it: a large photo is
    // given up when another is chosen, and only the last one chosen shows.
    testsupport::WriteJpeg(dir.file("large.jpg"), 4000, 3000, testsupport::Gradient(2),
                           testsupport::JpegKind::Progressive);
    auto previewOf = [&] {
        QSize shown;
        WhenDialogOpens<QFileDialog>([&](QFileDialog *dialog) {
            auto *preview = dialog->findChild<QLabel *>(QStringLiteral("preview"));
            if (!preview)
                return dialog->reject();
            emit dialog->currentChanged(QString::fromStdString(dir.file("large.jpg")));
            emit dialog->currentChanged(QString::fromStdString(side));
            EXPECT_TRUE(preview->pixmap().isNull());
            EXPECT_TRUE(WaitUntil([&] { return !preview->pixmap().isNull(); }));
            shown = preview->pixmap().size();
            dialog->reject();
        });
        form->pnl1_btnAddClick(nullptr);
        return shown;
    };
    EXPECT_EQ(previewOf(), QSize(60, 40));
    MovieOptions stored;
    stored.autoRotate = false;
    form->pnl3_grpMovie->SetOptions(stored);
    EXPECT_EQ(previewOf(), QSize(40, 60));
    // A bitmap that Qt's reader refuses and the photo list takes (the 56-byte header).
    testsupport::WriteBmp24(side = dir.file("side.bmp"), 60, 40, testsupport::Gradient(1), 56);
    EXPECT_EQ(previewOf(), QSize(60, 40));
    // One whose rows run top-down (a negative height), which Qt's reader
    // cannot size: fitted into the preview as any other.
    testsupport::WriteBmp24(side = dir.file("down.bmp"), 300, 200, testsupport::Gradient(1));
    {
        std::string bytes = testsupport::ReadFile(side);
        const std::int32_t down = -200;
        std::memcpy(bytes.data() + 22, &down, 4);
        testsupport::WriteFile(side, bytes);
    }
    EXPECT_EQ(previewOf(), QSize(300, 200).scaled(QSize(172, 142), Qt::KeepAspectRatio));
}
