// The application definitions: the folder chooser's result, the application
// information from config.ini, and the compressor list block.
#include "app/job/app_define.h"
#include "app/job/compressor_list.h"

#include "platform/win32/shell.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace quillon;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::vector<unsigned char> Block(std::int32_t count, const std::vector<std::string> &names)
{
    std::vector<unsigned char> block(4 + 255 * names.size(), 0);
    std::memcpy(block.data(), &count, 4); // the machine is little-endian, as the block is
    for (std::size_t k = 0; k < names.size(); ++k)
        std::memcpy(block.data() + 4 + 255 * k, names[k].data(),
                    std::min<std::size_t>(names[k].size(), 255));
    return block;
}

} // namespace

TEST(BrowseForFolder, ChosenFolderEndsInOneSlashAndCancelKeepsTheVariable)
{
    testsupport::FolderChooserAnswers chooser(
        {"/srv/Movies", "/", "/srv/Movies/", std::nullopt, std::nullopt, ""});
    const HWND owner = reinterpret_cast<HWND>(0x30);

    std::string folder;
    BrowseForFolder(owner, folder);
    EXPECT_EQ(folder, "/srv/Movies/");
    // The root already ends in its separator.
    BrowseForFolder(owner, folder);
    EXPECT_EQ(folder, "/");
    BrowseForFolder(owner, folder);
    EXPECT_EQ(folder, "/srv/Movies/");
    // A cancel keeps whatever the variable held, an empty one included.
    BrowseForFolder(owner, folder);
    EXPECT_EQ(folder, "/srv/Movies/");
    std::string empty;
    BrowseForFolder(owner, empty);
    EXPECT_EQ(empty, "");
    // An answer that names no folder counts as a cancel, never as the root.
    BrowseForFolder(owner, folder);
    EXPECT_EQ(folder, "/srv/Movies/");

    ASSERT_EQ(chooser.requests().size(), 6u);
    EXPECT_EQ(chooser.requests()[0].hwndOwner, owner);
    EXPECT_EQ(chooser.requests()[0].lpszTitle, "Please specify a directory");
    EXPECT_EQ(chooser.requests()[0].ulFlags, win32::BIF_RETURNONLYFSDIRS);
}

TEST(ApplicationInformation, ConfigFileValuesDefaultsAndTheCut)
{
    TempDir dir;
    ReadApplicationInfo(dir.file("config.ini")); // no file
    EXPECT_EQ(ApplicationInfo().Homepage, DefaultHomepage);
    EXPECT_EQ(ApplicationInfo().HelpFile, "help.chm");

    WriteFile(dir.file("config.ini"),
              "[applicationinfo]\r\nHOMEPAGE = http://photos.example.net/ \r\n");
    ReadApplicationInfo(dir.file("config.ini"));
    EXPECT_EQ(ApplicationInfo().Homepage, "http://photos.example.net/");
    EXPECT_EQ(ApplicationInfo().HelpFile, "help.chm");

    // Present but empty is not missing.
    WriteFile(dir.file("config.ini"), "[ApplicationInfo]\nHomepage=\nHelpFile=quillon.html\n");
    ReadApplicationInfo(dir.file("config.ini"));
    EXPECT_EQ(ApplicationInfo().Homepage, "");
    EXPECT_EQ(ApplicationInfo().HelpFile, "quillon.html");

    const std::string longValue = "http://x/" + std::string(3000, 'a');
    WriteFile(dir.file("config.ini"), "[ApplicationInfo]\nHomepage=" + longValue + "\n");
    ReadApplicationInfo(dir.file("config.ini"));
    EXPECT_EQ(ApplicationInfo().Homepage, longValue.substr(0, 2047));

    // The program's own file sits beside it.
    EXPECT_TRUE(ConfigFilePath().ends_with("/config.ini"));
}

TEST(CompressorListBlock, NamesSlotsAndCounts)
{
    auto names = [](const std::vector<unsigned char> &block) {
        return CompressorNamesFromBlock(block.data(), block.size());
    };
    EXPECT_EQ(names(Block(3, {"Cinepak", "Intel Indeo", "DivX? 5.0 Codec"})),
              (std::vector<std::string>{"Cinepak", "Intel Indeo", "DivX? 5.0 Codec"}));
    EXPECT_TRUE(names(Block(0, {})).empty());
    EXPECT_TRUE(names(Block(-2, {"a", "b"})).empty());

    // A name that fills its slot has no NUL and is 255 characters long.
    const std::string full(255, 'x');
    EXPECT_EQ(names(Block(2, {full, "next"})), (std::vector<std::string>{full, "next"}));

    // A count larger than the block holds stops at the last whole slot.
    std::vector<unsigned char> overcount = Block(1000, {"one", "two"});
    overcount.resize(overcount.size() - 1); // "two" is no longer a whole slot
    EXPECT_EQ(names(overcount), (std::vector<std::string>{"one"}));

    EXPECT_TRUE(CompressorNamesFromBlock(nullptr, 300).empty());
    const unsigned char tiny[3] = {1, 0, 0};
    EXPECT_TRUE(CompressorNamesFromBlock(tiny, sizeof tiny).empty());
}

TEST(CompressorListBlock, PreferredEntryIsTheFirstWithTheExactMark)
{
    EXPECT_EQ(PreferredCompressorIndex({"Cinepak", "Indeo", "DivX? 5.0 Codec"}), 2);
    EXPECT_EQ(PreferredCompressorIndex({"DivX? 5 A", "DivX? 5 B"}), 0);
    EXPECT_EQ(PreferredCompressorIndex({"Cinepak", "Indeo"}), -1);
    // The registered sign, or another case, is not the mark.
    EXPECT_EQ(PreferredCompressorIndex({"DivX\xC2\xAE 5.0 Codec", "divx? 5"}), -1);
    EXPECT_EQ(PreferredCompressorIndex({}), -1);
}

TEST(MovieChoices, TelevisionSizesShowAtFourToThreeAndOthersHaveSquarePixels)
{
    for (const auto &row : OutputSizeTable)
        for (const OutputSize size : row) {
            const SampleAspect sar = SampleAspectFor(size);
            EXPECT_EQ(size.width * sar.num * 3, size.height * sar.den * 4) << size.width;
            EXPECT_EQ(std::gcd(sar.num, sar.den), 1);
        }
    EXPECT_EQ(SampleAspectFor({720, 480}).num, 8);
    EXPECT_EQ(SampleAspectFor({720, 480}).den, 9);
    EXPECT_EQ(SampleAspectFor({352, 576}).num, 24);
    EXPECT_EQ(SampleAspectFor({1920, 1080}).num, 1);
    EXPECT_EQ(SampleAspectFor({640, 480}).den, 1);
}
