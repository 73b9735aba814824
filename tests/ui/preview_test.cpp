// The preview against the movie Go makes of the same list: the same script, the
// same pictures in the middle of a hold and of a cross-fade, the job files left
// as Go wrote them, seeking, the time, and Escape.
#include "window_support.h"

#include "app/job/app_define.h"
#include "app/job/script_writer.h"
#include "app/ui/preview.h"
#include "app/ui/preview_sound.h"

#include "media_support.h"
#include "qtwidgets.h"

#include <QKeyEvent>
#include <QLabel>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <filesystem>

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

    // So do the movie settings: frame size, rate, fit and orientation.
    preview->close();
    MovieOptions options;
    options.width = 320;
    options.height = 180;
    options.framesPerSecond = 50;
    options.fit = MovieOptions::Fit::Letterbox;
    options.autoRotate = false;
    form->pnl3_grpMovie->SetOptions(options);
    form->Preview().PreviewClick(nullptr);
    preview = form->Preview().Form();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->Script(),
              BuildScript(photos, form->pnl3_grpStandard->ItemIndex(), 2, "2", options));
    EXPECT_EQ(preview->FrameCount(), 400);
    At(10);
    ASSERT_NE(preview->View->Frame(), nullptr);
    EXPECT_EQ(preview->View->Frame()->width(), 320);

    // It plays on its own, then Escape closes it.
    preview->Play();
    ASSERT_TRUE(WaitUntil([&] { return preview->Position() > 5; }, 10000));
    QTest::keyClick(preview, Qt::Key_Escape);
    EXPECT_TRUE(WaitUntil([&] { return form->Preview().Form() == nullptr; }, 2000));
}

// A photo that goes while the preview is open stops the show where its first
// frame is due, not two seconds ahead where it is made; the keys still move on,
// and the photo put back shows again.
TEST_F(Preview, AFrameThatCannotBeMadeStopsTheShowWhenDueAndNoLonger)
{
    const std::string b = Jpeg("b.jpg", 64, 48, 2);
    AddFiles({Jpeg("a.jpg", 64, 48, 1), b, Jpeg("c.jpg", 64, 48, 3)});
    form->edtInterval->SetText("5"); // a 0-124, a cross-fade to b 125-149, b 150-274, c 300-424
    form->Preview().PreviewClick(nullptr);
    TPreviewForm *preview = At(0);
    const std::string kept = ReadFile(b);
    std::filesystem::remove(b);

    At(100);
    EXPECT_EQ(preview->View->Message().toStdString(), "");
    // Paused with its frame shown, it does not wake 250 times a second.
    EXPECT_FALSE(preview->Waking());
    preview->Play();
    EXPECT_TRUE(preview->Waking());
    ASSERT_TRUE(WaitUntil([&] { return !preview->View->Message().isEmpty(); }, 10000));
    EXPECT_EQ(preview->Position(), 124);
    EXPECT_NE(preview->View->Message().toStdString().find(b), std::string::npos)
        << preview->View->Message().toStdString();
    EXPECT_FALSE(preview->View->Message().startsWith(QStringLiteral("ImageSource")));
    EXPECT_FALSE(preview->Waking());
    // The slider and the time stand at the frame that failed, and follow a
    // move on within the photo's frames.
    EXPECT_EQ(preview->sldPosition->value(), 125);
    QTest::keyClick(preview, Qt::Key_Period);
    EXPECT_TRUE(WaitUntil([&] { return preview->sldPosition->value() == 126; }, 10000));
    preview->SeekTo(200);
    EXPECT_TRUE(WaitUntil([&] { return preview->sldPosition->value() == 200; }, 10000));
    EXPECT_EQ(preview->lblTime->text().toStdString(), "0:08 / 0:17");

    At(350);
    EXPECT_EQ(preview->View->Message().toStdString(), "");
    testsupport::WriteFile(b, kept);
    At(200);
    EXPECT_EQ(preview->View->Message().toStdString(), "");

    // Gone before the preview opens: the preview opens all the same (it was
    // refused with a box) and stops where the photo is due.
    preview->close();
    std::filesystem::remove(b);
    boxes.clear();
    form->Preview().PreviewClick(nullptr);
    preview = At(350);
    EXPECT_TRUE(boxes.texts().empty()) << boxes.texts()[0];
    EXPECT_EQ(preview->View->Message().toStdString(), "");
    preview->SeekTo(200);
    ASSERT_TRUE(WaitUntil([&] { return !preview->View->Message().isEmpty(); }, 10000));
    EXPECT_NE(preview->View->Message().toStdString().find(b), std::string::npos)
        << preview->View->Message().toStdString();
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

// A television frame shows at 4:3 in the movie whatever its pixel count, and so
// in the preview; a frame of square pixels keeps its own shape.
TEST_F(Preview, ATelevisionFrameShowsAtTheMoviesShape)
{
    AddFiles({Jpeg("a.jpg", 96, 64, 1)});
    testsupport::Click(form->pnl3_grpResolution->Button(1), {5, 8}); // NTSC Medium, 352 × 480
    form->Preview().PreviewClick(nullptr);
    TPreviewForm *preview = At(0);
    ASSERT_NE(preview->View->Frame(), nullptr);
    EXPECT_EQ(preview->View->Frame()->width(), 352);
    EXPECT_EQ(preview->View->sizeHint(), QSize(640, 480));
    preview->resize(900, 900);
    QApplication::processEvents();
    const QRect tv = preview->View->PictureRect();
    EXPECT_NEAR(tv.width() * 3.0 / tv.height(), 4.0, 0.02) << tv.width() << "x" << tv.height();

    preview->close();
    MovieOptions options;
    options.width = 1000;
    options.height = 500;
    form->pnl3_grpMovie->SetOptions(options);
    form->Preview().PreviewClick(nullptr);
    preview = At(0);
    EXPECT_EQ(preview->View->sizeHint(), QSize(1000, 500));
    preview->resize(700, 900);
    QApplication::processEvents();
    const QRect square = preview->View->PictureRect();
    EXPECT_EQ(square.width(), 2 * square.height()) << square.width() << "x" << square.height();
}

// The preview's sound ends as the movie's does: cut where the pictures end with
// a fade-out, kept whole, or repeated until they end; and it starts anywhere.
TEST(PreviewSound, EndsCutKeptOrLoopedAndStartsAnywhere)
{
    testsupport::TempDir dir;
    const std::string tune = dir.file("tune.wav");
    mediatest::WriteWav(tune, 8000, 1, 1.0);
    const int rate = TSoundFeed::Rate();
    // How many sample frames the feed gives from `seconds` on, and the loudest
    // sample of the last fiftieth of a second of them (a full-scale tone comes
    // out at about 5,600 in each channel).
    auto drain = [&](MovieOptions::SoundEnd end, double show, double seconds = 0) {
        TSoundFeed feed({tune}, end, show);
        feed.Seek(seconds);
        std::vector<std::int16_t> all, chunk(2 * 4096);
        while (std::size_t n = feed.ReadFrames(chunk.data(), 4096))
            all.insert(all.end(), chunk.begin(), chunk.begin() + 2 * n);
        int tail = 0;
        for (std::size_t i = all.size() - std::min<std::size_t>(all.size(), rate / 50);
             i < all.size(); ++i)
            tail = std::max(tail, std::abs(int(all[i])));
        return std::pair{static_cast<long>(all.size() / 2), tail};
    };
    // A sound longer than the pictures: cut at them, fading to silence.
    auto [cut, cutTail] = drain(MovieOptions::SoundEnd::Cut, 0.5);
    EXPECT_EQ(cut, rate / 2);
    EXPECT_LT(cutTail, 2000);
    // Kept, the same show ends loud.
    EXPECT_GT(drain(MovieOptions::SoundEnd::Keep, 0.5).second, 4000);
    // A shorter sound: kept, it ends on its own; cut, too, and loud, since
    // nothing of it is cut; looped, it fills the show and fades out at its end.
    EXPECT_NEAR(drain(MovieOptions::SoundEnd::Keep, 2.5).first, rate, rate / 100);
    auto [shortCut, shortCutTail] = drain(MovieOptions::SoundEnd::Cut, 1.2);
    EXPECT_NEAR(shortCut, rate, rate / 100);
    EXPECT_GT(shortCutTail, 4000);
    auto [looped, loopTail] = drain(MovieOptions::SoundEnd::Loop, 2.5);
    EXPECT_EQ(looped, rate * 5 / 2);
    EXPECT_LT(loopTail, 2000);
    // From 2.2 s of a looped show: 0.3 s left.
    EXPECT_EQ(drain(MovieOptions::SoundEnd::Loop, 2.5, 2.2).first, rate * 3 / 10);
}

// A recording whose header gives no length (Opus in WebM written to a pipe, as
// recorders write it), or a guess, is measured, so that a seek lands where the
// movie has the same moment.
TEST(PreviewSound, ASeekLandsRightAfterATrackWithoutALengthInItsHeader)
{
    testsupport::TempDir dir;
    const std::string recording = dir.file("rec.webm"), tune = dir.file("tune.wav");
    const testsupport::Outcome made = testsupport::RunProgram(
        "/bin/sh",
        {"-c", "/usr/bin/ffmpeg -v error -f lavfi -i sine=frequency=440:duration=1 -c:a libopus "
               "-f webm - > '"
                   + recording + "'"},
        dir.path());
    ASSERT_EQ(made.status, 0) << made.err;
    mediatest::WriteWav(tune, 8000, 1, 1.0);
    // Raw AAC's length is only guessed from its bit rate: for 2 s of silence
    // and then 2 s of sound, 60 s.
    const std::string raw = dir.file("raw.aac");
    const testsupport::Outcome coded = testsupport::RunProgram(
        "/usr/bin/ffmpeg",
        {"-v", "error", "-f", "lavfi", "-i",
         "aevalsrc='if(gt(t,2),0.05*(sin(2*PI*1234*t)+sin(2*PI*7777*t)+sin(2*PI*15000*t)),0)'"
         ":s=44100:d=4:c=stereo",
         "-c:a", "aac", "-b:a", "128k", raw},
        dir.path());
    ASSERT_EQ(coded.status, 0) << coded.err;
    const int rate = TSoundFeed::Rate();
    for (const auto &[first, seconds] : {std::pair{recording, 1.0}, std::pair{raw, 4.0}}) {
        auto from = [&](double at) {
            TSoundFeed feed({first, tune}, MovieOptions::SoundEnd::Keep, 100.0);
            feed.Seek(at);
            std::vector<std::int16_t> chunk(2 * 4096);
            long frames = 0;
            while (std::size_t n = feed.ReadFrames(chunk.data(), 4096))
                frames += static_cast<long>(n);
            return frames;
        };
        // Played straight through, as the movie plays it: both tracks.
        const long whole = from(0);
        EXPECT_NEAR(whole, (seconds + 1) * rate, rate / 10) << first;
        // Half a second into the second track.
        EXPECT_NEAR(from(seconds + 0.5), whole - (seconds + 0.5) * rate, rate / 50) << first;
    }
}

// A track that is no sound is refused, and its file is not left open.
TEST(PreviewSound, ATrackThatIsNoSoundLeavesNoFileOpen)
{
    testsupport::TempDir dir;
    const std::string notes = dir.file("notes.txt");
    testsupport::WriteFile(notes, "no sound here\n");
    auto openFiles
        = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto before = openFiles();
    for (int i = 0; i < 3; ++i)
        EXPECT_THROW(TSoundFeed({notes}, MovieOptions::SoundEnd::Cut, 1.0), std::exception);
    EXPECT_EQ(openFiles(), before);
}

// Two recordings joined into one file, stereo at 48 kHz and mono at 22.05 kHz:
// the second part went through a resampler made for the first, which read a
// second channel that was not there (the preview crashed) or played it at the
// first one's rate (too slow, and so too long).
TEST(PreviewSound, AFileThatChangesItsRateAndChannelsPartwayPlaysAtItsLength)
{
    testsupport::TempDir dir;
    const std::string stereo = dir.file("stereo.aac"), mono = dir.file("mono.aac");
    mediatest::MakeTone(stereo, 1.0, 48000, 2);
    mediatest::MakeTone(mono, 1.0, 22050, 1);
    auto played = [](const std::string &path) {
        TSoundFeed feed({path}, MovieOptions::SoundEnd::Keep, 10.0);
        std::vector<std::int16_t> chunk(2 * 4096);
        long frames = 0;
        while (std::size_t n = feed.ReadFrames(chunk.data(), 4096))
            frames += static_cast<long>(n);
        return frames;
    };
    const long parts = played(stereo) + played(mono);
    for (const auto &[first, second] : {std::pair{mono, stereo}, std::pair{stereo, mono}}) {
        const std::string joined = dir.file("joined.aac");
        testsupport::WriteFile(joined, ReadFile(first) + ReadFile(second));
        EXPECT_NEAR(played(joined), parts, TSoundFeed::Rate() / 100) << first;
    }
}

// A WAV that names no channels is heard whatever its count, as in the movie:
// the usual layouts of 16 and 24 channels have channels that the mix to two
// leaves out, and counts of no usual layout could not be mixed at all.
TEST(PreviewSound, EveryChannelOfAWavThatNamesNoneIsHeard)
{
    testsupport::TempDir dir;
    for (const int channels : {13, 16, 24}) {
        const std::string wav = dir.file("many.wav");
        mediatest::WriteWav(wav, 22050, channels, 1.0, 0, channels - 1);
        TSoundFeed feed({wav}, MovieOptions::SoundEnd::Keep, 10.0);
        std::vector<std::int16_t> chunk(2 * 4096);
        double sum = 0;
        long samples = 0;
        while (std::size_t n = feed.ReadFrames(chunk.data(), 4096))
            for (std::size_t i = 0; i < 2 * n; ++i, ++samples)
                sum += double(chunk[i]) * chunk[i];
        EXPECT_GT(samples, TSoundFeed::Rate()) << channels;
        EXPECT_GT(std::sqrt(sum / std::max(samples, 1L)), 100.0) << channels;
    }
}

// Bytes spoilt here and there in the middle third of a song: the decoder
// refuses some of its packets. The movie passes over them and plays on; the
// preview ended the song at the first refusal.
TEST(PreviewSound, ADamagedSongPlaysOnPastTheDamageAsInTheMovie)
{
    testsupport::TempDir dir;
    const std::string song = dir.file("song.m4a");
    mediatest::MakeTone(song, 4.0, 44100, 2);
    std::string bytes = ReadFile(song);
    const std::size_t third = bytes.size() / 3;
    std::uint32_t x = 1;
    auto next = [&] { return x = (x * 1103515245u + 12345u) & 0x7fffffffu; };
    for (int i = 0; i < 200; ++i) {
        const std::size_t at = third + next() % third;
        bytes[at] = static_cast<char>(next() >> 16);
    }
    testsupport::WriteFile(song, bytes);
    TSoundFeed feed({song}, MovieOptions::SoundEnd::Keep, 10.0);
    std::vector<std::int16_t> chunk(2 * 4096);
    long frames = 0;
    while (std::size_t n = feed.ReadFrames(chunk.data(), 4096))
        frames += static_cast<long>(n);
    // The first and last thirds at least.
    EXPECT_GT(frames, TSoundFeed::Rate() * 4 * 2 / 3);
}

// A show shorter than 4 s fades its sound out over half its length, as the
// movie does; the preview faded over a quarter.
TEST(PreviewSound, AShortShowFadesOverHalfItsLengthAsTheMovieDoes)
{
    testsupport::TempDir dir;
    const std::string tune = dir.file("tune.wav");
    mediatest::WriteWav(tune, 8000, 1, 1.0);
    const int rate = TSoundFeed::Rate();
    TSoundFeed feed({tune}, MovieOptions::SoundEnd::Cut, 1.0);
    std::vector<std::int16_t> all(2 * rate);
    ASSERT_EQ(feed.ReadFrames(all.data(), rate), std::size_t(rate));
    auto loudest = [&](double from, double to) {
        int most = 0;
        for (long i = std::lround(from * rate); i < std::lround(to * rate); ++i)
            most = std::max(most, std::abs(int(all[2 * i])));
        return most;
    };
    // 0.35 s before the end: 70 % of full loudness, not all of it.
    EXPECT_LT(loudest(0.60, 0.65), loudest(0.10, 0.15) * 0.85);
}
