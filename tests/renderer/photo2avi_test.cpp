#include "renderer/lookup.h"
#include "renderer/mureline.h"

#include "app/job/script_writer.h"
#include "media_support.h"
#include "pictures.h"
#include "platform/media/compressors.h"
#include "render_support.h"
#include "testsupport.h"

#include "platform/win32/files.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
using rendertest::RunPhoto2Avi;
using win32::ListFolder;

namespace {

const Rgb kRed{220, 30, 30}, kGreen{30, 200, 60}, kBlue{40, 60, 210};

// Mean of each channel (B, G, R) of a packed BGR picture.
std::array<double, 3> meanColour(const std::vector<std::uint8_t> &bgr)
{
    std::array<double, 3> sum{};
    for (std::size_t i = 0; i < bgr.size(); i += 3)
        for (int c = 0; c < 3; ++c)
            sum[c] += bgr[i + c];
    const double n = static_cast<double>(bgr.size() / 3);
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

void expectColour(const std::vector<std::uint8_t> &bgr, double r, double g, double b,
                  double tolerance, const std::string &what)
{
    auto m = meanColour(bgr);
    EXPECT_NEAR(m[2], r, tolerance) << what;
    EXPECT_NEAR(m[1], g, tolerance) << what;
    EXPECT_NEAR(m[0], b, tolerance) << what;
}

} // namespace

class Photo2Avi : public ::testing::Test
{
protected:
    TempDir dir;
    std::string movie = dir.file("out/photo_video.avi");

    void SetUp() override
    {
        MakeFolder(dir.file("out"));
        WriteJpeg(dir.file("red.jpg"), 320, 200, Solid(kRed));
        WriteBmp24(dir.file("green.bmp"), 200, 300, Solid(kGreen));
        WriteJpeg(dir.file("blue.jpg"), 640, 480, Solid(kBlue));
        // NTSC Low, interval 1: 25 × (3 × 2 − 1) = 125 frames of 352 × 240.
        quillon::WriteScript({dir.file("red.jpg"), dir.file("green.bmp"), dir.file("blue.jpg")}, 0,
                             2, "1");
    }
};

TEST_F(Photo2Avi, EveryCompressorMakesTheMovie)
{
    const auto &category = media::VideoCompressorCategory();
    ASSERT_FALSE(category.empty());
    for (std::size_t i = 0; i < category.size(); ++i) {
        SCOPED_TRACE(category[i].friendlyName);
        // Into AVI, or for the compressors that AVI does not carry, into MP4.
        const media::Container container = mediatest::FirstContainerOf(category[i]);
        MurelineOptions options{};
        options.size = sizeof options;
        options.container = static_cast<int>(container);
        const std::string movie
            = dir.file(std::string("out/photo_video.") + mediatest::ExtensionOf(container));
        auto run = RunPhoto2Avi(movie, static_cast<int>(i), "", {}, &options);
        ASSERT_EQ(run.result, 0);
        EXPECT_TRUE(run.messages.empty());
        auto info = mediatest::ProbeAvi(movie);
        const auto *video = info.video();
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(info.audio(), nullptr);
        if (container == media::Container::Avi) {
            EXPECT_EQ(video->tag, media::FourccText(category[i].fourcc));
        }
        EXPECT_EQ(video->width, 352);
        EXPECT_EQ(video->height, 240);
        EXPECT_EQ(video->frameRate.num, 25);
        EXPECT_EQ(video->frameRate.den, 1);
        EXPECT_EQ(video->frames, 125);
        // Where the stream can say which YUV matrix made it, it does.
        if (video->codec == AV_CODEC_ID_H264 || video->codec == AV_CODEC_ID_HEVC
            || video->codec == AV_CODEC_ID_VP9 || video->codec == AV_CODEC_ID_AV1)
            EXPECT_EQ(video->colourSpace, AVCOL_SPC_SMPTE170M);

        // Held slides, and the middle of the fade from red to green.
        const double tolerance = 14;
        expectColour(mediatest::DecodeFrame(movie, 10), kRed.r, kRed.g, kRed.b, tolerance, "red");
        expectColour(mediatest::DecodeFrame(movie, 60), kGreen.r, kGreen.g, kGreen.b, tolerance,
                     "green");
        expectColour(mediatest::DecodeFrame(movie, 124), kBlue.r, kBlue.g, kBlue.b, tolerance,
                     "blue");
        expectColour(mediatest::DecodeFrame(movie, 37), (kRed.r + kGreen.r) / 2.0,
                     (kRed.g + kGreen.g) / 2.0, (kRed.b + kGreen.b) / 2.0, tolerance + 10, "fade");
    }

    // MPEG-4's stream cannot say which matrix made it; an MP4 file says it.
    MurelineOptions options{};
    options.size = sizeof options;
    options.container = MURELINE_CONTAINER_MP4;
    ASSERT_EQ(RunPhoto2Avi(dir.file("out/photo_video.mp4"), 0, "", {}, &options).result, 0);
    const auto info = mediatest::ProbeAvi(dir.file("out/photo_video.mp4"));
    ASSERT_NE(info.video(), nullptr);
    EXPECT_EQ(info.video()->colourSpace, AVCOL_SPC_SMPTE170M);
}

TEST_F(Photo2Avi, ProgressIsSentToTheWindowUntilTheEnd)
{
    auto run = RunPhoto2Avi(movie, 0);
    ASSERT_EQ(run.result, 0);
    ASSERT_FALSE(run.progress.empty());
    WPARAM last = 0;
    for (auto [w, l] : run.progress) {
        EXPECT_EQ(l, 0);
        EXPECT_GE(w, last);
        last = w;
    }
    EXPECT_EQ(run.progress.back().first, 5000u); // 125 frames at 25 per second
}

TEST_F(Photo2Avi, SoundTrackBecomesAnAudioStream)
{
    mediatest::WriteWav(dir.file("tune.wav"), 22050, 2, 3.0);
    auto run = RunPhoto2Avi(movie, 0, dir.file("tune.wav"));
    ASSERT_EQ(run.result, 0);
    auto info = mediatest::ProbeAvi(movie);
    ASSERT_NE(info.audio(), nullptr);
    EXPECT_EQ(info.audio()->sampleRate, 22050);
    EXPECT_EQ(info.audio()->channels, 2);
    EXPECT_EQ(info.audio()->audioSamples, 3 * 22050);
    EXPECT_EQ(info.video()->frames, 125);
}

TEST_F(Photo2Avi, FailuresShowTheirMessageWithTheReasonAndKeepTheEarlierMovie)
{
    struct Case
    {
        int compressor;
        std::string sound;
        std::string message;
    };
    const int count = static_cast<int>(media::VideoCompressorCategory().size());
    const std::string noCompressor = "Could not connect photo source to compressor.\r\n\r\n"
                                     "There is no video compressor at position ";
    const std::string range = ": the positions go from 0 to " + std::to_string(count - 1) + ".";
    for (const Case &c : {Case{-1, "", noCompressor + "-1" + range},
                          Case{count, "", noCompressor + std::to_string(count) + range},
                          Case{0, dir.file("missing.wav"),
                               "Could not load Music Source filter for file\r\n\r\nCannot open \""
                                   + dir.file("missing.wav") + "\": No such file or directory"}}) {
        WriteFile(movie, "an earlier movie");
        auto run = RunPhoto2Avi(movie, c.compressor, c.sound);
        EXPECT_EQ(run.result, -1);
        EXPECT_EQ(run.messages, std::vector<std::string>{c.message});
        // The new file went before the message showed, not once it was read.
        EXPECT_EQ(run.entriesAtMessage, std::vector<std::size_t>{1});
        EXPECT_EQ(ReadFile(movie), "an earlier movie");
        EXPECT_EQ(ListFolder(dir.file("out"))->size(), 1u) << "the new file is gone";
        EXPECT_TRUE(run.progress.empty());
    }
}

// What a killed render left, whichever container it wrote, goes with the next
// render into the folder; what a render still writes stays.
TEST_F(Photo2Avi, TheNextRenderClearsWhatKilledRendersOfAnyContainerLeft)
{
    std::vector<std::string> left;
    for (const char *name : {"photo_video.avi", "photo_video.mp4", "photo_video.webm"}) {
        left.push_back(win32::CreateFileBeside(dir.file("out/") + name, 0600));
        ASSERT_TRUE(MakeHourOld(left.back()));
    }
    win32::FileBeside writing;
    ASSERT_TRUE(writing.Create(dir.file("out/photo_video.mkv"), 0600));
    ASSERT_TRUE(MakeHourOld(writing.NewPath()));
    ASSERT_EQ(RunPhoto2Avi(movie, 0).result, 0);
    for (const std::string &file : left)
        EXPECT_FALSE(Exists(file)) << file;
    EXPECT_TRUE(Exists(writing.NewPath()));
    EXPECT_EQ(ListFolder(dir.file("out"))->size(), 2u);
}

TEST_F(Photo2Avi, MissingScriptAndUnwritableOutput)
{
    std::remove(dir.job("temp.avs").c_str());
    auto run = RunPhoto2Avi(movie, 0);
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.messages,
              std::vector<std::string>{"Could not load source filter for file\r\n\r\n"
                                       "Cannot open \""
                                       + dir.job("temp.avs") + "\": No such file or directory"});

    quillon::WriteScript({dir.file("red.jpg")}, 0, 2, "1");
    WriteFile(dir.file("file"), "x"); // a file where the movie's folder should be
    run = RunPhoto2Avi(dir.file("file/photo_video.avi"), 0);
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.messages,
              std::vector<std::string>{"Cannot create file \"" + dir.file("file/photo_video.avi")
                                       + "\". Not a directory"});
    EXPECT_TRUE(run.progress.empty());
}

// The message named the hidden new file the render writes to, which the
// user never asked for, instead of the movie.
TEST_F(Photo2Avi, AFullDiskIsReportedForTheMovieNotItsNewFile)
{
    const std::string folder = dir.file("small");
    const SmallFileSystem small(folder, 65536);
    if (!small.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << small.why();
    // Three seconds of sound take 260 KB.
    mediatest::WriteWav(dir.file("tune.wav"), 22050, 2, 3.0);
    const std::string full = folder + "/photo_video.avi";
    auto run = RunPhoto2Avi(full, 0, dir.file("tune.wav"));
    EXPECT_EQ(run.result, -1);
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_NE(run.messages[0].find("\"" + full + "\". " + std::strerror(ENOSPC)), std::string::npos)
        << run.messages[0];
    EXPECT_EQ(run.messages[0].find(".new"), std::string::npos) << run.messages[0];
    EXPECT_TRUE(ListFolder(folder)->empty());

    // An MP4 writes its first bytes as the graph starts, and says so too.
    ASSERT_TRUE(small.fill(0));
    MurelineOptions options{};
    options.size = sizeof options;
    options.container = MURELINE_CONTAINER_MP4;
    const std::string mp4 = folder + "/photo_video.mp4";
    run = RunPhoto2Avi(mp4, 2, "", {}, &options);
    EXPECT_EQ(run.result, -1);
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_NE(run.messages[0].find("\"" + mp4 + "\". " + std::strerror(ENOSPC)), std::string::npos)
        << run.messages[0];
}

TEST_F(Photo2Avi, AStopRequestEndsTheRenderSoonAndKeepsTheEarlierMovie)
{
    quillon::WriteScript({dir.file("red.jpg"), dir.file("green.bmp"), dir.file("blue.jpg")}, 0, 2,
                         "600");
    WriteFile(movie, "an earlier movie");
    std::atomic<int> stop{0};
    MurelineOptions options{};
    options.size = sizeof options;
    options.stopRequest = &stop;
    std::chrono::steady_clock::time_point asked;
    auto run = RunPhoto2Avi(
        movie, 0, "",
        [&] {
            if (!stop.exchange(1))
                asked = std::chrono::steady_clock::now();
        },
        &options);
    const auto took = std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(run.result, MURELINE_STOPPED);
    EXPECT_TRUE(run.messages.empty());
    // Far less than the half hour of movie that the render would otherwise take.
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(ReadFile(movie), "an earlier movie");
    EXPECT_EQ(ListFolder(dir.file("out"))->size(), 1u);

    // A caller built with a struct that had only its size field gets the defaults.
    quillon::WriteScript({dir.file("red.jpg")}, 0, 2, "1");
    MurelineOptions older{};
    older.size = sizeof(std::uint32_t);
    older.stopRequest = &stop;
    run = RunPhoto2Avi(movie, 0, "", {}, &older);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(mediatest::ProbeAvi(movie).video()->frames, 25);
}

TEST_F(Photo2Avi, APhotoThatVanishesDuringTheRenderEndsInAnErrorNotASuccess)
{
    // Long slides, so that the last photo is far beyond the frames read ahead
    // (a few hundred) when the first progress message arrives and deletes it;
    // held frames cost little, so they must be many.
    quillon::WriteScript({dir.file("red.jpg"), dir.file("green.bmp"), dir.file("blue.jpg")}, 0, 2,
                         "600");
    auto run = RunPhoto2Avi(movie, 0, "", [&] { std::remove(dir.file("blue.jpg").c_str()); });
    EXPECT_EQ(run.result, -1);
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_TRUE(run.messages[0].starts_with("Could not complete compression graph\r\n\r\n"));
    EXPECT_NE(run.messages[0].find("blue.jpg"), std::string::npos) << run.messages[0];
    ASSERT_FALSE(run.progress.empty()); // the final position still reaches the window
    // What the multiplexer had written is no movie: it is gone before the
    // message shows, and there was no earlier movie.
    EXPECT_FALSE(run.movieAtMessage[0]);
    EXPECT_EQ(run.entriesAtMessage[0], 0u);
    EXPECT_FALSE(Exists(movie));
    EXPECT_EQ(ListFolder(dir.file("out"))->size(), 0u);
}

TEST(PinLookup, ByDirectionAndIndex)
{
    // The multiplexer lists its output first, then its free input.
    TempDir dir;
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder> builder;
    ASSERT_EQ(media::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IGraphBuilder, graph.PutVoid()),
              S_OK);
    ASSERT_EQ(media::CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ICaptureGraphBuilder, builder.PutVoid()),
              S_OK);
    builder->SetFiltergraph(graph.Get());
    ComPtr<IBaseFilter> mux;
    const std::u16string path = u"/tmp/unused.avi";
    ASSERT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, path.c_str(), mux.Put(), nullptr),
              S_OK);

    ComPtr<IPin> pin;
    EXPECT_EQ(mureline::PinByDirection(mux.Get(), PINDIR_INPUT, 0, pin.Put()), S_OK);
    PIN_DIRECTION d = PINDIR_OUTPUT;
    pin->QueryDirection(&d);
    EXPECT_EQ(d, PINDIR_INPUT);
    EXPECT_EQ(mureline::PinByDirection(mux.Get(), PINDIR_INPUT, 1, pin.Put()), E_FAIL);
    EXPECT_FALSE(pin);
    EXPECT_EQ(mureline::PinByDirection(nullptr, PINDIR_INPUT, 0, pin.Put()), E_POINTER);
    EXPECT_FALSE(pin);
    EXPECT_EQ(mureline::InputPinAt(nullptr, 0), nullptr);
}

TEST(CompressorLookup, PositionsOfTheCategory)
{
    testsupport::MessageBoxRecorder boxes;
    const int count = static_cast<int>(media::VideoCompressorCategory().size());
    for (int index : {0, count - 1}) {
        ComPtr<IBaseFilter> filter;
        mureline::GetCompressor(index, filter.Put());
        EXPECT_TRUE(filter) << index;
    }
    for (int index : {-1, -100, count, count + 5}) {
        ComPtr<IBaseFilter> filter;
        mureline::GetCompressor(index, filter.Put());
        EXPECT_FALSE(filter) << index;
    }
    mureline::GetCompressor(0, nullptr);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"GetCompressor received invalid pointer"});
}

namespace {

// The slide show of the fixture (5 s) with sound tracks, in each container.
class Sound : public Photo2Avi
{
protected:
    void SetUp() override
    {
        Photo2Avi::SetUp();
        mediatest::MakeTone(dir.file("song.mp3"), 8, 44100, 2);
        mediatest::MakeTone(dir.file("short.flac"), 1.5, 22050, 1);
        mediatest::MakeTone(dir.file("voice.opus"), 1, 48000, 2);
    }

    struct Made
    {
        rendertest::RenderRun run;
        mediatest::AviInfo info;
        mediatest::Sound sound;
    };

    // The render failed with one message, which holds `text`.
    static ::testing::AssertionResult FailedSaying(const Made &made, const std::string &text)
    {
        if (made.run.result != -1 || made.run.messages.size() != 1)
            return ::testing::AssertionFailure() << "result " << made.run.result << ", "
                                                 << made.run.messages.size() << " messages";
        if (made.run.messages[0].find(text) == std::string::npos)
            return ::testing::AssertionFailure() << made.run.messages[0];
        return ::testing::AssertionSuccess();
    }

    Made render(std::vector<std::string> files, int end, media::Container container,
                int compressor = 0)
    {
        std::vector<const char *> names;
        for (std::string &file : files) {
            file = dir.file(file);
            names.push_back(file.c_str());
        }
        MurelineOptions options{};
        options.size = sizeof options;
        options.container = static_cast<int>(container);
        options.soundFiles = names.data();
        options.soundFileCount = static_cast<int>(names.size());
        options.soundEnd = end;
        const std::string path
            = dir.file(std::string("out/photo_video.") + mediatest::ExtensionOf(container));
        Made made{RunPhoto2Avi(path, compressor, "", {}, &options), {}, {}};
        if (made.run.result == 0) {
            made.info = mediatest::ProbeAvi(path);
            made.sound = mediatest::DecodeSound(path);
        }
        return made;
    }
};

} // namespace

TEST_F(Sound, AnyTracksOneAfterAnotherEndWithThePicturesUnlessKept)
{
    const int h264 = mediatest::IndexOf("libx264");
    const int vp9 = mediatest::IndexOf("libvpx-vp9");
    ASSERT_GE(h264, 0);
    ASSERT_GE(vp9, 0);
    struct Case
    {
        std::vector<std::string> files;
        int end;
        media::Container container;
        int compressor;
        AVCodecID codec;
        int rate, channels;
        double seconds;
        bool fadesOut; // else it plays on to its end
    };
    using C = media::Container;
    // What AAC may add: a frame at the end; in Matroska, which keeps no note of
    // the encoder's priming, also one at the start.
    const double aac = 1024.0 / 44100;
    for (const Case &c : {
             // Longer than the pictures: cut where they end, fading out.
             Case{{"song.mp3"},
                  MURELINE_SOUND_CUT,
                  C::Avi,
                  0,
                  AV_CODEC_ID_PCM_S16LE,
                  44100,
                  2,
                  5,
                  true},
             Case{{"song.mp3"},
                  MURELINE_SOUND_CUT,
                  C::Mp4,
                  h264,
                  AV_CODEC_ID_AAC,
                  44100,
                  2,
                  5,
                  true},
             Case{{"song.mp3"},
                  MURELINE_SOUND_CUT,
                  C::Matroska,
                  h264,
                  AV_CODEC_ID_AAC,
                  44100,
                  2,
                  5,
                  true},
             // Kept whole: decoded, since AVI takes PCM.
             Case{{"song.mp3"},
                  MURELINE_SOUND_KEEP,
                  C::Avi,
                  0,
                  AV_CODEC_ID_PCM_S16LE,
                  44100,
                  2,
                  8,
                  false},
             // Two in a row, shorter than the pictures: they simply end. At the
             // highest rate and with the most channels of the two, not folded
             // into the first one's 22 kHz mono.
             Case{{"short.flac", "voice.opus"},
                  MURELINE_SOUND_CUT,
                  C::Avi,
                  0,
                  AV_CODEC_ID_PCM_S16LE,
                  48000,
                  2,
                  2.5,
                  false},
             // Again and again until the pictures end.
             Case{{"short.flac", "voice.opus"},
                  MURELINE_SOUND_LOOP,
                  C::Avi,
                  0,
                  AV_CODEC_ID_PCM_S16LE,
                  48000,
                  2,
                  5,
                  true},
             // WebM takes Opus at 48 kHz.
             Case{{"voice.opus"},
                  MURELINE_SOUND_CUT,
                  C::WebM,
                  vp9,
                  AV_CODEC_ID_OPUS,
                  48000,
                  2,
                  1,
                  false},
         }) {
        SCOPED_TRACE(c.files.front() + " end " + std::to_string(c.end) + " in "
                     + media::ContainerName(c.container));
        const Made made = render(c.files, c.end, c.container, c.compressor);
        ASSERT_EQ(made.run.result, 0) << (made.run.messages.empty() ? "" : made.run.messages[0]);
        ASSERT_TRUE(made.info.video() && made.info.audio());
        EXPECT_EQ(made.info.video()->frames, 125);
        EXPECT_EQ(made.info.audio()->codec, c.codec);
        EXPECT_EQ(made.sound.sampleRate, c.rate);
        EXPECT_EQ(made.sound.channels.size(), std::size_t(c.channels));
        if (c.codec == AV_CODEC_ID_PCM_S16LE) {
            EXPECT_EQ(made.info.audio()->audioSamples, std::lround(c.seconds * c.rate));
        }
        const double extra = c.codec != AV_CODEC_ID_AAC   ? 0
                             : c.container == C::Matroska ? 2 * aac
                                                          : aac;
        EXPECT_GE(made.sound.seconds(), c.seconds - 0.001);
        EXPECT_LE(made.sound.seconds(), c.seconds + extra + 0.001);
        // The sound plays throughout, also where the second track or the loop
        // starts, until it fades out over the last 2 s.
        const double loud = made.sound.level(0.2, 0.4);
        EXPECT_GT(loud, 0.05);
        for (double at = 0.5; at < c.seconds - (c.fadesOut ? 2.1 : 0.3); at += 0.5)
            EXPECT_GT(made.sound.level(at, at + 0.1), loud / 2) << at;
        const double last = made.sound.level(c.seconds - 0.05, c.seconds);
        if (c.fadesOut)
            EXPECT_LT(last, loud / 20);
        else
            EXPECT_GT(last, loud / 2);
    }
}

TEST_F(Sound, APcmWavAloneKeptWholeGoesIntoAviAsItIs)
{
    mediatest::MakeTone(dir.file("deep.wav"), 6, 32000, 2, "pcm_s24le");
    const Made made = render({"deep.wav"}, MURELINE_SOUND_KEEP, media::Container::Avi);
    ASSERT_EQ(made.run.result, 0);
    EXPECT_EQ(made.info.audio()->codec, AV_CODEC_ID_PCM_S24LE);
    EXPECT_EQ(made.info.audio()->audioSamples, 6 * 32000);
    // Cut, it is decoded like any other track.
    EXPECT_EQ(render({"deep.wav"}, MURELINE_SOUND_CUT, media::Container::Avi).info.audio()->codec,
              AV_CODEC_ID_PCM_S16LE);

    // A file cut within its last sample leaves that part out: copied, it was a
    // packet that players refuse to decode.
    const std::string whole = ReadFile(dir.file("deep.wav"));
    WriteFile(dir.file("deep.wav"), whole.substr(0, whole.find("data") + 8 + 6 * 32000 + 3));
    const Made cut = render({"deep.wav"}, MURELINE_SOUND_KEEP, media::Container::Avi);
    ASSERT_EQ(cut.run.result, 0);
    EXPECT_EQ(cut.info.audio()->audioSamples, 32000);
    const auto played = testsupport::RunProgram(
        "/usr/bin/ffmpeg",
        {"-v", "error", "-i", dir.file("out/photo_video.avi"), "-f", "null", "-"}, dir.path());
    EXPECT_EQ(played.err, "");
}

// A WAV whose header says its blocks are one byte long, not one sample of both
// channels: copied as it is, the movie declared four times the sound it held,
// and players could not play it. Decoded, it lasts as long as the WAV.
TEST_F(Sound, APcmWavWhoseBlocksDoNotFitItsSamplesIsDecodedNotCopied)
{
    mediatest::WriteWav(dir.file("odd.wav"), 44100, 2, 2);
    std::string bytes = ReadFile(dir.file("odd.wav"));
    bytes[32] = 1; // block align
    bytes[33] = 0;
    WriteFile(dir.file("odd.wav"), bytes);
    const Made made = render({"odd.wav"}, MURELINE_SOUND_KEEP, media::Container::Avi);
    ASSERT_EQ(made.run.result, 0);
    EXPECT_EQ(made.info.audio()->audioSamples, 2 * 44100);
}

// A looped track of a few samples was opened and probed again for each time it
// played: seconds of work for each second of the movie.
TEST_F(Sound, AResampledTrackKeepsItsTime)
{
    // A plain WAV names no channels; made 48 kHz by the Opus track after it,
    // its tone must still start where it does in the file.
    mediatest::WriteWav(dir.file("late.wav"), 44100, 1, 4.5, 4);
    const Made made = render({"late.wav", "voice.opus"}, MURELINE_SOUND_CUT, media::Container::Avi);
    ASSERT_EQ(made.run.result, 0);
    ASSERT_EQ(made.sound.sampleRate, 48000);
    const std::vector<float> &left = made.sound.channels.at(0);
    std::size_t onset = 0;
    while (onset < left.size() && std::abs(left[onset]) < 0.05f)
        ++onset;
    EXPECT_NEAR(static_cast<double>(onset), 4 * 48000.0, 24);
}

TEST_F(Sound, AShortTrackLoopsWithoutOpeningItsFileAgainAndAgain)
{
    mediatest::WriteWav(dir.file("tick.wav"), 44100, 1, 10.0 / 44100);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    // Closes between the opens keep them from being merged into one event.
    ASSERT_GE(inotify_add_watch(watch, dir.file("tick.wav").c_str(), IN_OPEN | IN_CLOSE_NOWRITE),
              0);
    const Made made = render({"tick.wav"}, MURELINE_SOUND_LOOP, media::Container::Avi);
    int opens = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            opens += (event->mask & (IN_OPEN | IN_Q_OVERFLOW)) ? 1 : 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    ::close(watch);
    ASSERT_EQ(made.run.result, 0);
    EXPECT_EQ(made.info.audio()->audioSamples, 5 * 44100);
    EXPECT_LT(opens, 8) << opens;
}

// A WAV whose header names a codec its data is not in: every packet is refused,
// and the movie came out silent as though made. A file with no sound in it at
// all is still a track that is simply over at once.
TEST_F(Sound, ATrackOfWhichNothingCanBeDecodedFailsTheRender)
{
    mediatest::WriteWav(dir.file("empty.wav"), 44100, 1, 0);
    const Made empty = render({"empty.wav"}, MURELINE_SOUND_CUT, media::Container::Avi);
    EXPECT_EQ(empty.run.result, 0);

    mediatest::WriteWav(dir.file("mislabelled.wav"), 44100, 1, 1);
    std::string bytes = ReadFile(dir.file("mislabelled.wav"));
    bytes[20] = 0x55; // MP3
    WriteFile(dir.file("mislabelled.wav"), bytes);
    EXPECT_TRUE(FailedSaying(render({"mislabelled.wav"}, MURELINE_SOUND_CUT, media::Container::Avi),
                             "Nothing of the sound file \"" + dir.file("mislabelled.wav")
                                 + "\" could be decoded"));
}

// The AAC encoder pads its last frame beyond the track's length, which MP4
// gives to the sample: played, the padding was some 17 ms of silence at every
// join of tracks and every loop.
TEST_F(Sound, AnM4aTrackEndsWhereItsFileSaysNotWithItsPadding)
{
    mediatest::MakeTone(dir.file("tune.m4a"), 3, 44100, 2, "aac");
    const Made made = render({"tune.m4a", "tune.m4a"}, MURELINE_SOUND_KEEP, media::Container::Avi);
    ASSERT_EQ(made.run.result, 0) << (made.run.messages.empty() ? "" : made.run.messages[0]);
    EXPECT_EQ(made.sound.channels.at(0).size(), 2u * 3 * 44100);
}

// A damaged packet is passed over whatever the decoder calls it: the ALAC
// decoder calls an unknown element "not yet implemented", which failed the
// whole render.
TEST_F(Sound, ADamagedPacketIsSkippedWhateverReasonTheDecoderGives)
{
    mediatest::MakeTone(dir.file("lossless.m4a"), 2, 44100, 1, "alac");
    std::string bytes = ReadFile(dir.file("lossless.m4a"));
    const std::size_t first = bytes.find("mdat") + 4; // the first packet
    ASSERT_EQ(bytes[first] & 0xE0, 0);                // a mono element
    bytes[first] = static_cast<char>(bytes[first] | 0x40);
    WriteFile(dir.file("lossless.m4a"), bytes);
    const Made made = render({"lossless.m4a"}, MURELINE_SOUND_CUT, media::Container::Avi);
    ASSERT_EQ(made.run.result, 0) << (made.run.messages.empty() ? "" : made.run.messages[0]);
    EXPECT_GT(made.sound.level(0.5, 1.5), 0.05);
}

// The AAC encoder refuses a NaN, an infinite or a huge sample, and a float
// WAV with one failed the render into MP4 and Matroska.
TEST_F(Sound, ASampleThatIsNotANumberOrNoSoundIsTamedNotRefusedByTheEncoder)
{
    mediatest::MakeTone(dir.file("float.wav"), 3, 48000, 2, "pcm_f32le");
    std::string bytes = ReadFile(dir.file("float.wav"));
    const std::size_t data = bytes.find("data") + 8;
    const float odd[]
        = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
           -std::numeric_limits<float>::infinity(), 1e30f};
    for (std::size_t i = 0; i < std::size(odd); ++i)
        std::memcpy(&bytes[data + (i * 7001 + 48000) * sizeof(float)], &odd[i], sizeof(float));
    WriteFile(dir.file("float.wav"), bytes);
    const Made made = render({"float.wav"}, MURELINE_SOUND_CUT, media::Container::Mp4,
                             mediatest::IndexOf("libx264"));
    ASSERT_EQ(made.run.result, 0) << (made.run.messages.empty() ? "" : made.run.messages[0]);
    EXPECT_GT(made.sound.level(1.5, 2.5), 0.05);
}

// Channels of no known layout (a plain WAV of 13 or 64) could not be folded
// into the movie's two, and failed the render once it had begun.
TEST_F(Sound, ChannelsOfNoKnownLayoutAreFoldedIntoTheMoviesTwo)
{
    // 16 and 24 have layouts of their own, which the mix to two leaves
    // partly out: the last channel alone must still be heard.
    for (const int channels : {13, 64, 16, 24}) {
        SCOPED_TRACE(channels);
        const bool lastAlone = channels == 16 || channels == 24;
        mediatest::WriteWav(dir.file("many.wav"), 22050, channels, 1.0, 0,
                            lastAlone ? channels - 1 : 0);
        const Made made = render({"many.wav"}, MURELINE_SOUND_CUT, media::Container::Avi);
        ASSERT_EQ(made.run.result, 0) << (made.run.messages.empty() ? "" : made.run.messages[0]);
        EXPECT_EQ(made.sound.channels.size(), 2u);
        // One channel in twelve of either side: a twelfth of the level.
        EXPECT_GT(made.sound.level(0.2, 0.8), lastAlone ? 0.005 : 0.01);
    }
}

// A loud surround file mixed into two channels clipped (the mix in floating
// point is not scaled by itself); three channels that name no layout lost the
// third, taken for the low-frequency one; a pair that is not front left and
// right (rear or side stems) failed the render.
TEST_F(Sound, EveryLayoutIsMixedIntoTwoWholeAndWithoutClipping)
{
    const auto make
        = [&](const std::string &name, const std::string &layout, const std::string &each) {
              std::string sources;
              const int count = static_cast<int>(std::count(layout.begin(), layout.end(), '+')) + 1;
              for (int c = 0; c < count; ++c)
                  sources += (c ? "|" : "") + each;
              const auto made = testsupport::RunProgram(
                  "/usr/bin/ffmpeg",
                  {"-v", "error", "-y", "-f", "lavfi", "-i",
                   "aevalsrc=" + sources + ":s=48000:d=2:channel_layout=" + layout, dir.file(name)},
                  dir.path());
              ASSERT_EQ(made.status, 0) << made.err;
          };
    make("surround.wav", "FL+FR+FC+LFE+BL+BR", "0.9*sin(2*PI*440*t)");
    Made made = render({"surround.wav"}, MURELINE_SOUND_CUT, media::Container::Avi);
    ASSERT_EQ(made.run.result, 0) << (made.run.messages.empty() ? "" : made.run.messages[0]);
    float peak = 0;
    for (const auto &channel : made.sound.channels)
        for (const float sample : channel)
            peak = std::max(peak, std::abs(sample));
    EXPECT_LT(peak, 0.95f);
    EXPECT_GT(made.sound.level(0.5, 1.5), 0.2);

    mediatest::WriteWav(dir.file("three.wav"), 22050, 3, 1.0, 0, 2);
    made = render({"three.wav"}, MURELINE_SOUND_CUT, media::Container::Avi);
    ASSERT_EQ(made.run.result, 0) << (made.run.messages.empty() ? "" : made.run.messages[0]);
    EXPECT_GT(made.sound.level(0.2, 0.8), 0.05);

    make("rear.wav", "BL+BR", "0.5*sin(2*PI*440*t)");
    made = render({"rear.wav"}, MURELINE_SOUND_CUT, media::Container::Avi);
    ASSERT_EQ(made.run.result, 0) << (made.run.messages.empty() ? "" : made.run.messages[0]);
    EXPECT_GT(made.sound.level(0.5, 1.5), 0.2);
}

namespace {
// Whether avcodec_receive_frame hands out its frames in a layout of custom
// order and runs out of memory at the first one from a second into the sound
// on (what the decoder refuses for the data is passed over as damage).
std::atomic<bool> customThenFailing{false};
} // namespace

// Stands in for FFmpeg's own in this program, the renderer's library included:
// the FFmpeg of Debian 12 decodes no file into a layout of custom order.
extern "C" __attribute__((visibility("default"))) int avcodec_receive_frame(AVCodecContext *decoder,
                                                                            AVFrame *frame)
{
    using Receive = int (*)(AVCodecContext *, AVFrame *);
    static const auto real = reinterpret_cast<Receive>(dlsym(RTLD_NEXT, "avcodec_receive_frame"));
    const int ret = real(decoder, frame);
    if (ret < 0 || !customThenFailing)
        return ret;
    if (frame->pts != AV_NOPTS_VALUE && frame->pts * av_q2d(decoder->pkt_timebase) >= 1) {
        av_frame_unref(frame);
        return AVERROR(ENOMEM);
    }
    AVChannelLayout custom{};
    custom.order = AV_CHANNEL_ORDER_CUSTOM;
    custom.nb_channels = frame->ch_layout.nb_channels;
    custom.u.map
        = static_cast<AVChannelCustom *>(av_calloc(custom.nb_channels, sizeof(AVChannelCustom)));
    if (!custom.u.map) {
        av_frame_unref(frame);
        return AVERROR(ENOMEM);
    }
    for (int i = 0; i < custom.nb_channels; ++i)
        custom.u.map[i].id = i % 2 ? AV_CHAN_FRONT_RIGHT : AV_CHAN_FRONT_LEFT;
    av_channel_layout_uninit(&frame->ch_layout);
    frame->ch_layout = custom;
    return ret;
}

// A track whose decoder fails after a frame in a layout of custom order: the
// render ends with the reason and frees the copy of the layout the sound was
// resampled from (the sanitizer build would report it left behind).
TEST_F(Sound, ADecoderThatFailsAfterACustomLayoutEndsTheRenderLeavingNothingBehind)
{
    customThenFailing = true;
    const Made made = render({"song.mp3"}, MURELINE_SOUND_CUT, media::Container::Avi);
    customThenFailing = false;
    EXPECT_TRUE(FailedSaying(made, "Cannot read the sound file \"" + dir.file("song.mp3")
                                       + "\": Cannot allocate memory"));
}

TEST_F(Sound, AContainerThatCannotCarryTheCompressorOrATrackThatIsNoSoundIsRefused)
{
    WriteFile(movie, "an earlier movie");
    MurelineOptions options{};
    options.size = sizeof options;
    options.container = MURELINE_CONTAINER_WEBM;
    auto run = RunPhoto2Avi(movie, 0, "", {}, &options);
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.messages, std::vector<std::string>{
                                "Could not connect compressor to mux.\r\n\r\n"
                                + media::ContainerRefusal(media::Container::WebM,
                                                          media::VideoCompressorCategory()[0])});
    EXPECT_EQ(ReadFile(movie), "an earlier movie");

    WriteFile(dir.file("notes.txt"), "no sound here\n");
    const Made made = render({"song.mp3", "notes.txt"}, MURELINE_SOUND_CUT, media::Container::Avi);
    EXPECT_EQ(made.run.result, -1);
    ASSERT_EQ(made.run.messages.size(), 1u);
    EXPECT_TRUE(made.run.messages[0].starts_with(
        "Could not load Music Source filter for file\r\n\r\nCannot open \""
        + dir.file("notes.txt")))
        << made.run.messages[0];
    // Nor a FIFO, which is refused at once rather than waited on.
    ASSERT_EQ(::mkfifo(dir.file("pipe.wav").c_str(), 0600), 0);
    const Made piped = render({"song.mp3", "pipe.wav"}, MURELINE_SOUND_CUT, media::Container::Avi);
    ASSERT_EQ(piped.run.messages.size(), 1u);
    EXPECT_NE(piped.run.messages[0].find("Cannot open \"" + dir.file("pipe.wav")
                                         + "\": Not a regular file"),
              std::string::npos)
        << piped.run.messages[0];
    EXPECT_EQ(ReadFile(movie), "an earlier movie");

    // Nor is a playlist that names another of the user's files, kept whole as
    // a lone track (the AVI's own sound) or cut.
    WriteFile(dir.file("list.wav"), "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:8,\n"
                                        + dir.file("song.mp3") + "\n#EXT-X-ENDLIST\n");
    for (const int end : {MURELINE_SOUND_KEEP, MURELINE_SOUND_CUT}) {
        const Made listed = render({"list.wav"}, end, media::Container::Avi);
        EXPECT_EQ(listed.run.result, -1);
        ASSERT_EQ(listed.run.messages.size(), 1u);
        EXPECT_NE(listed.run.messages[0].find(dir.file("list.wav") + "\": Invalid argument"),
                  std::string::npos)
            << listed.run.messages[0];
    }
    EXPECT_EQ(ReadFile(movie), "an earlier movie");

    // Nor a WAV whose header claims a hundred million samples a second, which
    // cost 1.2 GB before it failed for want of memory.
    auto le = [](std::uint32_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        return out;
    };
    // Nor one of one sample a second, which took gigabytes to resample.
    for (const std::uint32_t rate : {100000000u, 1u}) {
        WriteFile(dir.file("odd.wav"), "RIFF" + le(36 + 4000, 4) + "WAVEfmt " + le(16, 4) + le(1, 2)
                                           + le(2, 2) + le(rate, 4) + le(rate * 4, 4) + le(4, 2)
                                           + le(16, 2) + "data" + le(4000, 4)
                                           + std::string(4000, '\0'));
        for (const int end : {MURELINE_SOUND_KEEP, MURELINE_SOUND_LOOP}) {
            const Made odd = render({"odd.wav"}, end, media::Container::Avi);
            EXPECT_EQ(odd.run.result, -1) << rate;
            ASSERT_EQ(odd.run.messages.size(), 1u);
            EXPECT_NE(odd.run.messages[0].find(dir.file("odd.wav") + "\" claims "
                                               + std::to_string(rate) + " samples a second"),
                      std::string::npos)
                << odd.run.messages[0];
        }
    }
    EXPECT_EQ(ReadFile(movie), "an earlier movie");
}
