#include "app/job/script_writer.h"

#include "app/job/app_define.h"
#include "platform/forms/errors.h"
#include "platform/win32/files.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace quillon;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

std::string crlf(std::initializer_list<const char *> lines)
{
    std::string text;
    for (const char *line : lines)
        text += std::string(line) + "\r\n";
    return text;
}

} // namespace

TEST(OutputSizes, TableByStandardAndResolution)
{
    EXPECT_EQ(OutputSizeFor(0, 0).width, 720);
    EXPECT_EQ(OutputSizeFor(0, 0).height, 480);
    EXPECT_EQ(OutputSizeFor(0, 1).width, 352);
    EXPECT_EQ(OutputSizeFor(0, 1).height, 480);
    EXPECT_EQ(OutputSizeFor(0, 2).height, 240);
    EXPECT_EQ(OutputSizeFor(1, 0).height, 576);
    EXPECT_EQ(OutputSizeFor(1, 1).height, 576);
    EXPECT_EQ(OutputSizeFor(1, 2).height, 288);
    EXPECT_EQ(OutputSizeFor(-7, 2).height, 288); // any non-zero standard is PAL
}

TEST(ScriptWriter, WorkedExampleByteForByte)
{
    TempDir dir;
    WriteScript({"/home/ann/Photos/beach.jpg", "/home/ann/Photos/dunes.bmp",
                 "/home/ann/Photos/harbour.jpg"},
                0, 0, "3");
    EXPECT_EQ(win32::FixedScriptPath(), dir.job("temp.avs"));
    EXPECT_EQ(ReadFile(dir.job("temp.avs")),
              crlf({"p0=ImageSource(\"/home/ann/Photos/beach.jpg\", 1,1,25)",
                    "p0=BicubicResize(p0,720,480)", "p0_t=Loop(p0,25)", "p0=Loop(p0,75)",
                    "p1=ImageSource(\"/home/ann/Photos/dunes.bmp\", 1,1,25)",
                    "p1=BicubicResize(p1,720,480)", "p1_t=Loop(p1,25)", "p1=Loop(p1,75)",
                    "p2=ImageSource(\"/home/ann/Photos/harbour.jpg\", 1,1,25)",
                    "p2=BicubicResize(p2,720,480)", "p2_t=Loop(p2,25)", "p2=Loop(p2,75)",
                    "t0=Dissolve(p0_t,p1_t,25)", "t1=Dissolve(p1_t,p2_t,25)", "all=p0+t0+p1+t1+p2",
                    "all=BicubicResize(all,720,480)", "return all"}));
}

TEST(ScriptWriter, OnePhotoPalLow)
{
    EXPECT_EQ(BuildScript({"/p/one.jpg"}, 1, 2, "2"),
              crlf({"p0=ImageSource(\"/p/one.jpg\", 1,1,25)", "p0=BicubicResize(p0,352,288)",
                    "p0_t=Loop(p0,25)", "p0=Loop(p0,50)", "all=p0",
                    "all=BicubicResize(all,352,288)", "return all"}));
}

TEST(ScriptWriter, ElevenPhotosNumberWithoutLeadingZeros)
{
    std::vector<std::string> photos;
    for (int i = 0; i < 11; ++i)
        photos.push_back("/p/" + std::to_string(i) + ".jpg");
    const std::string script = BuildScript(photos, 0, 1, "1");
    EXPECT_NE(script.find("\r\np10=ImageSource(\"/p/10.jpg\", 1,1,25)\r\n"), std::string::npos);
    EXPECT_NE(script.find("\r\nt9=Dissolve(p9_t,p10_t,25)\r\n"), std::string::npos);
    EXPECT_NE(script.find("\r\np10=Loop(p10,25)\r\n"), std::string::npos);
    EXPECT_NE(script.find("\r\np3=BicubicResize(p3,352,480)\r\n"), std::string::npos);
    EXPECT_NE(script.find("\r\nall=p0+t0+p1+t1+p2+t2+p3+t3+p4+t4+p5+t5+p6+t6+p7+t7+p8+t8+p9+t9+"
                          "p10\r\n"),
              std::string::npos);
    EXPECT_EQ(std::count(script.begin(), script.end(), '\n'), 5 * 11 + 2);
}

TEST(ScriptWriter, PathsAreWrittenVerbatim)
{
    const std::string odd = "/home/zoë/My Photos/été 2024/\\weird 'name'.JPG";
    const std::string script = BuildScript({odd}, 0, 0, "2");
    EXPECT_TRUE(script.starts_with("p0=ImageSource(\"" + odd + "\", 1,1,25)\r\n"));
}

TEST(ScriptWriter, SecondCallReplacesALongerScript)
{
    TempDir dir;
    WriteScript({"/a.jpg", "/b.jpg", "/c.jpg", "/d.jpg"}, 0, 0, "5");
    WriteScript({"/z.jpg"}, 1, 0, "1");
    EXPECT_EQ(ReadFile(dir.job("temp.avs")), BuildScript({"/z.jpg"}, 1, 0, "1"));
}

TEST(ScriptWriter, BadIntervalRaisesAndLeavesTheOldScript)
{
    TempDir dir;
    WriteScript({"/a.jpg"}, 0, 0, "2");
    const std::string before = ReadFile(dir.job("temp.avs"));
    for (const char *text : {"", " 2", "2 ", "abc", "2.5", "2147483648", "0x10", "+-2"}) {
        try {
            WriteScript({"/a.jpg", "/b.jpg"}, 0, 0, text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const forms::EConvertError &e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(text) + "' is not a valid integer value");
        }
    }
    EXPECT_EQ(ReadFile(dir.job("temp.avs")), before);
    // Signs and 32-bit bounds are whole numbers; the writer passes them on unchanged.
    EXPECT_NE(BuildScript({"/a.jpg"}, 0, 0, "-3").find("p0=Loop(p0,-75)"), std::string::npos);
    EXPECT_NE(BuildScript({"/a.jpg"}, 0, 0, "+4").find("p0=Loop(p0,100)"), std::string::npos);
}

TEST(ScriptWriter, UnwritableLocationRaisesFileCreationError)
{
    TempDir dir;
    testsupport::MakeFolder(dir.job("temp.avs")); // a folder where the file should be
    try {
        WriteScript({"/a.jpg"}, 0, 0, "2");
        FAIL() << "no error";
    } catch (const forms::EFCreateError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + dir.job("temp.avs") + "\". Is a directory");
    }
}

TEST(ScriptWriter, PathsThatWouldBreakTheScriptAreRefused)
{
    TempDir dir;
    WriteScript({"/a.jpg"}, 0, 0, "2");
    const std::string before = ReadFile(dir.job("temp.avs"));
    for (const std::string bad : {"/x\"y.jpg", "/line\nbreak.jpg", "/carriage\rreturn.jpg"}) {
        try {
            WriteScript({"/ok.jpg", bad}, 0, 0, "2");
            ADD_FAILURE() << "accepted " << bad;
        } catch (const forms::EConvertError &) {
            ADD_FAILURE() << "wrong error";
        } catch (const forms::Exception &e) {
            EXPECT_NE(std::string(e.what()).find(bad), std::string::npos);
        }
    }
    EXPECT_EQ(ReadFile(dir.job("temp.avs")), before);
}

TEST(ScriptWriter, FrameRateSizeAndStoredPhotosChangeOnlyTheirNumbersAndTheSource)
{
    MovieOptions movie;
    movie.width = 1280;
    movie.height = 720;
    movie.framesPerSecond = 30;
    movie.autoRotate = false;
    EXPECT_EQ(BuildScript({"/p/a.jpg", "/p/b.jpg"}, 1, 2, "3", movie),
              crlf({"p0=ImageSource(\"/p/a.jpg\", 1,1,30, auto_rotate=false)",
                    "p0=BicubicResize(p0,1280,720)", "p0_t=Loop(p0,30)", "p0=Loop(p0,90)",
                    "p1=ImageSource(\"/p/b.jpg\", 1,1,30, auto_rotate=false)",
                    "p1=BicubicResize(p1,1280,720)", "p1_t=Loop(p1,30)", "p1=Loop(p1,90)",
                    "t0=Dissolve(p0_t,p1_t,30)", "all=p0+t0+p1", "all=BicubicResize(all,1280,720)",
                    "return all"}));
    // The choices that are the defaults write the default script.
    EXPECT_EQ(BuildScript({"/p/a.jpg"}, 1, 2, "3", MovieOptions{}),
              BuildScript({"/p/a.jpg"}, 1, 2, "3"));
}
