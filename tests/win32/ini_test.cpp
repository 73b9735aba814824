#include "platform/win32/files.h"
#include "platform/win32/ini.h"

#include "testsupport.h"

#include <gtest/gtest.h>
#include <optional>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace win32;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

class Ini : public ::testing::Test
{
protected:
    TempDir dir;
    std::string file = dir.file("test.ini");
};

TEST_F(Ini, ReadsWithWindowsRulesFromCrlfAndLfFiles)
{
    for (const char *eol : {"\r\n", "\n"}) {
        std::string e = eol;
        WriteFile(file, "; comment=1" + e + "  [ Temp ]  " + e + "  OutputWidth  =  720  " + e
                            + "quoted=\"  spaced  \"" + e + "single='x'" + e + "Empty=" + e
                            + "[Other]" + e + "OutputWidth=1" + e + "last=tail");
        EXPECT_EQ(GetPrivateProfileStringA("temp", "outputwidth", "d", file), "720") << eol;
        EXPECT_EQ(GetPrivateProfileStringA("TEMP", "Quoted", "d", file), "  spaced  ");
        EXPECT_EQ(GetPrivateProfileStringA("Temp", "single", "d", file), "x");
        EXPECT_EQ(GetPrivateProfileStringA("Temp", "Empty", "d", file), "");
        EXPECT_EQ(GetPrivateProfileStringA("Temp", "missing", "d", file), "d");
        EXPECT_EQ(GetPrivateProfileStringA("Nope", "OutputWidth", "d", file), "d");
        EXPECT_EQ(GetPrivateProfileStringA("Other", "OutputWidth", "d", file), "1");
        EXPECT_EQ(GetPrivateProfileStringA("Other", "last", "d", file), "tail"); // no final break
        EXPECT_EQ(GetPrivateProfileStringA("Temp", "; comment", "d", file), "d");
    }
    EXPECT_EQ(GetPrivateProfileStringA("Temp", "OutputWidth", "dflt", dir.file("none.ini")),
              "dflt");
}

TEST_F(Ini, FirstOfDuplicateSectionsAndKeysWins)
{
    WriteFile(file, "[A]\nk=1\nk=2\n[a]\nk=3\nonlyInSecond=4\n");
    EXPECT_EQ(GetPrivateProfileStringA("a", "K", "", file), "1");
    EXPECT_EQ(GetPrivateProfileStringA("A", "onlyInSecond", "none", file), "none");
}

TEST_F(Ini, AWholeProfileInOnePassFollowsTheSameRules)
{
    const std::vector<ProfileSection> sections
        = ParseProfile("stray=before\r\n; comment=1\r\n [ A ] \r\n k = 1 \r\nk='2'\r\nnot a "
                       "key\n[b]\rq=\"  x \"\n[A]\nk=3");
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0].name, "A");
    using Keys = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(sections[0].keys, (Keys{{"k", "1"}, {"k", "2"}}));
    EXPECT_EQ(sections[1].name, "b");
    EXPECT_EQ(sections[1].keys, (Keys{{"q", "  x "}}));
    EXPECT_EQ(sections[2].keys, (Keys{{"k", "3"}}));
    EXPECT_TRUE(ParseProfile("").empty());
}

TEST_F(Ini, ValuesAreCutToTheCallersBuffer)
{
    WriteFile(file, "[ApplicationInfo]\r\nHomepage=" + std::string(3000, 'h') + "\r\n");
    EXPECT_EQ(GetPrivateProfileStringA("ApplicationInfo", "Homepage", "", file, 2048).size(),
              2047u);
    EXPECT_EQ(GetPrivateProfileStringA("ApplicationInfo", "Homepage", "", file).size(), 3000u);
}

TEST_F(Ini, IntegersAreDecimalOrHexOrTheDefault)
{
    WriteFile(file, "[Temp]\r\na=720\r\nb=0x2D0\r\nc=0X10\r\nd=-3\r\ne=12abc\r\nf=\r\ng=0x\r\n"
                    "h=99999999999\r\ni= +7 \r\nj=0xFFFFFFFF\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "a", 1, file), 720);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "b", 1, file), 720);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "c", 1, file), 16);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "d", 1, file), -3);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "e", 1, file), 1);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "f", 1, file), 1);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "g", 1, file), 1);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "h", 1, file), 1);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "i", 1, file), 7);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "j", 1, file), -1);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "missing", 352, file), 352);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "a", 352, dir.file("none.ini")), 352);
}

// A file far larger than any profile (a sparse one costs nothing on disk) is
// not read at all: the defaults stand, and nothing is written over it.
TEST_F(Ini, AFileLargerThanAnyProfileIsNeitherReadNorChanged)
{
    WriteFile(file, "[Temp]\r\nOutputWidth=720\r\n");
    ASSERT_EQ(::truncate(file.c_str(), static_cast<off_t>(kLargestInputFile) + 1), 0);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "OutputWidth", 352, file), 352);
    std::string reason;
    EXPECT_FALSE(ReadInputFile(file, &reason));
    EXPECT_EQ(reason, "File too large");
    EXPECT_FALSE(WritePrivateProfileStringA("Temp", "Interval", "3", file));
    struct stat st
    {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(kLargestInputFile) + 1);
}

// A file is read whole on a thread with a small stack (64 KiB is a common
// size for a library's worker threads, and what `ulimit -s 64` gives).
TEST_F(Ini, AFileIsReadOnAThreadWithASmallStack)
{
#ifdef QUILLON_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizer's own frames need a larger stack";
#endif
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "Key" + std::to_string(i) + "=value\r\n";
    WriteFile(file, text);
    struct Read
    {
        std::string path;
        std::optional<std::string> got;
    } read{file, std::nullopt};
    pthread_attr_t attr;
    ASSERT_EQ(::pthread_attr_init(&attr), 0);
    ASSERT_EQ(::pthread_attr_setstacksize(&attr, 64 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(::pthread_create(
                  &thread, &attr,
                  [](void *arg) -> void * {
                      auto *r = static_cast<Read *>(arg);
                      r->got = ReadInputFile(r->path);
                      return nullptr;
                  },
                  &read),
              0);
    ::pthread_join(thread, nullptr);
    ::pthread_attr_destroy(&attr);
    EXPECT_EQ(read.got, text);
}

TEST_F(Ini, WritingCreatesTheFileWithCrlf)
{
    ASSERT_TRUE(WritePrivateProfileStringA("Temp", "OutputWidth", "720", file));
    ASSERT_TRUE(WritePrivateProfileStringA("Temp", "OutputHeight", "480", file));
    ASSERT_TRUE(WritePrivateProfileStringA("Temp", "Interval", "2", file));
    EXPECT_EQ(ReadFile(file), "[Temp]\r\nOutputWidth=720\r\nOutputHeight=480\r\nInterval=2\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("temp", "outputwidth", "352", file));
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "OutputWidth", 0, file), 352);
    EXPECT_EQ(ReadFile(file), "[Temp]\r\noutputwidth=352\r\nOutputHeight=480\r\nInterval=2\r\n");
}

TEST_F(Ini, WritingReplacesOnlyItsKeyAndKeepsEveryOtherByte)
{
    const std::string before = "; keep me\n[Other]\n  x = 1 \n\n[ Temp ]\r\n"
                               "Interval = 9   \r\nOutputWidth=1\n\n\n[Tail]\ny=2";
    WriteFile(file, before);
    ASSERT_TRUE(WritePrivateProfileStringA("Temp", "Interval", "3", file));
    EXPECT_EQ(ReadFile(file), "; keep me\n[Other]\n  x = 1 \n\n[ Temp ]\r\n"
                              "Interval=3\r\nOutputWidth=1\n\n\n[Tail]\ny=2");
    // A new key goes after the section's last line, before its blank lines.
    ASSERT_TRUE(WritePrivateProfileStringA("Temp", "OutputHeight", "480", file));
    EXPECT_EQ(ReadFile(file), "; keep me\n[Other]\n  x = 1 \n\n[ Temp ]\r\n"
                              "Interval=3\r\nOutputWidth=1\nOutputHeight=480\r\n\n\n[Tail]\ny=2");
    // A key of a last section without a final line break.
    ASSERT_TRUE(WritePrivateProfileStringA("Tail", "z", "3", file));
    EXPECT_TRUE(ReadFile(file).ends_with("[Tail]\ny=2\r\nz=3\r\n"));
    // A new section is appended.
    ASSERT_TRUE(WritePrivateProfileStringA("New", "k", "v", file));
    EXPECT_TRUE(ReadFile(file).ends_with("z=3\r\n\r\n[New]\r\nk=v\r\n"));
    EXPECT_EQ(GetPrivateProfileStringA("other", "X", "", file), "1");
}

TEST_F(Ini, WritingFailsForFolderReadOnlyFileAndMissingFolder)
{
    testsupport::MakeFolder(dir.file("folder.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("Temp", "k", "v", dir.file("folder.ini")));
    EXPECT_EQ(GetPrivateProfileStringA("Temp", "k", "d", dir.file("folder.ini")), "d");

    WriteFile(file, "[Temp]\r\nk=old\r\n");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_FALSE(WritePrivateProfileStringA("Temp", "k", "new", file));
    EXPECT_EQ(ReadFile(file), "[Temp]\r\nk=old\r\n");

    EXPECT_FALSE(WritePrivateProfileStringA("Temp", "k", "v", dir.file("no/such/dir.ini")));
    WriteFile(dir.file("plain"), "x");
    EXPECT_FALSE(WritePrivateProfileStringA("Temp", "k", "v", dir.file("plain/param.ini")));
}

TEST_F(Ini, AnOverrideIsReadInsteadOfTheFileWhichStaysAsItWas)
{
    WriteFile(file, "[Codec]\r\nEvery=0\r\nQuality=5\r\n");
    SetPrivateProfileOverride("codec", " EVERY ", std::string("1"), file);
    EXPECT_EQ(GetPrivateProfileIntA("Codec", "Every", 7, file), 1);
    EXPECT_EQ(GetPrivateProfileStringA("CODEC", "every", "", file), "1");
    EXPECT_EQ(GetPrivateProfileIntA("Codec", "Quality", 7, file), 5);
    // Only that file's key: the same key elsewhere reads its own file.
    EXPECT_EQ(GetPrivateProfileIntA("Codec", "Every", 7, dir.file("other.ini")), 7);
    EXPECT_EQ(ReadFile(file), "[Codec]\r\nEvery=0\r\nQuality=5\r\n");
    SetPrivateProfileOverride("Codec", "Every", std::nullopt, file);
    EXPECT_EQ(GetPrivateProfileIntA("Codec", "Every", 7, file), 0);
}

TEST_F(Ini, AProfileReadOnceKeepsItsValuesAndKnowsWhenTheFileChanged)
{
    WriteFile(file, "[Temp]\r\nOutputWidth=0x140\r\nInterval=\"3\"\r\n");
    const Profile first = Profile::Read(file);
    EXPECT_FALSE(first.Changed());
    ASSERT_TRUE(
        WritePrivateProfileKeysA("Temp", {{"OutputWidth", "720"}, {"Interval", "1"}}, file));
    EXPECT_TRUE(first.Changed());
    EXPECT_EQ(first.GetInt("temp", "outputwidth", 0), 320);
    EXPECT_EQ(first.GetString("Temp", "Interval", "", 2), "3");
    EXPECT_EQ(first.GetInt("Temp", "Missing", -5), -5);

    // Pinned, the first text is what every read of the file gives.
    PinProfile(file, first);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "OutputWidth", 0, file), 320);
    const Profile pinned = Profile::Read(file);
    EXPECT_EQ(pinned.GetInt("Temp", "Interval", 0), 3);
    EXPECT_FALSE(pinned.Changed());
    PinProfile(file, std::nullopt);
    EXPECT_EQ(GetPrivateProfileIntA("Temp", "OutputWidth", 0, file), 720);

    const Profile missing = Profile::Read(dir.file("none.ini"));
    EXPECT_EQ(missing.GetInt("Temp", "Interval", 2), 2);
    EXPECT_FALSE(missing.Changed());
    WriteFile(dir.file("none.ini"), "");
    EXPECT_TRUE(missing.Changed());
}

TEST_F(Ini, DeletingRemovesOnlyItsKeyLineAndLeavesAFileWithoutItUntouched)
{
    WriteFile(file,
              "[Other]\nAutoRotate=0\n[Temp]\r\nOutputWidth=1\r\nautorotate = 0\r\nInterval=2");
    ASSERT_TRUE(DeletePrivateProfileKeyA("Temp", "AutoRotate", file));
    EXPECT_EQ(ReadFile(file), "[Other]\nAutoRotate=0\n[Temp]\r\nOutputWidth=1\r\nInterval=2");

    // Nothing to delete: the file keeps its bytes and its time.
    struct stat before
    {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    ASSERT_TRUE(DeletePrivateProfileKeyA("Temp", "AutoRotate", file));
    ASSERT_TRUE(DeletePrivateProfileKeyA("Nowhere", "AutoRotate", file));
    struct stat after
    {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_TRUE(DeletePrivateProfileKeyA("Temp", "k", dir.file("missing.ini")));
    EXPECT_FALSE(testsupport::Exists(dir.file("missing.ini")));

    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_FALSE(DeletePrivateProfileKeyA("Temp", "Interval", file));
}
