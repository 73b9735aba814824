#include "app/photos/folder_scan.h"

#include "testsupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace quillon;
using testsupport::MakeFolder;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST(FolderScan, OnlyExactJpgAndBmpExtensionsAndTheDoubledSeparator)
{
    TempDir dir;
    const std::string root = dir.file("pics/"); // as the folder chooser returns it
    MakeFolder(root);
    for (const char *name :
         {"a.jpg", "b.JPG", "c.jpeg", "d.bmp", "e.png", "f.Bmp", "noext", "g.jpg.txt"})
        WriteFile(root + name, "x");
    std::vector<std::string> list;
    ScanPictureFolder(list, root);
    EXPECT_EQ(sorted(list), (std::vector<std::string>{root + "/a.jpg", root + "/d.bmp"}));
}

TEST(FolderScan, EveryDepthHiddenEntriesAndFoldersNamedLikePictures)
{
    TempDir dir;
    const std::string root = dir.file("pics");
    MakeFolder(root + "/sub/deeper");
    MakeFolder(root + "/.hidden");
    MakeFolder(root + "/album.jpg");
    WriteFile(root + "/sub/deeper/x.jpg", "x");
    WriteFile(root + "/sub/y.bmp", "x");
    WriteFile(root + "/.hidden/z.jpg", "x");
    WriteFile(root + "/.dot.jpg", "x");
    WriteFile(root + "/album.jpg/inside.jpg", "x");
    std::vector<std::string> list{"/already/there.jpg"};
    ScanPictureFolder(list, root);
    EXPECT_EQ(list.front(), "/already/there.jpg"); // appended, never reordered
    EXPECT_EQ(sorted(list), sorted({"/already/there.jpg", root + "/sub/deeper/x.jpg",
                                    root + "/sub/y.bmp", root + "/.hidden/z.jpg",
                                    root + "/.dot.jpg", root + "/album.jpg/inside.jpg"}));
    // Depth first: a sub-folder's pictures stand together.
    auto x = std::find(list.begin(), list.end(), root + "/sub/deeper/x.jpg");
    auto y = std::find(list.begin(), list.end(), root + "/sub/y.bmp");
    EXPECT_EQ(std::abs(std::distance(x, y)), 1);
}

TEST(FolderScan, AFileArgumentAndMissingPaths)
{
    TempDir dir;
    WriteFile(dir.file("one.jpg"), "x");
    std::vector<std::string> list;
    ScanPictureFolder(list, dir.file("one.jpg"));
    ScanPictureFolder(list, dir.file("missing.jpg")); // unreadable attributes: taken as a file
    ScanPictureFolder(list, dir.file("missing-folder"));
    EXPECT_EQ(list, (std::vector<std::string>{dir.file("one.jpg"), dir.file("missing.jpg")}));
}

TEST(FolderScan, LinkCyclesEndAndEachFolderIsScannedOnce)
{
    TempDir dir;
    const std::string root = dir.file("pics");
    MakeFolder(root + "/a/b");
    WriteFile(root + "/a/b/p.jpg", "x");
    ASSERT_EQ(::symlink(root.c_str(), (root + "/a/b/up").c_str()), 0);         // back to the top
    ASSERT_EQ(::symlink((root + "/a").c_str(), (root + "/again").c_str()), 0); // a second way in
    std::vector<std::string> list;
    ScanPictureFolder(list, root);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].ends_with("/b/p.jpg"));
}

TEST(FolderScan, ATreeComesInByNameDepthFirst)
{
    TempDir dir;
    const std::string root = dir.file("card/");
    // Made in an order of their own, as files land on a disk from a camera card.
    for (const char *folder : {"b", "DCIM", "a"})
        MakeFolder(root + folder);
    for (const char *name : {"p19.jpg", "b/p15.jpg", "DCIM/IMG_0002.jpg", "b/p03.jpg", "a/x.bmp",
                             "P02.jpg", "DCIM/IMG_0001.jpg"})
        WriteFile(root + name, "x");
    std::vector<std::string> list;
    ScanPictureFolder(list, root);
    EXPECT_EQ(list,
              (std::vector<std::string>{root + "/a/x.bmp", root + "/b/p03.jpg", root + "/b/p15.jpg",
                                        root + "/DCIM/IMG_0001.jpg", root + "/DCIM/IMG_0002.jpg",
                                        root + "/P02.jpg", root + "/p19.jpg"}));
}
