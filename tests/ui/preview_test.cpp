// The preview against the movie Go makes of the same list: the same script, the
// same pictures in the middle of a hold and of a cross-fade, the job files left
// as Go wrote them, seeking, the time, and Escape.
#include "window_support.h"

#include "app/job/app_define.h"
#include "app/job/script_writer.h"
#include "app/ui/preview.h"

#include "media_support.h"
#include "qtwidgets.h"

#include <QKeyEvent>
#include <QLabel>
#include <QRadioButton>
#include <QScrollArea>
#include <QTest>

using namespace quillon;
using namespace windowtest;
using testsupport::ReadFile;

namespace {

class Preview : public MainFormTest
{
protected:
    void SetUp() override
    {
        MainFormTest::SetUp();
        form->edtOutputPath->setText(QString::fromStdString(dir.file("out")));
        testsupport::Click(form->tabOutput, {20, 20});
    }

    // The preview window standing at frame `n`, paused.
    TPreviewForm *At(std::int64_t n)
    {
        TPreviewForm *preview = form->Preview().Form();
        preview->Pause();
        preview->SeekTo(n);
        EXPECT_TRUE(WaitUntil([&] { return preview->Position() == n; }, 10000)) << n;
        return preview;
    }
};

} // namespace

TEST_F(Preview, ShowsTheFramesOfTheMovieAndLeavesTheJobFilesAlone)
{
    const std::vector<std::string> photos
        = {Jpeg("a.jpg", 96, 64, 1), Jpeg("b.jpg", 64, 96, 2), Jpeg("c.jpg", 80, 80, 3)};
    AddFiles(photos);
    form->edtInterval->SetText("1");
    testsupport::Click(form->pnl3_grpResolution->Button(2), {5, 8});
    testsupport::Click(form->pnl3_btnGo, {20, 15});
    ASSERT_TRUE(WaitUntil([&] { return !form->RunActive(); }));
    const std::string movie = dir.file("out/photo_video.avi");
    const std::string script = ReadFile(GetTempDirectory() + "temp.avs");

    form->Preview().PreviewClick(nullptr);
    TPreviewForm *preview = form->Preview().Form();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->Script(), script);
    EXPECT_EQ(preview->FrameCount(), 125);

    // Photo b held (25 frames a photo, 25 a cross-fade), then half of a and half
    // of b: each as the movie shows it, give or take the compressor's loss.
    std::vector<std::uint8_t> shown[2];
    const std::int64_t frames[2] = {62, 37};
    for (int i = 0; i < 2; ++i) {
        At(frames[i]);
        ASSERT_NE(preview->View->Frame(), nullptr);
        shown[i] = mediatest::Packed(*preview->View->Frame());
        EXPECT_LT(mediatest::MeanDifference(shown[i], mediatest::DecodeFrame(movie, frames[i])),
                  4.0)
            << "frame " << frames[i];
    }
    EXPECT_GT(mediatest::MeanDifference(shown[0], shown[1]), 10.0);
    EXPECT_EQ(preview->lblTime->text(), "0:01 / 0:05");
    At(124);
    EXPECT_EQ(preview->lblTime->text(), "0:04 / 0:05");

    // Another interval plays at once; the job files stay as Go left them.
    preview->close();
    form->edtInterval->SetText("2");
    form->Preview().PreviewClick(nullptr);
    preview = form->Preview().Form();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->Script(), BuildScript(photos, form->pnl3_grpStandard->ItemIndex(), 2, "2"));
    EXPECT_EQ(preview->FrameCount(), 200);
    EXPECT_EQ(ReadFile(GetTempDirectory() + "temp.avs"), script);

    // It plays on its own, then Escape closes it.
    preview->Play();
    ASSERT_TRUE(WaitUntil([&] { return preview->Position() > 5; }, 10000));
    QTest::keyClick(preview, Qt::Key_Escape);
    EXPECT_TRUE(WaitUntil([&] { return form->Preview().Form() == nullptr; }, 2000));
}

TEST_F(Preview, SpaceOnTheRowPlaysFromTheSelectedPhotoAndAnEmptyListIsRefused)
{
    form->Preview().PreviewClick(nullptr);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Please add some photos first."});
    EXPECT_EQ(form->Preview().Form(), nullptr);

    AddFiles({Jpeg("a.jpg", 64, 48, 1), Jpeg("b.jpg", 64, 48, 2), Jpeg("c.jpg", 64, 48, 3)});
    form->edtInterval->SetText("2");
    testsupport::Click(form->tabAddPhotos, {20, 20});
    form->PhotoThumbPanel1->SetSelectedIndex(2);
    QTest::keyClick(form->pnl1_ScrollBox, Qt::Key_Space);
    TPreviewForm *preview = form->Preview().Form();
    ASSERT_NE(preview, nullptr);
    // The third photo comes in after two holds of 50 frames and two cross-fades of 25.
    EXPECT_TRUE(WaitUntil([&] { return preview->Position() >= 150; }, 10000));
    EXPECT_LT(preview->Position(), 175);
}
