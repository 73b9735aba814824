// Show files: what is written is read back the same, paths inside the file's
// folder are kept relative to it, a file edited by hand or made by a later
// version is read as far as it can be, and nothing that is not a plain file is
// read at all.
#include "app/photos/show_file.h"
#include "platform/forms/errors.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillon;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class ShowFile : public ::testing::Test
{
protected:
    TempDir dir;
    std::string show = dir.file("shows/trip.qshow");
    void SetUp() override { testsupport::MakeFolder(dir.file("shows")); }
};

} // namespace

TEST_F(ShowFile, WhatIsWrittenIsReadBackWithPathsRelativeInsideItsFolder)
{
    TShow written;
    written.Photos = {dir.file("shows/pics/img001.jpg"),
                      dir.file("shows//pics/img002.jpg"), // the folder chooser's doubled '/'
                      dir.file("elsewhere.jpg"),
                      dir.file("shows/../sneaky.jpg"),
                      dir.file("shows/ lead and trail .jpg "),
                      dir.file("shows/\"quoted\""),
                      dir.file("shows/a=b;c [d].bmp"),
                      dir.file("shows/\xC3\xA4\xFF.jpg"),
                      dir.file("shows/pics/img001.jpg")};
    written.Standard = 1;
    written.Resolution = 2;
    written.Interval = 7;
    written.OutputFolder = dir.file("shows/Movies/");
    written.SoundFile = "/music/tune.wav";
    written.Compressor = "DivX? 5 compatible MPEG-4 Codec";
    const TShowUnsaved unsaved = WriteShow(show, written);
    EXPECT_TRUE(unsaved.Photos.empty() && unsaved.Settings.empty());

    const std::string text = ReadFile(show);
    EXPECT_NE(text.find("[Show]\r\nVersion=1\r\nStandard=PAL\r\nResolution=Low\r\nInterval=7\r\n"
                        "OutputFolder=Movies/\r\nSoundFile=/music/tune.wav\r\n"
                        "Compressor=DivX? 5 compatible MPEG-4 Codec\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[Photos]\r\nPhoto1=pics/img001.jpg\r\nPhoto2=pics/img002.jpg\r\nPhoto3="
                        + dir.file("elsewhere.jpg")
                        + "\r\nPhoto4=" + dir.file("shows/../sneaky.jpg")
                        + "\r\nPhoto5=\" lead and trail .jpg \"\r\n"),
              std::string::npos)
        << text;

    const TShowReading reading = ReadShow(show);
    EXPECT_EQ(reading.Failure, "");
    EXPECT_TRUE(reading.LeftOut.empty());
    std::vector<std::string> expected = written.Photos;
    expected[1] = dir.file("shows/pics/img002.jpg");
    EXPECT_EQ(reading.Show.Photos, expected);
    EXPECT_EQ(reading.Show.Standard, 1);
    EXPECT_EQ(reading.Show.Resolution, 2);
    EXPECT_EQ(reading.Show.Interval, 7);
    EXPECT_EQ(reading.Show.OutputFolder, dir.file("shows/Movies/"));
    EXPECT_EQ(reading.Show.SoundFile, "/music/tune.wav");
    EXPECT_EQ(reading.Show.Compressor, written.Compressor);

    // A name that no line can hold is left out, and said to be.
    TShow broken;
    broken.Photos = {dir.file("a.jpg"), dir.file("line\nbreak.jpg")};
    EXPECT_EQ(WriteShow(show, broken).Photos,
              std::vector<std::string>{dir.file("line\nbreak.jpg")});
    EXPECT_EQ(ReadShow(show).Show.Photos, std::vector<std::string>{dir.file("a.jpg")});
}

TEST_F(ShowFile, AFileEditedByHandOrByALaterVersionIsReadAsFarAsItCanBe)
{
    WriteFile(show, "; mine\n[show]\nstandard = pal\nINTERVAL=70000\nresolution=Huge\n"
                    "Standard=NTSC\nFade=2\nCompressor=\nSoundFile=\n"
                    "[photos]\nphoto10=ten.jpg\nPhoto2 = two.jpg\nPhoto2=second two.jpg\n"
                    "Photo=nameless.jpg\nPhoto3=\nPhotoX=x.jpg\n"
                    "[Titles]\nFirst=\"Summer\"\n[Credits]\nBy=Ann\n[titles]\nLast=x\n");
    const TShowReading reading = ReadShow(show);
    EXPECT_EQ(reading.Failure, "");
    const TShow &s = reading.Show;
    // The first of two keys counts (a second photo of a number is named, or the
    // next save would drop it unseen); numbers order the photos, gaps and all.
    EXPECT_EQ(s.Standard, 1);
    EXPECT_EQ(s.Interval, 65536);
    EXPECT_FALSE(s.Resolution);
    EXPECT_FALSE(s.Compressor);
    EXPECT_EQ(s.SoundFile, "");
    EXPECT_EQ(s.Photos,
              (std::vector<std::string>{dir.file("shows/two.jpg"), dir.file("shows/ten.jpg")}));
    EXPECT_EQ(reading.LeftOut,
              (std::vector<std::string>{"resolution=Huge",
                                        "Photo2=second two.jpg (another photo has that number)"}));

    // What this version does not know goes back into the file it saves.
    const std::string again = dir.file("shows/again.qshow");
    WriteShow(again, s);
    const std::string text = ReadFile(again);
    EXPECT_NE(text.find("Fade=2\r\n\r\n[Photos]"), std::string::npos) << text;
    EXPECT_NE(text.find("Photo2=ten.jpg\r\nPhoto=nameless.jpg\r\nPhotoX=x.jpg\r\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(
        text.ends_with("\r\n[Titles]\r\nFirst=Summer\r\nLast=x\r\n\r\n[Credits]\r\nBy=Ann\r\n"))
        << text;
    EXPECT_EQ(ReadShow(again).Show.Kept.size(), s.Kept.size());

    // Values are matched without regard to case as keys are; an interval too
    // large for a number is brought within bounds as 70000 is; a second track
    // under a number already given, and a photo whose number does not fit,
    // are named (the latter kept for the next save).
    WriteFile(show, "[Show]\nFit=BLUR\nContainer=MKV\nSoundEnd=Loop\nInterval=99999999999\n"
                    "SoundFile=a.wav\nSoundFile2=b.wav\nSoundFile02=c.wav\n"
                    "[Photos]\nPhoto1=a.jpg\nPhoto99999999999999999999=b.jpg\n");
    const TShowReading edited = ReadShow(show);
    EXPECT_EQ(edited.Show.Fit, MovieOptions::Fit::Blur);
    EXPECT_EQ(edited.Show.Container, MovieOptions::Container::Matroska);
    EXPECT_EQ(edited.Show.SoundEnd, MovieOptions::SoundEnd::Loop);
    EXPECT_EQ(edited.Show.Interval, 65536);
    EXPECT_EQ(edited.Show.MoreSoundFiles, std::vector<std::string>{dir.file("shows/b.wav")});
    EXPECT_EQ(edited.Show.Photos, std::vector<std::string>{dir.file("shows/a.jpg")});
    EXPECT_EQ(edited.Show.Kept.size(), 1u);
    EXPECT_EQ(edited.LeftOut,
              (std::vector<std::string>{"SoundFile02=c.wav (another sound track has that number)",
                                        "Photo99999999999999999999=b.jpg (a number too large)"}));
    WriteFile(show, "[Show]\nInterval=-99999999999\n");
    EXPECT_EQ(ReadShow(show).Show.Interval, 1);

    // An editor that marks UTF-8 files with a byte order mark.
    WriteFile(show, "\xEF\xBB\xBF[Show]\r\nStandard=PAL\r\n");
    EXPECT_EQ(ReadShow(show).Show.Standard, 1);
}

// A NUL byte in a name would cut it short wherever it goes (the job files, the
// system's calls) and name another file: such a value is left out.
// A section added again by hand, at the end, continues the first: its photos
// follow, each section's in the order of its own numbers, and its settings
// count where the first gives none. A save then keeps them all.
TEST_F(ShowFile, ASectionThatComesAgainContinuesTheFirst)
{
    WriteFile(show, "[Show]\nInterval=2\n[Photos]\nPhoto2=b.jpg\nPhoto1=a.jpg\n"
                    "[show]\nInterval=9\nStandard=PAL\nFade=1\n[photos]\nPhoto1=c.jpg\n");
    const TShowReading reading = ReadShow(show);
    EXPECT_EQ(reading.Show.Photos,
              (std::vector<std::string>{dir.file("shows/a.jpg"), dir.file("shows/b.jpg"),
                                        dir.file("shows/c.jpg")}));
    EXPECT_EQ(reading.Show.Interval, 2);
    EXPECT_EQ(reading.Show.Standard, 1);
    ASSERT_EQ(reading.Show.Kept.size(), 1u);
    EXPECT_EQ(reading.Show.Kept[0].Key, "Fade");
    EXPECT_TRUE(reading.LeftOut.empty());
}

TEST_F(ShowFile, NamesWithANulByteAreLeftOut)
{
    using namespace std::string_literals;
    WriteFile(show, "[Show]\nSoundFile=tune.wav\0/../secret.wav\n[Photos]\n"
                    "Photo1=a.jpg\nPhoto2=a.jpg\0/../../etc/b.jpg\nPhoto3=c.jpg\n"s);
    const TShowReading reading = ReadShow(show);
    EXPECT_EQ(reading.Failure, "");
    EXPECT_FALSE(reading.Show.SoundFile);
    EXPECT_EQ(reading.Show.Photos,
              (std::vector<std::string>{dir.file("shows/a.jpg"), dir.file("shows/c.jpg")}));
    EXPECT_EQ(reading.LeftOut, (std::vector<std::string>{"SoundFile (a name with a NUL byte)",
                                                         "Photo2 (a name with a NUL byte)"}));
}

TEST_F(ShowFile, TheMovieChoicesGoThroughTheFileAndAnOlderShowKeepsTheDefaults)
{
    MovieOptions movie;
    movie.width = 1920;
    movie.height = 1080;
    movie.framesPerSecond = 30;
    movie.fit = MovieOptions::Fit::Blur;
    movie.autoRotate = false;
    movie.container = MovieOptions::Container::Mp4;
    movie.moreSoundFiles = {dir.file("shows/b.mp3"), "/music/c.flac"};
    movie.soundEnd = MovieOptions::SoundEnd::Loop;
    TShow written;
    written.SoundFile = "/music/a.wav";
    SetShowMovieOptions(written, movie);
    WriteShow(show, written);
    EXPECT_NE(ReadFile(show).find("SoundFile=/music/a.wav\r\nSoundFile2=b.mp3\r\n"
                                  "SoundFile3=/music/c.flac\r\nFrameSize=1920x1080\r\n"
                                  "FrameRate=30\r\nFit=blur\r\nAutoRotate=0\r\n"
                                  "Container=mp4\r\nSoundEnd=loop\r\n"),
              std::string::npos)
        << ReadFile(show);
    EXPECT_EQ(ShowMovieOptions(ReadShow(show).Show, MovieOptions()), movie);

    // The defaults are written too, so that opening the show brings them back.
    SetShowMovieOptions(written, MovieOptions());
    WriteShow(show, written);
    EXPECT_NE(ReadFile(show).find("FrameSize=standard\r\n"), std::string::npos);
    EXPECT_EQ(ShowMovieOptions(ReadShow(show).Show, movie), MovieOptions());

    // A show without them leaves the choices as they are; a wrong word is
    // left out and said to be; further tracks need a first one.
    WriteFile(show, "[Show]\nFrameRate=29\nFit=sideways\nFrameSize=1081p\nSoundFile3=x.mp3\n");
    const TShowReading reading = ReadShow(show);
    EXPECT_EQ(ShowMovieOptions(reading.Show, movie), movie);
    EXPECT_EQ(reading.LeftOut,
              (std::vector<std::string>{"FrameRate=29", "Fit=sideways", "FrameSize=1081p",
                                        "SoundFile=" + dir.file("shows/x.mp3")
                                            + " (no first sound track)"}));
}

TEST_F(ShowFile, WhatIsNoShowIsNotRead)
{
    EXPECT_EQ(ReadShow(dir.file("shows/missing.qshow")).Failure, "No such file or directory");
    EXPECT_EQ(ReadShow(dir.file("shows")).Failure, "Is a directory");
    ASSERT_EQ(::mkfifo(dir.file("pipe.qshow").c_str(), 0600), 0);
    EXPECT_EQ(ReadShow(dir.file("pipe.qshow")).Failure, "Not a regular file");
    WriteFile(dir.file("notes.qshow"), "just some notes\n[Other]\nx=1\n");
    EXPECT_EQ(ReadShow(dir.file("notes.qshow")).Failure,
              "it holds no [Show] and no [Photos] section");
    EXPECT_EQ(ShowFailureMessage(dir.file("notes.qshow"), "why"),
              "Cannot open the show \"notes.qshow\": why");
    // Far more lines than a show has: what is kept of each would cost gigabytes.
    std::string many = "[Show]\n[x]\n";
    for (int i = 0; i < 1'000'000; ++i)
        many += "k=v\n";
    WriteFile(dir.file("many.qshow"), many);
    EXPECT_EQ(ReadShow(dir.file("many.qshow")).Failure,
              "it has more than 1000000 lines, too many for a show");

    // A show that cannot be written says why.
    EXPECT_THROW(WriteShow(dir.file("no such folder/trip.qshow"), TShow()), forms::EFCreateError);
}

// Only a name that leads nowhere is gone; one that cannot be opened for
// another reason is named with that reason.
TEST_F(ShowFile, APhotoIsGoneOnlyWhenItsNameLeadsNowhere)
{
    WriteFile(dir.file("file.jpg"), "x");
    ASSERT_EQ(::symlink("loop.jpg", dir.file("loop.jpg").c_str()), 0);
    const std::string tooLong = dir.file(std::string(5000, 'a') + ".jpg");
    for (const auto &[photo, problem] :
         {std::pair{dir.file("missing.jpg"), std::string("it is gone")},
          std::pair{dir.file("file.jpg/x.jpg"), std::string("it is gone")},
          std::pair{tooLong, std::string("it cannot be read: File name too long")},
          std::pair{dir.file("loop.jpg"),
                    std::string("it cannot be read: Too many levels of symbolic links")},
          std::pair{dir.file("file.jpg"), std::string()}}) {
        bool gone = false;
        EXPECT_EQ(ShowPhotoProblem(photo, &gone), problem) << photo.substr(0, 100);
        // Kept in the show for the next save all the same: only the reason differs.
        EXPECT_EQ(gone, !problem.empty()) << photo.substr(0, 100);
    }
}

TEST_F(ShowFile, TheLeftOutMessageListsADozenAndCountsTheRest)
{
    std::vector<std::string> leftOut;
    for (int i = 1; i <= 14; ++i)
        leftOut.push_back("p" + std::to_string(i));
    const std::string text = ShowLeftOutMessage("/x/trip.qshow", leftOut);
    EXPECT_TRUE(text.starts_with("The show \"trip.qshow\" was opened without:\np1\np2\n")) << text;
    EXPECT_TRUE(text.ends_with("\np12\nand 2 more.")) << text;

    // A name thousands of bytes long keeps its start and end, cut between
    // the characters of UTF-8 text (both plain cuts would fall inside an "ä").
    const std::string ae = "\xC3\xA4";
    std::string deep = "/users";
    for (int i = 0; i < 1000; ++i)
        deep += "/" + ae + "d";
    const std::string shown = ShowLeftOutMessage("/x/trip.qshow", {deep + "/last1.jpg"});
    const std::string name = shown.substr(shown.find('\n') + 1);
    EXPECT_LT(name.size(), 300u);
    EXPECT_TRUE(name.starts_with("/users/" + ae + "d/")) << name;
    EXPECT_TRUE(name.ends_with(ae + "d/last1.jpg")) << name;
    const std::size_t cut = name.find("\u2026");
    ASSERT_NE(cut, std::string::npos) << name;
    EXPECT_NE(name[cut - 1], '\xC3') << name;
    EXPECT_NE(static_cast<unsigned char>(name[cut + 3]) & 0xC0, 0x80) << name;
}

// Relative paths start from the folder of the file read, not of the name it
// was read by: a link to the show elsewhere, or /dev/stdin of a shell's "<".
// A show with no folder to name (deleted while open) takes none from /dev.
TEST_F(ShowFile, RelativePathsStartFromTheFolderOfTheFileItself)
{
    WriteFile(show, "[Show]\nOutputFolder=out\n[Photos]\nPhoto1=holiday/city.jpg\nPhoto2=/p.jpg\n");
    testsupport::MakeFolder(dir.file("desk"));
    ASSERT_EQ(::symlink("../shows/trip.qshow", dir.file("desk/trip.qshow").c_str()), 0);
    const TShowReading linked = ReadShow(dir.file("desk/trip.qshow"));
    EXPECT_EQ(linked.Show.Photos,
              (std::vector<std::string>{dir.file("shows/holiday/city.jpg"), "/p.jpg"}));
    EXPECT_EQ(linked.Show.OutputFolder, dir.file("shows/out"));

    auto readAsStandardInput = [](const std::string &path, bool deleted) {
        const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const int saved = ::dup(0);
        EXPECT_TRUE(file >= 0 && saved >= 0);
        if (deleted) {
            EXPECT_EQ(::unlink(path.c_str()), 0);
        }
        ::dup2(file, 0);
        ::close(file);
        TShowReading reading = ReadShow("/dev/stdin");
        ::dup2(saved, 0);
        ::close(saved);
        return reading;
    };
    const TShowReading piped = readAsStandardInput(show, false);
    EXPECT_EQ(piped.Show.Photos, linked.Show.Photos);
    EXPECT_EQ(piped.Show.OutputFolder, dir.file("shows/out"));

    const TShowReading gone = readAsStandardInput(show, true);
    EXPECT_EQ(gone.Failure, "");
    EXPECT_EQ(gone.Show.Photos, std::vector<std::string>{"/p.jpg"});
    EXPECT_FALSE(gone.Show.OutputFolder);
    EXPECT_EQ(
        gone.LeftOut,
        (std::vector<std::string>{
            "OutputFolder=out (a relative path in a show that has no folder of its own)",
            "Photo1=holiday/city.jpg (a relative path in a show that has no folder of its own)"}));
}

// Saved through a link (the show on the desktop), the show replaces the file
// the link leads to, and its paths are kept relative to that file's folder,
// where reading takes them from.
TEST_F(ShowFile, AShowSavedThroughALinkKeepsPathsFromTheFolderOfTheFileItLeadsTo)
{
    WriteFile(show, "[Photos]\n");
    testsupport::MakeFolder(dir.file("desk"));
    const std::string linked = dir.file("desk/trip.qshow");
    ASSERT_EQ(::symlink("../shows/trip.qshow", linked.c_str()), 0);
    TShow written;
    written.Photos = {dir.file("shows/holiday/city.jpg"), dir.file("desk/pic.jpg")};
    written.OutputFolder = dir.file("shows/out");
    const TShowUnsaved unsaved = WriteShow(linked, written);
    EXPECT_TRUE(unsaved.Photos.empty() && unsaved.Settings.empty());
    const std::string text = ReadFile(show);
    EXPECT_NE(text.find("OutputFolder=out\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Photo1=holiday/city.jpg\r\nPhoto2=" + dir.file("desk/pic.jpg") + "\r\n"),
              std::string::npos)
        << text;
    struct stat st
    {};
    ASSERT_EQ(::lstat(linked.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    const TShowReading reading = ReadShow(linked);
    EXPECT_EQ(reading.Show.Photos, written.Photos);
    EXPECT_EQ(reading.Show.OutputFolder, written.OutputFolder);
}
