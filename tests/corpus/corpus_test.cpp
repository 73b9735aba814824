// The corpus of bad and unusual inputs, run through every part that reads
// photos: the headless tool (script writer, engine, renderer) as a process, the
// frame server through its host as a process, and the thumbnail maker. Every
// case ends in a correct movie, frame or thumbnail, or in the system's own
// message; no run crashes, outlives its time or leaves a broken movie behind,
// and a file that only claims a huge size costs no memory in proportion to it.
#include "corpus_inputs.h"

#include "app/job/job.h"
#include "app/photos/PhotoThumbPanel.h"
#include "media_support.h"
#include "platform/forms/errors.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

using namespace testsupport;
using namespace corpus;

namespace {

// Runs get this long before they count as hung. Generous: sanitizer builds on a
// busy machine are slow, and a hang is a hang whatever the limit.
constexpr int kTimeoutSeconds = 240;

// What a photo that only claims a huge size, or a genuine panorama decoded in
// strips or scaled, may cost beyond the same program's run on a small photo.
// Decoding the panorama at full size would take 600 MB, the claimed
// 60000 × 60000 picture 10.8 GB.
constexpr long kBoundedExtraKilobytes = 200 * 1024;

const char *const kRendererMessages[] = {
    "Could not create a graph",
    "Could not load source filter for file",
    "Could not setup capture graph",
    "Cannot set up MUX and File Writer",
    "Could not connect photo source to compressor.\r\n\r\n",
    "Could not connect compressor to mux.\r\n\r\n",
    "Could not load Music Source filter for file",
    "Could not run compression graph",
    "Could not complete compression graph\r\n\r\n",
    "Cannot create file \"",
};

constexpr const char *kRunFailed = "An error occured when convert photo to video stream.\n";

// The renderer's message that a failed run printed, or "" when there is none.
std::string RendererMessage(const std::string &err)
{
    for (const char *message : kRendererMessages)
        if (err.find(message) != std::string::npos)
            return message;
    return {};
}

std::string Describe(const MeasuredOutcome &run)
{
    std::ostringstream text;
    text << "status " << run.status << (run.timedOut ? " (timed out)" : "") << ", peak "
         << run.peakKilobytes / 1024 << " MB, stderr:\n"
         << run.err;
    return text.str();
}

// The peak memory of a run beside that of the same program on a small photo,
// for the log.
void ShowPeak(const std::string &what, const MeasuredOutcome &run, const MeasuredOutcome &small)
{
    std::printf("%s: peak %ld MB (%ld MB on a small photo)\n", what.c_str(),
                run.peakKilobytes / 1024, small.peakKilobytes / 1024);
}

int Distance(Rgb a, Rgb b)
{
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

std::string Text(Rgb c)
{
    return std::to_string(c.r) + " " + std::to_string(c.g) + " " + std::to_string(c.b);
}

// The mean colour of a BGR frame.
Rgb Mean(const std::vector<std::uint8_t> &bgr)
{
    double sum[3] = {0, 0, 0};
    for (std::size_t i = 0; i < bgr.size(); ++i)
        sum[i % 3] += bgr[i];
    const double n = static_cast<double>(bgr.size() / 3);
    return {static_cast<std::uint8_t>(sum[2] / n + 0.5),
            static_cast<std::uint8_t>(sum[1] / n + 0.5),
            static_cast<std::uint8_t>(sum[0] / n + 0.5)};
}

} // namespace

// The big pictures are made once for the whole run: a panorama takes seconds.
class Corpus : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        std::string pattern = "/tmp/quillon-corpus-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        shared_ = pattern + "/";
        // Left half red, right half blue.
        WriteJpeg(panorama(), 20000, 10000, [](int x, int) { return x < 10000 ? kRed : kBlue; });
    }
    static void TearDownTestSuite()
    {
        std::error_code ec;
        std::filesystem::remove_all(shared_, ec);
    }
    static std::string panorama() { return shared_ + "panorama 20000x10000.jpg"; }

    // Writes the input into the test's folder; returns its path.
    std::string put(const Input &input, const std::string &folder = "inputs/")
    {
        MakeFolder(dir.file(folder));
        const std::string path = dir.file(folder + input.name);
        WriteFile(path, input.bytes);
        return path;
    }

    MeasuredOutcome render(const std::vector<std::string> &args)
    {
        return RunProgramWithin(QUILLON_RENDER, args, dir.path(), kTimeoutSeconds);
    }
    MeasuredOutcome renderInto(const std::string &folder, const std::vector<std::string> &photos)
    {
        std::vector<std::string> args{"--interval",      "1",   "--resolution", "low",
                                      "--output-folder", folder};
        args.insert(args.end(), photos.begin(), photos.end());
        return render(args);
    }
    MeasuredOutcome probe(const std::string &photo)
    {
        return RunProgramWithin(THUMBNAIL_PROBE, {photo}, dir.path(), kTimeoutSeconds);
    }
    // Serves the job's show through the host; a PNG still of the first frame
    // of every photo goes to stills/.
    MeasuredOutcome serve(const std::vector<std::string> &photos)
    {
        std::string list;
        for (const std::string &photo : photos)
            list += photo + "\r\n";
        WriteFile(dir.job("param.ini"),
                  "[Temp]\r\nOutputWidth=352\r\nOutputHeight=240\r\nInterval=1\r\n");
        WriteFile(dir.job("pelloryfilelist.txt"), list);
        std::filesystem::remove_all(dir.file("stills"));
        return RunProgramWithin(
            BRINDLE_HOST, {dir.file("show.y4m"), "--png", dir.file("stills"), "--every", "30"},
            dir.path(), kTimeoutSeconds);
    }
    Rgb stillCentre(int photo)
    {
        char name[32];
        std::snprintf(name, sizeof name, "stills/frame-%06d.png", photo * 30);
        const Png png = ReadPng(dir.file(name));
        return png.at(png.width / 2, png.height / 2);
    }

    TempDir dir;
    static inline std::string shared_;
};

// --- the thumbnail maker ---------------------------------------------------------

TEST_F(Corpus, ThumbnailsOfBadPicturesEndInTheSystemsMessage)
{
    quillon::TPhotoThumbPanel panel;
    for (const Input &bad : BadPictures()) {
        const std::string path = put(bad);
        quillon::TThumbItem *item = panel.ThumbItems()->Add();
        try {
            item->SetFileName(path);
            ADD_FAILURE() << bad.name << " made a thumbnail";
        } catch (const forms::EInvalidGraphic &e) {
            EXPECT_TRUE(
                std::string(e.what()).starts_with("Cannot read the picture \"" + path + "\": "))
                << e.what();
            // A claimed size the movie refuses is refused here for the same reason.
            if (bad.name.starts_with("declares-"))
                EXPECT_NE(std::string(e.what()).find("\": it is too large ("), std::string::npos)
                    << e.what();
            std::printf("%s: %s\n", bad.name.c_str(), e.what());
        }
        EXPECT_EQ(item->FileName(), path);
        EXPECT_FALSE(item->Image()->Picture()->HasGraphic()) << bad.name;
    }
}

TEST_F(Corpus, ThumbnailsOfUnusualPhotosAndNames)
{
    quillon::TPhotoThumbPanel panel;
    auto check = [&](const std::string &path, int width, int height, Rgb colour) {
        quillon::TThumbItem *item = panel.ThumbItems()->Add();
        ASSERT_NO_THROW(item->SetFileName(path)) << path;
        const forms::TBitmap *thumbnail = item->Image()->Picture()->Graphic();
        ASSERT_NE(thumbnail, nullptr) << path;
        EXPECT_EQ(thumbnail->Width(), width) << path;
        EXPECT_EQ(thumbnail->Height(), height) << path;
        const QImage image = thumbnail->Image().convertToFormat(QImage::Format_BGR888);
        std::vector<std::uint8_t> bgr;
        for (int y = 0; y < image.height(); ++y)
            bgr.insert(bgr.end(), image.constScanLine(y),
                       image.constScanLine(y) + image.width() * 3);
        EXPECT_LE(Distance(Mean(bgr), colour), 12) << path << ": " << Text(Mean(bgr));
    };
    for (const ColourPhoto &photo : UnusualGoodPhotos()) {
        const bool small = photo.input.name == "tiny.bmp";
        check(put(photo.input), small ? 3 : 100, small ? 2 : 75, photo.colour);
    }
    std::vector<std::string> names = UnusualNames();
    for (const std::string &name : NamesTheScriptCannotCarry())
        names.push_back(name);
    for (const std::string &name : names) {
        const bool bmp = name.ends_with(".bmp");
        check(put({name, bmp ? SolidBmp(200, 150, kGreen) : SolidJpeg(200, 150, kGreen)}), 100, 75,
              kGreen);
    }
}

TEST_F(Corpus, ThumbnailOfAHugeClaimFailsAndOfAPanoramaWorksInBoundedMemory)
{
    const MeasuredOutcome small = probe(put({"small.jpg", SolidJpeg(640, 480, kGreen)}));
    ASSERT_EQ(small.status, 0) << Describe(small);

    for (const Input &bad : BadPictures()) {
        if (bad.name.find("60000") == std::string::npos)
            continue;
        const MeasuredOutcome run = probe(put(bad));
        ShowPeak("thumbnail of " + bad.name, run, small);
        EXPECT_EQ(run.status, 1) << bad.name << ": " << Describe(run) << run.out;
        EXPECT_TRUE(run.out.starts_with("Cannot read the picture ")) << run.out;
        EXPECT_LT(run.peakKilobytes - small.peakKilobytes, kBoundedExtraKilobytes)
            << bad.name << ": " << Describe(run);
    }

    const MeasuredOutcome run = probe(panorama());
    ShowPeak("thumbnail of the panorama", run, small);
    ASSERT_EQ(run.status, 0) << Describe(run) << run.out;
    // Half red, half blue, averaged over the whole thumbnail.
    EXPECT_EQ(run.out.substr(0, run.out.find(' ')), "100x75");
    EXPECT_LT(run.peakKilobytes - small.peakKilobytes, kBoundedExtraKilobytes) << Describe(run);
}

// --- the headless tool: script writer, engine, renderer ----------------------------

TEST_F(Corpus, EachBadPictureEndsTheRenderInTheRenderersMessage)
{
    const std::string good = put({"good.jpg", SolidJpeg(320, 240, kRed)});
    const std::string movie = dir.file("out/photo_video.avi");
    MakeFolder(dir.file("out"));
    for (const Input &bad : BadPictures()) {
        WriteFile(movie, "an earlier movie");
        const MeasuredOutcome run = renderInto(dir.file("out"), {good, put(bad)});
        EXPECT_FALSE(run.timedOut) << bad.name;
        EXPECT_EQ(run.status, 1) << bad.name << ": " << Describe(run);
        EXPECT_TRUE(run.err.ends_with(kRunFailed)) << bad.name << ": " << run.err;
        const std::string message = RendererMessage(run.err);
        EXPECT_FALSE(message.empty()) << bad.name << ": " << run.err;
        // The message names the photo and says what is wrong with it.
        EXPECT_NE(run.err.find("Cannot read the picture \"" + dir.file("inputs/" + bad.name)),
                  std::string::npos)
            << run.err;
        std::printf("%s: %s\n", bad.name.c_str(), message.c_str());
        EXPECT_EQ(ReadFile(movie), "an earlier movie") << bad.name << ": a failed render keeps it";
    }
}

TEST_F(Corpus, UnusualPhotosAndNamesMakeTheMovie)
{
    std::vector<std::string> photos;
    std::vector<Rgb> colours;
    for (const ColourPhoto &photo : UnusualGoodPhotos()) {
        photos.push_back(put(photo.input));
        colours.push_back(photo.colour);
    }
    for (const std::string &name : UnusualNames()) {
        const Rgb colour = colours.size() % 2 ? kGreen : kBlue;
        photos.push_back(put({name, name.ends_with(".bmp") ? SolidBmp(300, 200, colour)
                                                           : SolidJpeg(300, 200, colour)}));
        colours.push_back(colour);
    }
    // An output folder with the same kinds of names, made by the run.
    const std::string folder = dir.file("Filme \xC3\xA4 \"quoted\" it's/");
    const MeasuredOutcome run = renderInto(folder, photos);
    ASSERT_EQ(run.status, 0) << Describe(run);
    const std::string movie = folder + "photo_video.avi";
    EXPECT_EQ(run.out, movie + "\n");

    // Interval 1: each slide 25 frames still, then a 25-frame fade.
    const auto info = mediatest::ProbeAvi(movie);
    ASSERT_NE(info.video(), nullptr);
    const auto n = static_cast<std::int64_t>(photos.size());
    EXPECT_EQ(info.video()->frames, 25 * (n * 2 - 1));
    for (std::int64_t i = 0; i < n; ++i) {
        const Rgb mean = Mean(mediatest::DecodeFrame(movie, 50 * i + 12));
        EXPECT_LE(Distance(mean, colours[i]), 16) << photos[i] << ": " << Text(mean);
    }
}

TEST_F(Corpus, NamesTheScriptCannotCarryAreRefusedBeforeAnythingIsWritten)
{
    const std::string good = put({"good.jpg", SolidJpeg(320, 240, kRed)});
    WriteFile(dir.job("pelloryfilelist.txt"), "an earlier list\r\n");
    WriteFile(dir.job("param.ini"), "[Temp]\r\nInterval=7\r\n");
    WriteFile(dir.job("temp.avs"), "return BlankClip()\r\n");
    for (const std::string &name : NamesTheScriptCannotCarry()) {
        const std::string bad = put({name, SolidJpeg(320, 240, kGreen)});
        const MeasuredOutcome run = renderInto(dir.file("out"), {good, bad});
        EXPECT_EQ(run.status, 1) << Describe(run);
        EXPECT_EQ(run.err, "The photo \"" + bad
                               + "\" cannot be used: its name contains a double quote or a line "
                                 "break.\n");
        EXPECT_EQ(ReadFile(dir.job("pelloryfilelist.txt")), "an earlier list\r\n");
        EXPECT_EQ(ReadFile(dir.job("param.ini")), "[Temp]\r\nInterval=7\r\n");
        EXPECT_EQ(ReadFile(dir.job("temp.avs")), "return BlankClip()\r\n");
        EXPECT_FALSE(Exists(dir.file("out/photo_video.avi")));
    }
}

TEST_F(Corpus, AFolderLinkCycleIsScannedOnce)
{
    MakeFolder(dir.file("album/sub"));
    WriteFile(dir.file("album/a.jpg"), SolidJpeg(320, 240, kRed));
    WriteFile(dir.file("album/sub/b.jpg"), SolidJpeg(320, 240, kBlue));
    std::filesystem::create_directory_symlink("..", dir.file("album/sub/back up"));
    std::filesystem::create_directory_symlink(dir.file("album"), dir.file("album/itself"));
    const MeasuredOutcome run = renderInto(dir.file("out"), {dir.file("album")});
    ASSERT_EQ(run.status, 0) << Describe(run);
    const std::string list = ReadFile(dir.job("pelloryfilelist.txt"));
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 2) << list;
    EXPECT_EQ(mediatest::ProbeAvi(dir.file("out/photo_video.avi")).video()->frames, 25 * 3);
}

TEST_F(Corpus, RenderOfAHugeClaimFailsAndOfAPanoramaWorksInBoundedMemory)
{
    const MeasuredOutcome small
        = renderInto(dir.file("out"), {put({"small.jpg", SolidJpeg(640, 480, kGreen)})});
    ASSERT_EQ(small.status, 0) << Describe(small);

    for (const Input &bad : BadPictures()) {
        if (bad.name.find("60000") == std::string::npos)
            continue;
        const MeasuredOutcome run = renderInto(dir.file("out"), {put(bad)});
        ShowPeak("render of " + bad.name, run, small);
        EXPECT_EQ(run.status, 1) << bad.name << ": " << Describe(run);
        EXPECT_LT(run.peakKilobytes - small.peakKilobytes, kBoundedExtraKilobytes)
            << bad.name << ": " << Describe(run);
    }

    const MeasuredOutcome run = renderInto(dir.file("out"), {panorama()});
    ShowPeak("render of the panorama", run, small);
    ASSERT_EQ(run.status, 0) << Describe(run);
    EXPECT_LT(run.peakKilobytes - small.peakKilobytes, kBoundedExtraKilobytes) << Describe(run);
    // Stretched to the frame: red on the left, blue on the right.
    const std::string movie = dir.file("out/photo_video.avi");
    const std::vector<std::uint8_t> frame = mediatest::DecodeFrame(movie, 12);
    const auto info = mediatest::ProbeAvi(movie);
    const int width = info.video()->width;
    auto at = [&](int x, int y) {
        const std::uint8_t *p = frame.data() + (static_cast<std::size_t>(y) * width + x) * 3;
        return Rgb{p[2], p[1], p[0]};
    };
    EXPECT_LE(Distance(at(width / 4, 100), kRed), 16) << Text(at(width / 4, 100));
    EXPECT_LE(Distance(at(3 * width / 4, 100), kBlue), 16) << Text(at(3 * width / 4, 100));
}

TEST_F(Corpus, OutputOnAFullFileSystemLeavesNoBrokenMovie)
{
    const std::string photo = put({"photo.jpg", SolidJpeg(640, 480, kRed)});
    for (const long long room : {0LL, 48LL * 1024}) {
        SmallFileSystem disk(dir.file("disk"), 256 * 1024);
        if (!disk.mounted())
            GTEST_SKIP() << "cannot mount a small file system here: " << disk.why();
        ASSERT_TRUE(disk.fill(room));
        // Slides long enough that the movie cannot fit into the room left.
        const MeasuredOutcome run
            = render({"--interval", "20", "--output-folder", dir.file("disk"), photo, photo});
        EXPECT_EQ(run.status, 1) << room << ": " << Describe(run);
        EXPECT_TRUE(run.err.ends_with(kRunFailed)) << run.err;
        EXPECT_FALSE(RendererMessage(run.err).empty()) << run.err;
        EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
        EXPECT_FALSE(Exists(dir.file("disk/photo_video.avi"))) << room;
    }
}

TEST_F(Corpus, JobFilesOnAFullFileSystemStayAsTheyWere)
{
    const std::string photo = put({"photo.jpg", SolidJpeg(320, 240, kRed)});
    SmallFileSystem temp(dir.file("temp"), 64 * 1024);
    if (!temp.mounted())
        GTEST_SKIP() << "cannot mount a small file system here: " << temp.why();
    // The files of an earlier job, which the frame server still serves.
    const std::string list
        = dir.file("elsewhere/a.jpg") + "\r\n" + dir.file("elsewhere/b.jpg") + "\r\n";
    const std::string params = "[Temp]\r\nOutputWidth=352\r\nOutputHeight=240\r\nInterval=4\r\n";
    const std::string script = "return BlankClip()\r\n";
    const std::string jobs = testsupport::JobFolderIn(dir.file("temp"));
    WriteFile(jobs + "pelloryfilelist.txt", list);
    WriteFile(jobs + "param.ini", params);
    WriteFile(jobs + "temp.avs", script);
    ASSERT_TRUE(temp.fill(0));

    // A list long enough that it cannot fit where the old one stood.
    std::string many;
    for (int i = 0; i < 200; ++i)
        many += " '" + photo + "'";
    const MeasuredOutcome run = RunProgramWithin(
        "/bin/sh",
        {"-c", "TMPDIR='" + dir.file("temp") + "' exec '" QUILLON_RENDER "' --output-folder '"
                   + dir.file("out") + "'" + many},
        dir.path(), kTimeoutSeconds);
    EXPECT_EQ(run.status, 1) << Describe(run);
    EXPECT_EQ(run.err, "Cannot create file \"" + jobs + "pelloryfilelist.txt"
                           + "\". No space left on device\n");
    EXPECT_EQ(ReadFile(jobs + "pelloryfilelist.txt"), list);
    EXPECT_EQ(ReadFile(jobs + "param.ini"), params);
    EXPECT_EQ(ReadFile(jobs + "temp.avs"), script);

    // The settings file, written key by key, grows with every key it gets: past
    // the page that the old one filled.
    const std::string fewer = "[Temp]\r\nInterval=4\r\n; " + std::string(4060, '-') + "\r\n";
    std::filesystem::remove(dir.file("temp/filler"));
    WriteFile(jobs + "param.ini", fewer);
    ASSERT_TRUE(temp.fill(0));
    EXPECT_THROW(quillon::WriteParamIni(jobs, 720, 480, 4), forms::EIniFileException);
    EXPECT_EQ(ReadFile(jobs + "param.ini"), fewer);
}

TEST_F(Corpus, OutputThatCannotBeWritten)
{
    const std::string photo = put({"photo.jpg", SolidJpeg(320, 240, kRed)});

    // /proc is a folder where no file can be made; the message says which file
    // and why, before any rendering.
    MeasuredOutcome run = renderInto("/proc", {photo});
    EXPECT_EQ(run.status, 1) << Describe(run);
    EXPECT_NE(run.err.find("Cannot create file \"/proc/photo_video.avi\". "), std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("Time:"), std::string::npos) << run.err;

    SmallFileSystem readOnly(dir.file("read-only"), 64 * 1024, true);
    if (readOnly.mounted()) {
        run = renderInto(dir.file("read-only"), {photo});
        EXPECT_EQ(run.status, 1) << Describe(run);
        EXPECT_NE(run.err.find("Cannot create file \"" + dir.file("read-only/photo_video.avi")
                               + "\". Read-only file system"),
                  std::string::npos)
            << run.err;
    } else {
        std::printf("no read-only mount here: %s\n", readOnly.why().c_str());
    }

    // A file where the folder should be: the folder cannot be made, and the run
    // says so instead of writing the movie into the folder it runs in.
    WriteFile(dir.file("a file"), "x");
    MakeFolder(dir.file("work"));
    run = RunProgramWithin("/bin/sh",
                           {"-c", "cd '" + dir.file("work")
                                      + "' && exec '" QUILLON_RENDER
                                        "' --interval 1 --resolution low --output-folder '"
                                      + dir.file("a file") + "' '" + photo + "'"},
                           dir.path(), kTimeoutSeconds);
    EXPECT_EQ(run.status, 1) << Describe(run);
    EXPECT_EQ(run.err, std::string("Converting photo to video stream ... \n")
                           + "Cannot create the output folder \"" + dir.file("a file")
                           + "\". Not a directory\n" + kRunFailed);
    EXPECT_FALSE(Exists(dir.file("work/photo_video.avi")));
    EXPECT_EQ(ReadFile(dir.file("a file")), "x");
}

// --- the frame server ---------------------------------------------------------------

TEST_F(Corpus, TheFrameServerShowsBadPicturesAsBlackFrames)
{
    std::vector<std::string> photos;
    std::vector<Rgb> expected;
    for (const ColourPhoto &photo : UnusualGoodPhotos()) {
        photos.push_back(put(photo.input));
        // The frame server decodes JPEG only.
        expected.push_back(photo.input.name.ends_with(".jpg") ? photo.colour : Rgb{0, 0, 0});
    }
    for (const Input &bad : BadPictures()) {
        photos.push_back(put(bad));
        expected.push_back({0, 0, 0});
    }
    for (const std::string &name : UnusualNames()) {
        if (name.ends_with(".bmp"))
            continue;
        photos.push_back(put({name, SolidJpeg(300, 200, kBlue)}));
        expected.push_back(kBlue);
    }
    photos.push_back(put({"say \"cheese\".jpg", SolidJpeg(300, 200, kRed)}));
    expected.push_back(kRed);
    photos.push_back(dir.file("inputs"));            // a folder
    photos.push_back(dir.file("no such photo.jpg")); // a file that is not there
    photos.push_back("");                            // an empty line
    for (int i = 0; i < 3; ++i)
        expected.push_back({0, 0, 0});

    const MeasuredOutcome run = serve(photos);
    ASSERT_EQ(run.status, 0) << Describe(run);
    for (std::size_t i = 0; i < photos.size(); ++i)
        EXPECT_LE(Distance(stillCentre(static_cast<int>(i)), expected[i]), 16)
            << photos[i] << ": " << Text(stillCentre(static_cast<int>(i)));
    // Every frame of every slot is served, 30 a second.
    const std::string stream = ReadFile(dir.file("show.y4m"));
    const std::size_t header = stream.find('\n') + 1;
    const std::size_t frame = 6 + 352 * 240 * 3 / 2;
    EXPECT_EQ((stream.size() - header) / frame, photos.size() * 30);
    EXPECT_EQ((stream.size() - header) % frame, 0u);
}

TEST_F(Corpus, FrameServerOfAHugeClaimAndOfAPanoramaInBoundedMemory)
{
    const MeasuredOutcome small = serve({put({"small.jpg", SolidJpeg(640, 480, kGreen)})});
    ASSERT_EQ(small.status, 0) << Describe(small);

    for (const Input &bad : BadPictures()) {
        if (bad.name.find("60000") == std::string::npos || !bad.name.ends_with(".jpg"))
            continue;
        const MeasuredOutcome run = serve({put(bad)});
        ShowPeak("frame server on " + bad.name, run, small);
        EXPECT_EQ(run.status, 0) << bad.name << ": " << Describe(run);
        EXPECT_LE(Distance(stillCentre(0), {0, 0, 0}), 0) << bad.name;
        EXPECT_LT(run.peakKilobytes - small.peakKilobytes, kBoundedExtraKilobytes)
            << bad.name << ": " << Describe(run);
    }

    const MeasuredOutcome run = serve({panorama()});
    ShowPeak("frame server on the panorama", run, small);
    ASSERT_EQ(run.status, 0) << Describe(run);
    EXPECT_LT(run.peakKilobytes - small.peakKilobytes, kBoundedExtraKilobytes) << Describe(run);
    // Fitted with its aspect: 352 × 176 on black, red on the left, blue on the right.
    const Png still = ReadPng(dir.file("stills/frame-000000.png"));
    EXPECT_LE(Distance(still.at(88, 120), kRed), 16) << Text(still.at(88, 120));
    EXPECT_LE(Distance(still.at(264, 120), kBlue), 16) << Text(still.at(264, 120));
    EXPECT_EQ(Distance(still.at(176, 10), {0, 0, 0}), 0);
}
