#include "app/job/job.h"

#include "app/job/script_writer.h"
#include "platform/forms/errors.h"
#include "platform/win32/files.h"
#include "testsupport.h"

#include <climits>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillon;
using testsupport::Exists;
using testsupport::MakeFolder;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(JobNumbers, IntervalValueAndDurations)
{
    EXPECT_EQ(IntervalValue("3"), 3);
    EXPECT_EQ(IntervalValue("0"), 0);
    EXPECT_EQ(IntervalValue("-3"), -3);
    EXPECT_EQ(IntervalValue("abc"), 1);
    EXPECT_EQ(IntervalValue(""), 1);

    EXPECT_EQ(TotalSeconds(1, 2), 2);
    EXPECT_EQ(DurationSeconds(1, 2), 2);
    EXPECT_EQ(TotalSeconds(3, 3), 11);
    EXPECT_EQ(DurationSeconds(3, 3), 9);
    // 40,000 photos at the longest interval would wrap a 32-bit number.
    EXPECT_EQ(TotalSeconds(40000, 65536), 40000LL * 65537 - 1);
    EXPECT_EQ(DurationSeconds(40000, 65536), 40000LL * 65536);
    EXPECT_GT(TotalSeconds(40000, 65536), INT_MAX);
}

TEST(JobFiles, PhotoListAndParamIniBytes)
{
    TempDir dir;
    WritePhotoList(dir.path(), {"/p/a b.jpg", "/p/ä.bmp", "/p/a b.jpg"});
    EXPECT_EQ(ReadFile(dir.file("pelloryfilelist.txt")),
              "/p/a b.jpg\r\n/p/ä.bmp\r\n/p/a b.jpg\r\n");
    WriteParamIni(dir.path(), 720, 480, 3);
    EXPECT_EQ(ReadFile(dir.file("param.ini")),
              "[Temp]\r\nOutputWidth=720\r\nOutputHeight=480\r\nInterval=3\r\n");
    // A second run replaces only the three keys.
    WriteFile(dir.file("param.ini"), "[Other]\r\nkeep=1\r\n[Temp]\r\nInterval=9\r\n");
    WriteParamIni(dir.path(), 352, 288, 2);
    EXPECT_EQ(ReadFile(dir.file("param.ini")),
              "[Other]\r\nkeep=1\r\n[Temp]\r\nInterval=2\r\nOutputWidth=352\r\n"
              "OutputHeight=288\r\n");
}

TEST(JobFiles, UnwritableFilesRaiseTheSystemsErrors)
{
    TempDir dir;
    testsupport::MakeFolder(dir.file("pelloryfilelist.txt"));
    try {
        WritePhotoList(dir.path(), {"/a.jpg"});
        FAIL();
    } catch (const forms::EFCreateError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + dir.file("pelloryfilelist.txt") + "\". Is a directory");
    }
    testsupport::MakeFolder(dir.file("param.ini"));
    try {
        WriteParamIni(dir.path(), 720, 480, 2);
        FAIL();
    } catch (const forms::EIniFileException &e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir.file("param.ini"));
    }
}

class Prepare : public ::testing::Test
{
protected:
    TempDir dir;
    JobSettings settings;
    TWorkThreadInfo job;

    void SetUp() override
    {
        settings.photos = {"/p/one.jpg", "/p/two.bmp", "/p/three.jpg"};
        settings.intervalText = "3";
        settings.outputFolder = dir.file("out/My Movie");
        settings.compressorIndex = 4;
    }
};

TEST_F(Prepare, WritesEverythingAndFillsTheRecord)
{
    WriteFile(dir.file("song.wav"), "RIFF");
    settings.soundFile = dir.file("song.wav");
    settings.standard = 1;
    settings.resolution = 2;
    EXPECT_EQ(PrepareConversion(settings, job), 11);
    EXPECT_EQ(ReadFile(dir.job("pelloryfilelist.txt")),
              "/p/one.jpg\r\n/p/two.bmp\r\n/p/three.jpg\r\n");
    EXPECT_EQ(ReadFile(dir.job("param.ini")),
              "[Temp]\r\nOutputWidth=352\r\nOutputHeight=288\r\nInterval=3\r\n");
    EXPECT_EQ(ReadFile(dir.job("temp.avs")), BuildScript(settings.photos, 1, 2, "3"));
    EXPECT_EQ(job.OutputFolder, dir.file("out/My Movie"));
    EXPECT_EQ(job.CompressorIndex, 4);
    EXPECT_EQ(job.DurationSeconds, 9);
    EXPECT_EQ(job.SoundFile, dir.file("song.wav"));
    EXPECT_TRUE(win32::DirectoryExists(dir.file("out/My Movie")));

    NormaliseOutputFolder(job);
    EXPECT_EQ(job.OutputFolder, dir.file("out/My Movie/"));
}

TEST_F(Prepare, SoundFileIsTakenOnlyWhenItExists)
{
    job.SoundFile = "/earlier/run.wav";
    settings.soundFile = dir.file("gone.wav");
    PrepareConversion(settings, job);
    EXPECT_EQ(job.SoundFile, "/earlier/run.wav"); // the previous run's path stays
    settings.soundFile = dir.path();              // a folder is not a sound file
    PrepareConversion(settings, job);
    EXPECT_EQ(job.SoundFile, "/earlier/run.wav");
}

TEST_F(Prepare, OutputFolderThatCannotBeCreatedEmptiesTheRecord)
{
    WriteFile(dir.file("file"), "x");
    settings.outputFolder = dir.file("file/sub");
    EXPECT_NO_THROW(PrepareConversion(settings, job));
    NormaliseOutputFolder(job);
    EXPECT_EQ(job.OutputFolder, "");
    EXPECT_EQ(MoviePath(job), "photo_video.avi");
}

// A link someone else put in a shared folder must not choose where the movie
// goes. Links of the user's own and of root's are followed as before.
TEST_F(Prepare, AnOutputFolderReachedThroughAnotherUsersLinkIsRefusedBeforeAnythingIsWritten)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to give links away";
    const std::string shared = dir.file("shared"), home = dir.file("home");
    MakeFolder(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    MakeFolder(home + "/Videos");
    auto link = [&](const std::string &name, const std::string &target, uid_t owner) {
        const std::string path = shared + "/" + name;
        EXPECT_EQ(::symlink(target.c_str(), path.c_str()), 0);
        EXPECT_EQ(::lchown(path.c_str(), owner, owner), 0);
        return path;
    };
    const std::string planted = link("evil", home, 65534);
    link("chain", "evil/Videos", 0); // root's link, leading on through theirs
    link("mine", home, ::geteuid());

    for (const std::string &through :
         {planted + "/Videos", shared + "/chain/new", dir.file("shared/../shared/evil")}) {
        settings.outputFolder = through;
        try {
            PrepareConversion(settings, job);
            ADD_FAILURE() << through;
        } catch (const forms::Exception &e) {
            EXPECT_EQ(std::string(e.what()), "The output folder \"" + through
                                                 + "\" cannot be used: it leads through \""
                                                 + planted + "\", a link that another user made.");
        }
    }
    EXPECT_FALSE(testsupport::Exists(dir.job("param.ini")));
    EXPECT_FALSE(testsupport::Exists(home + "/Videos/new"));

    settings.outputFolder = shared + "/mine/Videos/new";
    EXPECT_NO_THROW(PrepareConversion(settings, job));
    EXPECT_TRUE(win32::DirectoryExists(home + "/Videos/new"));
    // Nor is a link trusted for lying in a folder of its owner's own, which
    // anyone may make in a shared folder.
    const std::string theirs = shared + "/theirs";
    MakeFolder(theirs);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::symlink(home.c_str(), (theirs + "/today").c_str()), 0);
    ASSERT_EQ(::lchown((theirs + "/today").c_str(), 65534, 65534), 0);
    settings.outputFolder = theirs + "/today/Videos";
    EXPECT_THROW(PrepareConversion(settings, job), forms::Exception);
}

// A frame server must never find one job's photo list with another job's
// settings: a file that cannot be written leaves all three as they were.
TEST_F(Prepare, AJobFileThatCannotBeWrittenLeavesTheLastJobsThreeFiles)
{
    PrepareConversion(settings, job);
    const std::vector<std::string> names = {"pelloryfilelist.txt", "param.ini", "temp.avs"};
    std::vector<std::string> first;
    for (const std::string &name : names)
        first.push_back(ReadFile(dir.job(name)));
    JobSettings next = settings;
    next.photos = {"/p/other.jpg"};
    next.intervalText = "7";
    for (const std::size_t blocked : {1u, 2u}) {
        ASSERT_EQ(::unlink(dir.job(names[blocked]).c_str()), 0);
        MakeFolder(dir.job(names[blocked]));
        try {
            PrepareConversion(next, job);
            ADD_FAILURE() << names[blocked];
        } catch (const forms::Exception &e) {
            EXPECT_EQ(std::string(e.what()),
                      blocked == 1
                          ? "Unable to write to " + dir.job("param.ini")
                          : "Cannot create file \"" + dir.job("temp.avs") + "\". Is a directory");
        }
        for (std::size_t i = 0; i < names.size(); ++i)
            if (i != blocked)
                EXPECT_EQ(ReadFile(dir.job(names[i])), first[i]) << names[i];
        EXPECT_EQ(win32::ListFolder(dir.job(""))->size(), 3u); // no new file left behind
        ASSERT_EQ(::rmdir(dir.job(names[blocked]).c_str()), 0);
        WriteFile(dir.job(names[blocked]), first[blocked]);
    }
}

TEST_F(Prepare, BadIntervalLeavesBothJobFilesAndTheOldScript)
{
    WriteFile(dir.job("temp.avs"), "old script");
    settings.intervalText = "x";
    EXPECT_THROW(PrepareConversion(settings, job), forms::EConvertError);
    EXPECT_TRUE(Exists(dir.job("pelloryfilelist.txt")));
    EXPECT_EQ(ReadFile(dir.job("param.ini")),
              "[Temp]\r\nOutputWidth=720\r\nOutputHeight=480\r\nInterval=1\r\n");
    EXPECT_EQ(ReadFile(dir.job("temp.avs")), "old script");
    EXPECT_FALSE(Exists(dir.file("out")));
}

TEST_F(Prepare, PhotoThatTheFilesCannotCarryIsRefusedBeforeAnythingIsWritten)
{
    settings.photos.push_back("/p/say \"cheese\".jpg");
    try {
        PrepareConversion(settings, job);
        FAIL();
    } catch (const forms::Exception &e) {
        EXPECT_NE(std::string(e.what()).find("/p/say \"cheese\".jpg"), std::string::npos);
    }
    // So is a frame size or rate that no encoder or script takes.
    settings.photos.pop_back();
    settings.movie.width = 1921;
    settings.movie.height = 1080;
    EXPECT_THROW(PrepareConversion(settings, job), forms::Exception);
    settings.movie.width = 0;
    settings.movie.height = 0;
    settings.movie.framesPerSecond = 0;
    try {
        PrepareConversion(settings, job);
        FAIL();
    } catch (const forms::Exception &e) {
        EXPECT_EQ(std::string(e.what()),
                  "The frame rate 0 cannot be used: it must be 24, 25, 30, 50 or 60.");
    }
    EXPECT_FALSE(Exists(dir.job("pelloryfilelist.txt")));
    EXPECT_FALSE(Exists(dir.job("param.ini")));
    EXPECT_FALSE(Exists(dir.job("temp.avs")));
}

TEST_F(Prepare, MovieChoicesReachTheJobFilesAndADefaultRunTakesThemBack)
{
    settings.movie.width = 1920;
    settings.movie.height = 1080;
    settings.movie.framesPerSecond = 30;
    settings.movie.autoRotate = false;
    settings.movie.container = MovieOptions::Container::Mp4;
    EXPECT_EQ(PrepareConversion(settings, job), 11); // seconds, whatever the frame rate
    // The chosen size overrides the standard's, for the frame server too.
    EXPECT_EQ(ReadFile(dir.job("param.ini")), "[Temp]\r\nOutputWidth=1920\r\nOutputHeight=1080\r\n"
                                              "Interval=3\r\nAutoRotate=0\r\n");
    EXPECT_EQ(ReadFile(dir.job("temp.avs")),
              BuildScript(settings.photos, 0, 0, "3", settings.movie));
    EXPECT_EQ(job.Movie.framesPerSecond, 30);
    NormaliseOutputFolder(job);
    EXPECT_EQ(MoviePath(job), dir.file("out/My Movie/photo_video.mp4"));

    // The next run with the defaults leaves the files as a default run writes them.
    JobSettings plain = settings;
    plain.movie = MovieOptions();
    PrepareConversion(plain, job);
    EXPECT_EQ(ReadFile(dir.job("param.ini")),
              "[Temp]\r\nOutputWidth=720\r\nOutputHeight=480\r\nInterval=3\r\n");
    EXPECT_EQ(ReadFile(dir.job("temp.avs")), BuildScript(settings.photos, 0, 0, "3"));
}

TEST(MovieChoices, WordsAndSizesRoundTripAndRefuseWhatIsNotOnOffer)
{
    for (auto fit : {MovieOptions::Fit::Stretch, MovieOptions::Fit::Letterbox,
                     MovieOptions::Fit::Crop, MovieOptions::Fit::Blur})
        EXPECT_EQ(FitFromWord(FitWord(fit)), fit);
    for (auto end :
         {MovieOptions::SoundEnd::Cut, MovieOptions::SoundEnd::Keep, MovieOptions::SoundEnd::Loop})
        EXPECT_EQ(SoundEndFromWord(SoundEndWord(end)), end);
    for (auto container : {MovieOptions::Container::Avi, MovieOptions::Container::Mp4,
                           MovieOptions::Container::Matroska, MovieOptions::Container::WebM})
        EXPECT_EQ(ContainerFromWord(ContainerExtension(container)), container);
    EXPECT_EQ(FitFromWord("Letterbox"), std::nullopt);
    EXPECT_EQ(ContainerFromWord("mov"), std::nullopt);

    EXPECT_EQ(FrameSizeFromText("1080p"), (FrameSize{1920, 1080}));
    EXPECT_EQ(FrameSizeFromText("2160p"), (FrameSize{3840, 2160}));
    EXPECT_EQ(FrameSizeFromText("1080x1920"), (FrameSize{1080, 1920}));
    EXPECT_EQ(FrameSizeFromText(FrameSizeText({16, 8192})), (FrameSize{16, 8192}));
    for (const char *bad : {"1921x1080", "14x100", "8194x100", "-1920x1080", "1920x", "x1080",
                            "1920*1080", "1920x1080x2", "+640x480", "480p", ""})
        EXPECT_EQ(FrameSizeFromText(bad), std::nullopt) << bad;
    EXPECT_TRUE(IsOfferedFrameRate(24));
    EXPECT_FALSE(IsOfferedFrameRate(29));
}
