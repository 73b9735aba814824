#include "app/photos/folder_scan.h"

#include "testsupport.h"

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// A link to a folder leads anywhere on the machine ("/", /proc): below the
// folder picked, only the user's own are followed.
TEST(FolderScan, LinksToFoldersThatSomeoneElseMadeAreNotFollowed)
{
    TempDir dir;
    const std::string root = dir.file("pics");
    MakeFolder(root);
    MakeFolder(dir.file("mine"));
    MakeFolder(dir.file("theirs"));
    WriteFile(root + "/p.jpg", "x");
    WriteFile(dir.file("mine/m.jpg"), "x");
    WriteFile(dir.file("theirs/t.jpg"), "x");
    const uid_t other = 65534;
    auto link = [](const std::string &target, const std::string &name, uid_t owner) {
        ASSERT_EQ(::symlink(target.c_str(), name.c_str()), 0);
        ASSERT_EQ(::lchown(name.c_str(), owner, owner), 0);
    };
    link(dir.file("mine"), root + "/mine", ::geteuid());
    link(dir.file("theirs"), root + "/theirs", other);
    link(dir.file("theirs/t.jpg"), root + "/photo.jpg", other); // a photo, whoever linked it
    link(root, dir.file("picked"), other); // the folder picked is scanned, link or not

    std::vector<std::string> list;
    EXPECT_TRUE(ScanPictureFolder(list, dir.file("picked")).empty());
    EXPECT_EQ(list,
              (std::vector<std::string>{dir.file("picked/mine/m.jpg"), dir.file("picked/p.jpg"),
                                        dir.file("picked/photo.jpg")}));
}

// As a user who may not read every folder of the tree: those are named, and
// the rest is scanned.
TEST(FolderScan, FoldersThatCannotBeReadAreNamed)
{
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string root = dir.file("pics/");
    for (const char *folder : {"a", "b_secret/inner", "c"})
        MakeFolder(root + folder);
    for (const char *name : {"a/1.jpg", "b_secret/2.jpg", "b_secret/inner/3.jpg", "c/4.jpg"})
        WriteFile(root + name, "x");
    for (const char *folder : {"", "a", "b_secret/inner", "c"})
        ASSERT_EQ(::chmod((root + folder).c_str(), 0755), 0);
    ASSERT_EQ(::chmod((root + "b_secret").c_str(), 0700), 0); // root's own

    int results[2];
    ASSERT_EQ(::pipe(results), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const uid_t nobody = 65534;
        if (::setresgid(nobody, nobody, nobody) != 0 || ::setresuid(nobody, nobody, nobody) != 0)
            ::_exit(2);
        std::string text;
        std::vector<std::string> list;
        for (const std::string &folder : ScanPictureFolder(list, root))
            text += "unreadable " + folder + "\n";
        for (const std::string &photo : list)
            text += photo + "\n";
        std::vector<std::string> none;
        for (const std::string &folder : ScanPictureFolder(none, root + "b_secret"))
            text += "picked " + folder + "\n";
        (void)!::write(results[1], text.data(), text.size());
        ::_exit(none.empty() ? 0 : 1);
    }
    ::close(results[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(results[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(results[0]);
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(text, "unreadable " + root + "/b_secret\n" + root + "/a/1.jpg\n" + root + "/c/4.jpg\n"
                        + "picked " + root + "b_secret\n");
}

// A tree deeper than any path can name: what lies below that depth cannot be
// opened by name, so the scan names the first such folder as unreadable and
// goes no deeper, however many descriptors the process may hold. A planted
// tree of 12,000 levels took the scan's stack with it.
TEST(FolderScan, AFolderDeeperThanAPathCanNameIsUnreadableAndEndsTheScanThere)
{
    rlimit files{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
    const rlimit before = files;
    constexpr int kDepth = 12000;
    files.rlim_cur = std::max<rlim_t>(files.rlim_cur, kDepth + 100);
    files.rlim_max = std::max(files.rlim_max, files.rlim_cur);
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0)
        GTEST_SKIP() << "cannot allow " << files.rlim_cur << " open files here";

    // In memory where the machine allows: on a disk mounted with discard,
    // removing the 12,000 folders took a quarter of a minute.
    TempDir dir;
    std::string shm = "/dev/shm/quillon-test-XXXXXX";
    const bool inMemory = ::mkdtemp(shm.data()) != nullptr;
    const std::string root = inMemory ? shm + "/deep" : dir.file("deep");
    MakeFolder(root);
    WriteFile(root + "/top.jpg", "x");
    // Made and taken down through descriptors: the names are too long for paths.
    auto down
        = [](int parent) { return ::openat(parent, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC); };
    int level = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string deepest = root, firstTooLong;
    for (int i = 0; i < kDepth && level >= 0; ++i) {
        const int parent = level;
        level = ::mkdirat(parent, "d", 0700) == 0 ? down(parent) : -1;
        ::close(parent);
        deepest += "/d";
        if (firstTooLong.empty() && deepest.size() >= PATH_MAX)
            firstTooLong = deepest;
    }
    ASSERT_GE(level, 0);
    const int photo = ::openat(level, "low.jpg", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(photo, 0);
    ::close(photo);
    ::close(level);

    std::vector<std::string> list;
    const std::vector<std::string> unreadable = ScanPictureFolder(list, root);
    EXPECT_EQ(list, (std::vector<std::string>{root + "/top.jpg"}));
    EXPECT_EQ(unreadable, (std::vector<std::string>{firstTooLong}));

    std::vector<int> levels{::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    while (levels.back() >= 0 && levels.size() <= kDepth)
        levels.push_back(down(levels.back()));
    ASSERT_EQ(levels.size(), kDepth + 1u);
    ::unlinkat(levels.back(), "low.jpg", 0);
    for (std::size_t i = levels.size() - 1; i > 0; --i) {
        ::close(levels[i]);
        ::unlinkat(levels[i - 1], "d", AT_REMOVEDIR);
    }
    ::close(levels[0]);
    if (inMemory) {
        ::unlink((root + "/top.jpg").c_str());
        ::rmdir(root.c_str());
        ::rmdir(shm.c_str());
    }
    ::setrlimit(RLIMIT_NOFILE, &before);
}
