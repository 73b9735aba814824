// quillon-render as a user runs it: a process with arguments, exit codes, the
// job files it leaves in the temporary folder and the movie.
#include "app/job/app_define.h"
#include "app/job/script_writer.h"
#include "media_support.h"
#include "pictures.h"
#include "testsupport.h"

#include "platform/win32/files.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using namespace testsupport;

class QuillonRender : public ::testing::Test
{
protected:
    TempDir dir;

    Outcome render(std::vector<std::string> args)
    {
        return RunProgram(QUILLON_RENDER, args, dir.path());
    }
};

TEST_F(QuillonRender, UsageErrorsExitWithTwoAndOneLine)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"--interval", "0", "x.jpg"},
          {"--interval", "65537", "x.jpg"},
          {"--interval", "two", "x.jpg"},
          {"--standard", "secam", "x.jpg"},
          {"--resolution", "huge", "x.jpg"},
          {"--bogus", "x.jpg"},
          {"--size", "1921x1080", "x.jpg"},
          {"--size", "4k", "x.jpg"},
          {"--fps", "29", "x.jpg"},
          {"--fit", "zoom", "x.jpg"},
          {"x.jpg", "--interval"},
          {"--compressor", "NoSuchCodecName", "x.jpg"},
          {"--compressor", "", "x.jpg"},
          {"--container", "mov", "x.jpg"},
          {"--sound-end", "fade", "x.jpg"},
          {"--container", "webm", "--compressor", "H.264", "x.jpg"},
          {"--output-folder", "", "x.jpg"},
          {"--sound", "", "x.jpg"},
          {"x.jpg", "--", ""}}) {
        Outcome run = render(args);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(run.err.starts_with("quillon-render: ")) << run.err;
    }
}

TEST_F(QuillonRender, ListsTheCompressorCategory)
{
    Outcome run = render({"--list-compressors"});
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("0\t")) << run.out;
    EXPECT_NE(run.out.find("DivX? 5"), std::string::npos);
}

TEST_F(QuillonRender, EmptyListIsRefused)
{
    MakeFolder(dir.file("nothing here"));
    WriteFile(dir.file("nothing here/notes.txt"), "x");
    Outcome run = render({dir.file("nothing here")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Please add some photos first.\n");
    EXPECT_FALSE(Exists(dir.job("pelloryfilelist.txt")));
}

TEST_F(QuillonRender, FolderAndFilesMakeTheMovieAndTheJobFiles)
{
    MakeFolder(dir.file("photos/sub"));
    WriteJpeg(dir.file("photos/a.jpg"), 300, 200, Gradient(1));
    WriteBmp24(dir.file("photos/sub/b.bmp"), 120, 160, Gradient(2));
    WriteFile(dir.file("photos/skip.png"), "x");
    WriteJpeg(dir.file("--extra.jpeg"), 200, 200, Gradient(3));
    mediatest::WriteWav(dir.file("tune.wav"), 11025, 1, 2.0);

    // A relative file argument is made absolute against the current folder;
    // after "--" a name that begins with "--" is a photo too.
    Outcome run = RunProgram("/bin/sh",
                             {"-c", "cd '" + dir.path() + "' && exec '" + QUILLON_RENDER
                                        + "' --interval 1 --standard pal --resolution low"
                                          " --sound tune.wav --output-folder out/movies photos "
                                          "-- --extra.jpeg"},
                             dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.starts_with("Converting photo to video stream ... \n")) << run.err;
    EXPECT_TRUE(run.err.ends_with("\nVideo File Generation Compeleted.\n")) << run.err;
    EXPECT_NE(run.err.find("Time: 5.00s/5s"), std::string::npos) << run.err;

    // The folder's own pictures carry the doubled separator of the folder chooser.
    const std::string list = ReadFile(dir.job("pelloryfilelist.txt"));
    std::vector<std::string> photos;
    for (std::size_t at = 0; at < list.size();) {
        std::size_t end = list.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        photos.push_back(list.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_EQ(photos.size(), 3u);
    EXPECT_EQ(photos.back(), dir.file("--extra.jpeg"));
    EXPECT_NE(std::find(photos.begin(), photos.end(), dir.file("photos//a.jpg")), photos.end());
    EXPECT_NE(std::find(photos.begin(), photos.end(), dir.file("photos//sub/b.bmp")), photos.end());
    EXPECT_EQ(ReadFile(dir.job("param.ini")),
              "[Temp]\r\nOutputWidth=352\r\nOutputHeight=288\r\nInterval=1\r\n");
    EXPECT_EQ(ReadFile(dir.job("temp.avs")), quillon::BuildScript(photos, 1, 2, "1"));

    const std::string movie = dir.file("out/movies/photo_video.avi");
    EXPECT_EQ(run.out, movie + "\n");
    auto info = mediatest::ProbeAvi(movie);
    ASSERT_NE(info.video(), nullptr);
    EXPECT_EQ(info.video()->tag, "DX50");
    EXPECT_EQ(info.video()->width, 352);
    EXPECT_EQ(info.video()->height, 288);
    EXPECT_EQ(info.video()->frames, 25 * (3 * 2 - 1));
    ASSERT_NE(info.audio(), nullptr);
    EXPECT_EQ(info.audio()->sampleRate, 11025);

    // From a current folder that was removed, a relative name cannot be made
    // absolute; kept as given, it was looked for in the job folder.
    run = RunProgram("/bin/sh",
                     {"-c", "mkdir '" + dir.file("gone") + "' && cd '" + dir.file("gone")
                                + "' && rmdir ../gone && exec '" + QUILLON_RENDER
                                + "' --output-folder '" + dir.file("out2") + "' ../photos/a.jpg"},
                     dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Cannot use \"../photos/a.jpg\": the current folder cannot be found: No "
                       "such file or directory\n");
    EXPECT_FALSE(Exists(dir.file("out2")));
}

// As a user who may not read a sub-folder: it is named, and the movie is made
// of the photos that could be read.
TEST_F(QuillonRender, AFolderThatCannotBeReadIsNamedAndTheRestRendered)
{
    const uid_t nobody = 65534;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    MakeFolder(dir.file("photos/secret"));
    MakeFolder(dir.file("mine/tmp"));
    ASSERT_EQ(::chmod(dir.file("photos").c_str(), 0755), 0);
    ASSERT_EQ(::chmod(dir.file("photos/secret").c_str(), 0700), 0); // root's own
    WriteJpeg(dir.file("photos/a.jpg"), 64, 48, Gradient(1));
    WriteJpeg(dir.file("photos/secret/b.jpg"), 64, 48, Gradient(2));
    for (const char *folder : {"mine", "mine/tmp"})
        ASSERT_EQ(::chown(dir.file(folder).c_str(), nobody, nobody), 0);
    ASSERT_EQ(::chmod(dir.file("mine/tmp").c_str(), 0700), 0);

    Outcome run = RunProgram("/usr/bin/setpriv",
                             {"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                              "/usr/bin/env", "HOME=" + dir.file("mine"),
                              "TMPDIR=" + dir.file("mine/tmp"), QUILLON_RENDER, "--interval", "1",
                              "--output-folder", dir.file("mine/out"), dir.file("photos")},
                             dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.starts_with("Cannot read the folder \"" + dir.file("photos//secret")
                                    + "\": its photos are left out of the movie.\n"))
        << run.err;
    EXPECT_TRUE(run.err.ends_with("\nVideo File Generation Compeleted.\n")) << run.err;
    EXPECT_TRUE(Exists(dir.file("mine/out/photo_video.avi")));
}

TEST_F(QuillonRender, ARendererFailureEndsWithItsMessageAndStatusOne)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient());
    // A position that is not in the list is a mistake on the command line.
    Outcome run
        = render({"--compressor", "99", "--output-folder", dir.file("out"), dir.file("a.jpg")});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("quillon-render: there is no video compressor at position 99 "))
        << run.err;

    run = render({"--output-folder", dir.file("out"), dir.file("a.jpg"), dir.file("gone.jpg")});
    EXPECT_EQ(run.status, 1);
    // The message names the photo and why it cannot be read.
    EXPECT_NE(run.err.find("Could not load source filter for file\r\n\r\n"), std::string::npos);
    EXPECT_NE(run.err.find("Cannot read the picture \"" + dir.file("gone.jpg")
                           + "\": No such file or directory"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(run.err.ends_with("An error occured when convert photo to video stream.\n"))
        << run.err;

    // A size the compressor cannot code: its reason, in words. H.265 corrupted
    // its heap on small pictures (an abort when the encoder was freed).
    for (const auto &[size, shown, container, compressor, why] :
         {std::tuple{"8192x16", "8192 x 16", "avi", "DivX", "the sides can be at most 8191"},
          std::tuple{"34x30", "34 x 30", "avi", "Cinepak", "the sides must be multiples of 4"},
          std::tuple{"34x30", "34 x 30", "mp4", "H.265", "the sides must be at least 64"},
          std::tuple{"64x48", "64 x 48", "mkv", "H.265", "the sides must be at least 64"}}) {
        run = render({"--size", size, "--container", container, "--compressor", compressor,
                      "--output-folder", dir.file("out"), dir.file("a.jpg")});
        EXPECT_EQ(run.status, 1) << size << ' ' << compressor;
        EXPECT_NE(run.err.find("Could not connect photo source to compressor.\r\n\r\nCould not "
                               "open the compressor \""),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find(std::string("\" for ") + shown + " pictures: " + why),
                  std::string::npos)
            << run.err;
    }

    run = render(
        {"--compressor", "Motion JPEG", "--output-folder", dir.file("out"), dir.file("a.jpg")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(mediatest::ProbeAvi(dir.file("out/photo_video.avi")).video()->tag, "MJPG");
}

// The window passes over a sound file that is gone; on the command line the
// first one was dropped as well and a silent movie reported as made.
TEST_F(QuillonRender, ASoundNamedOnTheCommandLineThatCannotBeReadEndsTheRunBeforeRendering)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient());
    mediatest::WriteWav(dir.file("tone.wav"), 44100, 1, 0.3, 0.0);
    ASSERT_EQ(::symlink(dir.file("nowhere.wav").c_str(), dir.file("dangling.wav").c_str()), 0);
    ::mkdir(dir.file("folder.wav").c_str(), 0700);
    for (const auto &[name, why] : {std::pair{"gone.mp3", "No such file or directory"},
                                    std::pair{"dangling.wav", "No such file or directory"},
                                    std::pair{"folder.wav", "Is a directory"}}) {
        const Outcome run = render({"--sound", dir.file(name), "--sound", dir.file("tone.wav"),
                                    "--output-folder", dir.file("out"), dir.file("a.jpg")});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.err, "Cannot read the sound file \"" + dir.file(name) + "\": " + why + "\n");
        EXPECT_FALSE(Exists(dir.file("out/photo_video.avi"))) << name;
    }
}

TEST_F(QuillonRender, EncodeEveryFrameCodesHeldFramesWithoutTouchingTheSettingsFile)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient(1));
    WriteJpeg(dir.file("b.jpg"), 64, 48, Gradient(2));
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    Outcome run = render({"--interval", "2", "--output-folder", dir.file("held"), dir.file("a.jpg"),
                          dir.file("b.jpg")});
    ASSERT_EQ(run.status, 0) << run.err;
    run = render({"--encode-every-frame", "--interval", "2", "--output-folder", dir.file("every"),
                  dir.file("a.jpg"), dir.file("b.jpg")});
    unsetenv("XDG_CONFIG_HOME");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto held = mediatest::ProbeAvi(dir.file("held/photo_video.avi"));
    const auto every = mediatest::ProbeAvi(dir.file("every/photo_video.avi"));
    EXPECT_EQ(held.video()->frames, 125);
    EXPECT_LT(held.video()->packets, 40);
    EXPECT_EQ(every.video()->frames, 125);
    EXPECT_EQ(every.video()->packets, 125);
    EXPECT_FALSE(Exists(dir.file("quillon/compressors.ini")));
}

// Frames whose rows end exactly at the end of a page (640 x 480 in 24 bits is
// 225 pages): the converters of the compressors that take full-range or RGB
// pictures read a little past the last row, which must still be the frame's.
TEST_F(QuillonRender, FramesThatEndOnAPageMakeMoviesWithEveryConverter)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient(1));
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    for (const char *compressor : {"Motion JPEG", "Cinepak", "Huffyuv", "Video 1"}) {
        const Outcome run
            = render({"--interval", "1", "--size", "640x480", "--compressor", compressor,
                      "--output-folder", dir.file("out"), dir.file("a.jpg")});
        EXPECT_EQ(run.status, 0) << compressor << ": " << run.err;
        EXPECT_EQ(mediatest::ProbeAvi(dir.file("out/photo_video.avi")).video()->frames, 25)
            << compressor;
    }
    unsetenv("XDG_CONFIG_HOME");
}

TEST_F(QuillonRender, AnMp4WithSeveralTracksLoopedPlaysInBrowsers)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient(1));
    WriteJpeg(dir.file("b.jpg"), 64, 48, Gradient(2));
    mediatest::MakeTone(dir.file("one.mp3"), 0.7, 44100, 2);
    mediatest::MakeTone(dir.file("two.flac"), 0.4, 48000, 1);
    // Without --compressor, MP4 takes H.264.
    Outcome run
        = render({"--interval", "1", "--resolution", "low", "--container", "mp4", "--sound",
                  dir.file("one.mp3"), "--sound", dir.file("two.flac"), "--sound-end", "loop",
                  "--output-folder", dir.file("out"), dir.file("a.jpg"), dir.file("b.jpg")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string movie = dir.file("out/photo_video.mp4");
    EXPECT_EQ(run.out, movie + "\n");
    const auto info = mediatest::ProbeAvi(movie);
    ASSERT_TRUE(info.video() && info.audio());
    EXPECT_EQ(info.video()->codec, AV_CODEC_ID_H264);
    EXPECT_EQ(info.video()->frames, 75);
    EXPECT_EQ(info.audio()->codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(mediatest::DecodePlanes(movie, 0).format, AV_PIX_FMT_YUV420P);
    const mediatest::Sound sound = mediatest::DecodeSound(movie);
    EXPECT_NEAR(sound.seconds(), 3.0, 0.03);
    EXPECT_GT(sound.level(2.0, 2.2), 0.02); // the loop's third round
    // The index before the pictures: a browser plays while it downloads.
    const std::string bytes = ReadFile(movie);
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
}

// The AAC encoder's first 1,024 samples only prime it. MP4 leaves them out
// with an edit list; in Matroska they stood at 0 and the whole sound came
// 23 ms late. A player now finds the sound where MP4 has it: Matroska counts
// time in milliseconds, so within half of one.
TEST_F(QuillonRender, TheSoundOfAMatroskaMovieStartsWhereAnMp4sDoes)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient(1));
    mediatest::WriteWav(dir.file("tone.wav"), 44100, 2, 0.6, 0.2);
    double onset[2] = {};
    for (int i = 0; i < 2; ++i) {
        const std::string container = i ? "mkv" : "mp4";
        SCOPED_TRACE(container);
        const Outcome run = render({"--interval", "1", "--resolution", "low", "--container",
                                    container, "--sound", dir.file("tone.wav"), "--sound-end",
                                    "keep", "--output-folder", dir.file("out"), dir.file("a.jpg")});
        ASSERT_EQ(run.status, 0) << run.err;
        const mediatest::Sound sound
            = mediatest::DecodeSound(dir.file("out/photo_video." + container));
        const std::vector<float> &left = sound.channels.at(0);
        const auto loud
            = std::find_if(left.begin(), left.end(), [](float v) { return std::abs(v) > 0.05f; });
        ASSERT_NE(loud, left.end());
        onset[i] = sound.start + double(loud - left.begin()) / sound.sampleRate;
    }
    EXPECT_NEAR(onset[0], 0.2, 0.001);
    EXPECT_NEAR(onset[1], onset[0], 0.0005);
}

// Opus's first samples also only prime it, and its first packet stands before
// 0: WebM's muxer moved every stream 7 ms on to take it, so that the pictures
// started late.
TEST_F(QuillonRender, ThePicturesOfAWebmMovieWithSoundStartAtZero)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient(1));
    mediatest::WriteWav(dir.file("tone.wav"), 44100, 2, 0.6);
    const Outcome run
        = render({"--interval", "1", "--resolution", "low", "--container", "webm", "--sound",
                  dir.file("tone.wav"), "--output-folder", dir.file("out"), dir.file("a.jpg")});
    ASSERT_EQ(run.status, 0) << run.err;
    const mediatest::AviInfo info = mediatest::ProbeAvi(dir.file("out/photo_video.webm"));
    ASSERT_TRUE(info.video() && info.audio());
    EXPECT_NEAR(info.video()->end, info.video()->frames / 25.0, 0.0005);
}

// Started with no standard streams at all, the movie took descriptor 2 and
// the progress line was written into it.
TEST_F(QuillonRender, WithoutStandardStreamsTheMovieIsStillWhole)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient(1));
    const Outcome run
        = RunProgram("/bin/sh",
                     {"-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", QUILLON_RENDER, "--interval", "1",
                      "--resolution", "low", "--output-folder", dir.file("out"), dir.file("a.jpg")},
                     dir.path());
    // The movie's name could not be printed: a failure, but of that alone.
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFile(dir.file("out/photo_video.avi")).substr(0, 4), "RIFF");
    const auto info = mediatest::ProbeAvi(dir.file("out/photo_video.avi"));
    ASSERT_NE(info.video(), nullptr);
    EXPECT_EQ(info.video()->frames, 25);
}

TEST_F(QuillonRender, AShowRendersWithTheCommandLineTakingPlaceOfItsSettings)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient(1));
    WriteBmp24(dir.file("b.bmp"), 40, 30, Gradient(2));
    WriteFile(dir.file("trip.qshow"),
              "[Show]\r\nStandard=PAL\r\nResolution=Low\r\nInterval=3\r\nOutputFolder=out\r\n"
              "Compressor=No Such Codec\r\nFrameRate=30\r\n[Photos]\r\nPhoto1=a.jpg\r\n"
              "Photo2=gone.jpg\r\n"
              "Photo3=b.bmp\r\nPhoto4=out\r\nPhoto5=/dev/null\r\nPhoto6=bmp.jpg\r\n"
              "Photo7=text.jpg\r\n");
    MakeFolder(dir.file("out"));
    // Pictures the movie would read (a bitmap under a JPEG's name) or fail
    // on, that the window's list cannot read.
    WriteBmp24(dir.file("bmp.jpg"), 40, 30, Gradient(3));
    WriteFile(dir.file("text.jpg"), "not a picture");
    Outcome run = render({"--show", dir.file("trip.qshow"), "--interval", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    // What the window leaves out of the list, for the reasons it gives.
    auto unread = [&](const std::string &name, const std::string &start) {
        return dir.file(name) + ": Cannot read the picture \"" + dir.file(name)
               + "\": Not a JPEG file: starts with " + start + "\n";
    };
    EXPECT_TRUE(run.err.starts_with("The show \"trip.qshow\" was opened without:\n"
                                    "Compressor=No Such Codec (not on this machine)\n"
                                    + dir.file("gone.jpg") + ": it is gone\n" + dir.file("out")
                                    + ": it is a folder\n/dev/null: it is not a plain file\n"
                                    + unread("bmp.jpg", "0x42 0x4d")
                                    + unread("text.jpg", "0x6e 0x6f")))
        << run.err;
    EXPECT_EQ(ReadFile(quillon::GetTempDirectory() + "pelloryfilelist.txt"),
              dir.file("a.jpg") + "\r\n" + dir.file("b.bmp") + "\r\n");
    EXPECT_EQ(ReadFile(quillon::GetTempDirectory() + "param.ini"),
              "[Temp]\r\nOutputWidth=352\r\nOutputHeight=288\r\nInterval=1\r\n");
    const auto info = mediatest::ProbeAvi(dir.file("out/photo_video.avi"));
    ASSERT_NE(info.video(), nullptr);
    EXPECT_EQ(info.video()->tag, "DX50");
    EXPECT_EQ(info.video()->frames, 30 * (2 * 2 - 1));

    run = render({"--show", dir.file("missing.qshow")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Cannot open the show \"missing.qshow\": No such file or directory\n");

    // A container that cannot carry the compressor is the show's mistake when
    // both are its own, not one of the command line.
    WriteFile(dir.file("webm.qshow"), "[Show]\r\nContainer=webm\r\nCompressor=DivX? 5 compatible "
                                      "MPEG-4 Codec\r\n[Photos]\r\nPhoto1=a.jpg\r\n");
    run = render({"--show", dir.file("webm.qshow")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.starts_with(
        "The show \"webm.qshow\" cannot be rendered: Container=webm, Compressor=DivX? 5 "
        "compatible MPEG-4 Codec: WebM movies cannot carry the video compressor \""))
        << run.err;
    run = render({"--show", dir.file("webm.qshow"), "--container", "webm"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("quillon-render: WebM movies cannot carry")) << run.err;
}

// A show whose sound file is gone still makes its movie, as the window does,
// but the run made a silent one without a word.
TEST_F(QuillonRender, ASoundAShowNamesThatIsGoneIsNamedAndTheMovieMadeWithoutIt)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient());
    ::mkdir(dir.file("folder.wav").c_str(), 0700);
    for (const auto &[name, why] : {std::pair{"gone.mp3", "No such file or directory"},
                                    std::pair{"folder.wav", "Is a directory"}}) {
        WriteFile(dir.file("trip.qshow"), std::string("[Show]\r\nOutputFolder=out\r\nSoundFile=")
                                              + name + "\r\n[Photos]\r\nPhoto1=a.jpg\r\n");
        const Outcome run = render({"--show", dir.file("trip.qshow"), "--interval", "1"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(run.err.starts_with("Cannot read the sound file \"" + dir.file(name)
                                        + "\": " + why + "; the movie is made without it.\n"))
            << run.err;
        EXPECT_EQ(mediatest::ProbeAvi(dir.file("out/photo_video.avi")).audio(), nullptr);
    }
    // So is a later one, which failed the render: the movie has the others.
    mediatest::WriteWav(dir.file("tone.wav"), 44100, 1, 0.5);
    WriteFile(dir.file("trip.qshow"), "[Show]\r\nOutputFolder=out\r\nSoundFile=tone.wav\r\n"
                                      "SoundFile2=gone.mp3\r\n[Photos]\r\nPhoto1=a.jpg\r\n");
    const Outcome run = render({"--show", dir.file("trip.qshow"), "--interval", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Cannot read the sound file \"" + dir.file("gone.mp3")
                           + "\": No such file or directory; the movie is made without it.\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(mediatest::ProbeAvi(dir.file("out/photo_video.avi")).audio(), nullptr);
}

TEST_F(QuillonRender, PhotosStandUprightInTheMovieAtTheChosenSizeAndRate)
{
    // One photo for each EXIF orientation, 64 × 48 upright, letterboxed into
    // a 320 × 240 frame of the same proportions, which they fill.
    std::vector<std::string> args
        = {"--size",     "320x240", "--fps",           "30",           "--fit", "letterbox",
           "--interval", "1",       "--output-folder", dir.file("out")};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        args.push_back(dir.file("o" + std::to_string(orientation) + ".jpg"));
        WriteOrientedJpeg(args.back(), 64, 48, Quadrants(64, 48), orientation);
    }
    Outcome run = render(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(dir.job("param.ini")),
              "[Temp]\r\nOutputWidth=320\r\nOutputHeight=240\r\nInterval=1\r\n");
    const std::string movie = dir.file("out/photo_video.avi");
    const auto info = mediatest::ProbeAvi(movie);
    ASSERT_NE(info.video(), nullptr);
    EXPECT_EQ(info.video()->width, 320);
    EXPECT_EQ(info.video()->height, 240);
    EXPECT_EQ(info.video()->frameRate.num, 30 * info.video()->frameRate.den);
    EXPECT_EQ(info.video()->frames, 30 * (8 * 2 - 1)); // fps × (n × (N + 1) − 1)

    // The middle of each slide: every quadrant where it belongs.
    auto quadrantsInPlace = [&](std::int64_t frame) {
        const std::vector<std::uint8_t> bgr = mediatest::DecodeFrame(movie, frame);
        int found = 0;
        for (int q = 0; q < 4; ++q) {
            const int x = 80 + (q % 2) * 160, y = 60 + (q / 2) * 120;
            const std::uint8_t *p = &bgr[(static_cast<std::size_t>(y) * 320 + x) * 3];
            const Rgb want = kQuadrantColours[q];
            found += std::abs(p[2] - want.r) < 40 && std::abs(p[1] - want.g) < 40
                             && std::abs(p[0] - want.b) < 40
                         ? 1
                         : 0;
        }
        return found;
    };
    for (int slide = 0; slide < 8; ++slide)
        EXPECT_EQ(quadrantsInPlace(slide * 60 + 15), 4) << "orientation " << slide + 1;

    // As stored, the photo that stands on its side stays on its side.
    run = render({"--no-auto-rotate", "--size", "320x240", "--fit", "letterbox", "--interval", "1",
                  "--output-folder", dir.file("out"), dir.file("o6.jpg")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(ReadFile(dir.job("temp.avs")).find(", 1,1,25, auto_rotate=false)"),
              std::string::npos);
    EXPECT_NE(ReadFile(dir.job("param.ini")).find("AutoRotate=0\r\n"), std::string::npos);
    EXPECT_LT(quadrantsInPlace(10), 4);
    const std::vector<std::uint8_t> stored = mediatest::DecodeFrame(movie, 10);
    EXPECT_LT(stored[(120 * 320 + 20) * 3 + 1], 20); // a black band at the left
}

// Both programs answer --help and --version on the terminal; the window program
// does so with no display to open (the X platform would end it otherwise).
TEST_F(QuillonRender, HelpAndVersionOfBothProgramsNeedNoDisplay)
{
    Outcome run = render({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "quillon-render " QUILLON_VERSION "\n");
    for (const char *option : {"--version", "--help"}) {
        run = RunProgram(
            "/bin/sh",
            {"-c", std::string("env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb '")
                       + QUILLON_PROGRAM + "' " + option},
            dir.path());
        EXPECT_EQ(run.status, 0) << option << ": " << run.err;
        EXPECT_EQ(run.err, "") << option;
        if (std::string(option) == "--version")
            EXPECT_EQ(run.out, "quillon " QUILLON_VERSION "\n");
        else
            EXPECT_TRUE(run.out.starts_with("usage: quillon ")) << run.out;
    }
    // Without them the window program says it has no display, and does not
    // abort.
    run = RunProgram("/bin/sh",
                     {"-c", std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '")
                                + QUILLON_PROGRAM + "'"},
                     dir.path());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(run.err.starts_with("quillon: no display to show the window on")) << run.err;
}

// A script captures what quillon-render prints: when it cannot reach standard
// output the run says so and fails, though the movie itself was made.
TEST_F(QuillonRender, WhatCannotReachStandardOutputFailsTheRun)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient());
    MakeFolder(dir.file("out"));
    for (const std::string &args :
         {std::string("--version"), std::string("--list-compressors"),
          "--interval 1 --output-folder '" + dir.file("out") + "' '" + dir.file("a.jpg") + "'"}) {
        const Outcome run = RunProgram(
            "/bin/sh", {"-c", "'" + std::string(QUILLON_RENDER) + "' " + args + " > /dev/full"},
            dir.path());
        EXPECT_EQ(run.status, 1) << args;
        EXPECT_NE(run.err.find("quillon-render: cannot write standard output: No space left "
                               "on device\n"),
                  std::string::npos)
            << args << ": " << run.err;
    }
    EXPECT_GT(mediatest::ProbeAvi(dir.file("out/photo_video.avi")).video()->frames, 0);
    // The window's program and the frame server's host answer --help and
    // --version the same way.
    for (const std::string &line : {"'" + std::string(QUILLON_PROGRAM) + "' --help",
                                    "'" + std::string(QUILLON_PROGRAM) + "' --version",
                                    "'" + std::string(BRINDLE_HOST) + "' --help"}) {
        const Outcome run = RunProgram("/bin/sh", {"-c", line + " > /dev/full"}, dir.path());
        EXPECT_EQ(run.status, 1) << line;
        EXPECT_NE(run.err.find("cannot write standard output: No space left on device\n"),
                  std::string::npos)
            << line << ": " << run.err;
        // A closed standard output is no place to print either.
        EXPECT_EQ(RunProgram("/bin/sh", {"-c", line + " >&-"}, dir.path()).status, 1) << line;
    }
}

// After "--" every word is a name, also one that Qt would take for its own
// option: "-platform x.jpg" there made Qt abort, looking for a display plugin
// called x.jpg. The window now opens and waits (killed when the time is up).
TEST_F(QuillonRender, TheWindowTakesWhatFollowsTheDoubleDashAsNames)
{
    const MeasuredOutcome run
        = RunProgramWithin("/bin/sh",
                           {"-c", std::string("QT_QPA_PLATFORM=offscreen exec '") + QUILLON_PROGRAM
                                      + "' -- -platform x.jpg"},
                           dir.path(), 3);
    EXPECT_TRUE(run.timedOut) << "status " << run.status << ": " << run.err;
}

// A user's limits that end a process by default: the terminal's Ctrl+C also
// ends a `| tee` that reads the progress, and `ulimit -f` caps a file's size.
// Neither may end the run before it removes its new file, nor kill it for
// progress nobody reads.
TEST_F(QuillonRender, AGoneReaderOfTheProgressOrAFileSizeLimitEndNothingUntidily)
{
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient());
    WriteJpeg(dir.file("b.jpg"), 64, 48, Gradient(3));
    MakeFolder(dir.file("out"));
    WriteFile(dir.file("out/photo_video.avi"), "the earlier movie");
    auto run = [&](bool goneReader, rlim_t sizeLimit) {
        int pipeEnds[2];
        EXPECT_EQ(::pipe(pipeEnds), 0);
        const std::string err = dir.file("err.txt");
        const pid_t child = ::fork();
        if (child == 0) {
            // As a shell starts it: neither signal ignored.
            std::signal(SIGPIPE, SIG_DFL);
            std::signal(SIGXFSZ, SIG_DFL);
            const int errFd = goneReader ? pipeEnds[1]
                                         : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(errFd, STDERR_FILENO);
            ::close(pipeEnds[0]);
            if (sizeLimit) {
                const rlimit limit{sizeLimit, sizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            ::execl(QUILLON_RENDER, QUILLON_RENDER, "--interval", "1", "--output-folder",
                    dir.file("out").c_str(), dir.file("a.jpg").c_str(), dir.file("b.jpg").c_str(),
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        int status = 0;
        ::waitpid(child, &status, 0);
        return std::make_pair(ExitStatus(status), goneReader ? std::string() : ReadFile(err));
    };

    const auto [limited, said] = run(false, 4096);
    EXPECT_EQ(limited, 1) << said;
    EXPECT_NE(said.find("File too large"), std::string::npos) << said;
    EXPECT_EQ(ReadFile(dir.file("out/photo_video.avi")), "the earlier movie");
    EXPECT_EQ(win32::ListFolder(dir.file("out"))->size(), 1u);

    EXPECT_EQ(run(true, 0).first, 0);
    EXPECT_GT(mediatest::ProbeAvi(dir.file("out/photo_video.avi")).video()->frames, 0);
    EXPECT_EQ(win32::ListFolder(dir.file("out"))->size(), 1u);
}

// A FLAC of a few kilobytes in blocks of 65,535 samples at 1 kHz, after a
// track at 768 kHz: each block was resampled in one go, 2 GB, and where that
// much could not be had the process ended on an uncaught std::bad_alloc.
TEST_F(QuillonRender, LongBlocksOfALowRateTakeLittleMemoryAtTheHighestRate)
{
#ifdef QUILLON_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizer's allocator ends the program where memory runs out";
#endif
    WriteJpeg(dir.file("a.jpg"), 64, 48, Gradient());
    mediatest::WriteWav(dir.file("high.wav"), 768000, 2, 0.01);
    const Outcome made
        = RunProgram("/usr/bin/ffmpeg",
                     {"-v", "error", "-f", "lavfi", "-i", "anullsrc=r=1000:cl=stereo", "-t", "600",
                      "-c:a", "flac", "-frame_size", "65535", dir.file("blocks.flac")},
                     dir.path());
    ASSERT_EQ(made.status, 0) << made.err;
    const Outcome run
        = RunProgram("/bin/sh",
                     {"-c", "ulimit -d 400000 && exec \"$0\" \"$@\"", QUILLON_RENDER, "--sound",
                      dir.file("high.wav"), "--sound", dir.file("blocks.flac"), "--output-folder",
                      dir.file("out"), dir.file("a.jpg")},
                     dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(win32::ListFolder(dir.file("out"))->size(), 1u);
}
