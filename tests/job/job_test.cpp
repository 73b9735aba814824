#include "app/job/job.h"

#include "app/job/script_writer.h"
#include "platform/forms/errors.h"
#include "platform/win32/files.h"
#include "testsupport.h"

#include <climits>
#include <gtest/gtest.h>

using namespace quillon;
using testsupport::Exists;
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
    EXPECT_EQ(MoviePath(job), dir.file("out/My Movie/photo_video.avi"));
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
    EXPECT_FALSE(Exists(dir.job("pelloryfilelist.txt")));
    EXPECT_FALSE(Exists(dir.job("param.ini")));
    EXPECT_FALSE(Exists(dir.job("temp.avs")));
}
