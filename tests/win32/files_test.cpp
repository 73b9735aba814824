#include "platform/win32/files.h"

#include "testsupport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

using namespace win32;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(Files, TempPathIsAFolderOfTheUsersOwnInTmpdir)
{
    TempDir dir;
    const std::string own = "quillon-" + std::to_string(::geteuid()) + "/";
    EXPECT_EQ(GetTempPathA(), dir.path() + own);
    struct stat st
    {};
    ASSERT_EQ(::lstat((dir.path() + own).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(FixedScriptPath(), dir.path() + own + "temp.avs");
    ::setenv("TMPDIR", dir.path().substr(0, dir.path().size() - 1).c_str(), 1);
    EXPECT_EQ(GetTempPathA(), dir.path() + own);
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(GetTempPathA().substr(0, 5), "/tmp/");

    // A folder of the process's choosing, made when missing, checked the same way.
    SetTempFolder(dir.file("batch"));
    EXPECT_EQ(GetTempPathA(), dir.file("batch/"));
    EXPECT_EQ(FixedScriptPath(), dir.file("batch/temp.avs"));
    SetTempFolder("");
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    EXPECT_EQ(GetTempPathA(), dir.path() + own);
}

TEST(Files, TempFoldersThatOthersCouldUseAreRefused)
{
    TempDir dir;
    auto refusal = [&](const std::string &folder) {
        SetTempFolder(folder);
        const std::string path = GetTempPathA();
        const std::string problem = TempFolderProblem();
        EXPECT_EQ(FixedScriptPath(), "");
        SetTempFolder("");
        EXPECT_EQ(path, "") << folder;
        return problem;
    };
    const std::string start = "The job folder \"";
    ASSERT_EQ(::symlink(dir.path().c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(refusal(dir.file("link")),
              start + dir.file("link/") + "\" cannot be used: it is a symbolic link.");
    WriteFile(dir.file("file"), "x");
    EXPECT_EQ(refusal(dir.file("file")),
              start + dir.file("file/") + "\" cannot be used: it is not a folder.");
    testsupport::MakeFolder(dir.file("open"));
    ::chmod(dir.file("open").c_str(), 0755);
    EXPECT_EQ(refusal(dir.file("open")),
              start + dir.file("open/") + "\" cannot be used: others may enter it (mode 0755).");
    EXPECT_EQ(refusal(dir.file("missing/sub")),
              start + dir.file("missing/sub/")
                  + "\" cannot be used: it cannot be made: No such file or directory.");
    // A folder in a folder that others may change (without the sticky bit).
    testsupport::MakeFolder(dir.file("shared/mine"));
    ::chmod(dir.file("shared/mine").c_str(), 0700);
    ::chmod(dir.file("shared").c_str(), 0777);
    EXPECT_EQ(refusal(dir.file("shared/mine")),
              start + dir.file("shared/mine/")
                  + "\" cannot be used: another user may change the folder it lies in.");
    // Or further up, also on the way through a link: the folders under it
    // could be swapped for others' (a link to any folder at the job folder's
    // name), so nothing is made there.
    ASSERT_EQ(::symlink(dir.file("shared/mine").c_str(), dir.file("mine").c_str()), 0);
    for (const std::string &via : {dir.file("shared/mine/job"), dir.file("mine/job")}) {
        EXPECT_EQ(refusal(via), start + via
                                    + "/\" cannot be used: another user may change the folder \""
                                    + dir.file("shared/") + "\" above it.");
        EXPECT_FALSE(DirectoryExists(dir.file("shared/mine/job")));
    }
    ::chmod(dir.file("shared").c_str(), 01777);
    SetTempFolder(dir.file("shared/mine"));
    EXPECT_EQ(GetTempPathA(), dir.file("shared/mine/"));
    SetTempFolder(dir.file("mine/job"));
    EXPECT_EQ(GetTempPathA(), dir.file("mine/job/"));
    SetTempFolder("");
    EXPECT_TRUE(DirectoryExists(dir.file("link"))); // nothing was made through the link
}

TEST(Files, ShortPathIsThePathWhenItExists)
{
    TempDir dir;
    testsupport::MakeFolder(dir.file("My Movie"));
    EXPECT_EQ(GetShortPathNameA(dir.file("My Movie/")), dir.file("My Movie/"));
    EXPECT_EQ(GetShortPathNameA(dir.file("Missing/")), "");
    EXPECT_EQ(GetShortPathNameA(""), "");
}

TEST(Files, AttributesOfFoldersFilesHiddenAndReadOnly)
{
    TempDir dir;
    testsupport::MakeFolder(dir.file("sub"));
    testsupport::MakeFolder(dir.file(".hidden"));
    WriteFile(dir.file("a.jpg"), "x");
    WriteFile(dir.file(".b.jpg"), "x");
    WriteFile(dir.file("ro.jpg"), "x");
    ::chmod(dir.file("ro.jpg").c_str(), 0444);

    EXPECT_EQ(GetFileAttributesA(dir.file("sub")), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA(dir.file("sub/")), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA(dir.file(".hidden")),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileAttributesA(dir.file("a.jpg")), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesA(dir.file(".b.jpg")),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileAttributesA(dir.file("ro.jpg")),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(GetFileAttributesA(dir.file("missing")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(dir.file("a.jpg/x")), INVALID_FILE_ATTRIBUTES);
}

TEST(Files, ListingHasEveryEntryButDots)
{
    TempDir dir;
    for (const char *name : {"b.jpg", ".hidden", "a folder", "ä.bmp"}) {
        if (std::string(name) == "a folder")
            testsupport::MakeFolder(dir.file(name));
        else
            WriteFile(dir.file(name), "x");
    }
    auto names = ListFolder(dir.path());
    ASSERT_TRUE(names);
    std::sort(names->begin(), names->end());
    EXPECT_EQ(*names, (std::vector<std::string>{".hidden", "a folder", "b.jpg", "ä.bmp"}));
    EXPECT_FALSE(ListFolder(dir.file("missing")));
    EXPECT_FALSE(ListFolder(dir.file("b.jpg")));
}

TEST(Files, ListingIsInCameraOrderWhateverOrderTheFilesWereMade)
{
    TempDir dir;
    // Made in shuffled order, so that the disk's own order is not the sorted one.
    std::vector<std::string> made;
    for (int i = 1; i <= 60; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", (i * 37) % 61);
        made.push_back(name);
    }
    for (const char *name : {"img_0007.JPG", "_x.jpg", "Zed", "a", "A", "\xc3\xa4.bmp", "B.jpg"})
        made.push_back(name);
    for (const std::string &name : made)
        WriteFile(dir.file(name), "x");
    auto names = ListFolder(dir.path());
    ASSERT_TRUE(names);
    ASSERT_EQ(names->size(), made.size());
    // Letters compare as capitals (so "_" comes after every letter), names equal
    // that way by their bytes ("A" before "a", "IMG_0007" before "img_0007"),
    // bytes beyond ASCII as they are.
    EXPECT_EQ(std::vector<std::string>(names->begin(), names->begin() + 4),
              (std::vector<std::string>{"A", "a", "B.jpg", "IMG_0001.JPG"}));
    const auto at = [&](const std::string &name) {
        return std::find(names->begin(), names->end(), name) - names->begin();
    };
    EXPECT_EQ(at("img_0007.JPG"), at("IMG_0007.JPG") + 1);
    EXPECT_EQ(at("IMG_0060.JPG"), at("IMG_0001.JPG") + 60);
    EXPECT_EQ(at("Zed"), at("IMG_0060.JPG") + 1);
    EXPECT_EQ(names->back(), "\xc3\xa4.bmp");
    EXPECT_EQ(at("_x.jpg"), at("Zed") + 1);
}

TEST(Files, IdentityIsSharedThroughLinks)
{
    TempDir dir;
    testsupport::MakeFolder(dir.file("real"));
    ASSERT_EQ(::symlink(dir.file("real").c_str(), dir.file("link").c_str()), 0);
    auto real = GetFileIdentity(dir.file("real"));
    auto link = GetFileIdentity(dir.file("link"));
    ASSERT_TRUE(real && link);
    EXPECT_EQ(*real, *link);
    EXPECT_NE(*real, *GetFileIdentity(dir.path()));
    EXPECT_FALSE(GetFileIdentity(dir.file("missing")));
}

TEST(Files, DeleteAndForceDirectories)
{
    TempDir dir;
    WriteFile(dir.file("movie.avi"), "x");
    EXPECT_TRUE(DeleteFileA(dir.file("movie.avi")));
    EXPECT_FALSE(FileExists(dir.file("movie.avi")));
    EXPECT_FALSE(DeleteFileA(dir.file("movie.avi")));
    testsupport::MakeFolder(dir.file("folder"));
    EXPECT_FALSE(DeleteFileA(dir.file("folder")));
    EXPECT_TRUE(DirectoryExists(dir.file("folder")));
    // As on Windows, a read-only file is neither deleted nor replaced.
    WriteFile(dir.file("read-only"), "x");
    ::chmod(dir.file("read-only").c_str(), 0444);
    WriteFile(dir.file("new"), "new");
    EXPECT_FALSE(DeleteFileA(dir.file("read-only")));
    EXPECT_FALSE(MoveFileExA(dir.file("new"), dir.file("read-only"), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(errno, EACCES);
    EXPECT_FALSE(MoveFileExA(dir.file("new"), dir.file("folder"), 0));
    EXPECT_EQ(errno, EEXIST);

    EXPECT_TRUE(ForceDirectories(dir.file("a/b c/d/")));
    EXPECT_TRUE(DirectoryExists(dir.file("a/b c/d")));
    EXPECT_TRUE(ForceDirectories(dir.file("a/b c/d")));
    WriteFile(dir.file("file"), "x");
    EXPECT_FALSE(ForceDirectories(dir.file("file/sub")));
    EXPECT_FALSE(ForceDirectories(""));
}

TEST(Files, ReplacingContentMakesANewFileOfTheUsersOwn)
{
    TempDir dir;
    EXPECT_TRUE(ReplaceFileContent(dir.file("new.txt"), "first"));
    EXPECT_EQ(testsupport::ReadFile(dir.file("new.txt")), "first");

    WriteFile(dir.file("real.txt"), "a longer old content");
    EXPECT_TRUE(ReplaceFileContent(dir.file("real.txt"), "short"));
    EXPECT_EQ(testsupport::ReadFile(dir.file("real.txt")), "short");

    // A new file that a killed writer left beside it goes with the next write.
    const std::string left = CreateFileBeside(dir.file("real.txt"), 0600);
    ASSERT_TRUE(testsupport::MakeHourOld(left));
    EXPECT_TRUE(ReplaceFileContent(dir.file("real.txt"), "short"));
    EXPECT_FALSE(FileExists(left));

    // Failures say why, leave what stands there as it was and nothing beside it.
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    testsupport::MakeFolder(dir.file("folder"));
    WriteFile(dir.file("read-only.txt"), "kept");
    ASSERT_EQ(::chmod(dir.file("read-only.txt").c_str(), 0444), 0);
    struct Case
    {
        std::string name;
        int error;
        std::string reason;
    };
    for (const Case &c :
         {Case{"fifo", EINVAL, "Not a regular file"}, Case{"folder", EISDIR, "Is a directory"},
          Case{"read-only.txt", EACCES, "Permission denied"},
          Case{"missing/x.txt", ENOENT, "No such file or directory"}}) {
        std::string reason;
        EXPECT_FALSE(ReplaceFileContent(dir.file(c.name), "x", &reason)) << c.name;
        EXPECT_EQ(errno, c.error) << c.name;
        EXPECT_EQ(reason, c.reason) << c.name;
    }
    EXPECT_EQ(testsupport::ReadFile(dir.file("real.txt")), "short");
    EXPECT_EQ(testsupport::ReadFile(dir.file("read-only.txt")), "kept");
    EXPECT_EQ(ListFolder(dir.path())->size(), 5u);
}

// A group changes every file or none: a second file that cannot be written,
// or whose name has turned into a folder by the time of the commit, leaves the
// first as it was and no new file behind.
TEST(Files, AGroupWhoseSecondFileFailsLeavesTheFirstAsItWas)
{
    TempDir dir;
    WriteFile(dir.file("list.txt"), "old list");
    testsupport::MakeFolder(dir.file("folder"));
    {
        FileReplacementGroup group;
        EXPECT_TRUE(group.Add(dir.file("list.txt"), "new list"));
        std::string reason;
        EXPECT_FALSE(group.Add(dir.file("folder"), "x", &reason));
        EXPECT_EQ(reason, "Is a directory");
        EXPECT_FALSE(group.Commit());
        EXPECT_EQ(errno, ECANCELED);
    }
    EXPECT_EQ(testsupport::ReadFile(dir.file("list.txt")), "old list");
    EXPECT_EQ(ListFolder(dir.path())->size(), 2u);

    FileReplacementGroup group;
    EXPECT_TRUE(group.Add(dir.file("list.txt"), "new list"));
    EXPECT_TRUE(group.Add(dir.file("param.ini"), "new params"));
    testsupport::MakeFolder(dir.file("param.ini"));
    std::size_t failed = 0;
    std::string reason;
    EXPECT_FALSE(group.Commit(&failed, &reason));
    EXPECT_EQ(failed, 1u);
    EXPECT_EQ(reason, "Is a directory");
    EXPECT_EQ(testsupport::ReadFile(dir.file("list.txt")), "old list");
    EXPECT_EQ(ListFolder(dir.path())->size(), 3u);
}

// A new file whose writer was killed is removed by the next writer of that
// name; one still being written (locked), one just made, one of another user,
// a link or a folder at such a name, and other names all stay.
// In a folder the user may not write, the user's own file is rewritten in
// place. On a full disk a longer text must fail with the old one whole; a
// shorter one still fits. Run as a second user, since root writes anywhere.
TEST(Files, AFileRewrittenInPlaceKeepsItsTextWhenTheDiskIsFull)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to mount a small file system and to act as another user";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string folder = dir.file("small");
    const testsupport::SmallFileSystem small(folder, 65536, false, 0755);
    if (!small.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << small.why();

    const uid_t nobody = 65534;
    const std::string file = folder + "/show.txt";
    const std::string old(1000, 'o');
    WriteFile(file, old);
    ASSERT_EQ(::chown(file.c_str(), nobody, nobody), 0);
    ASSERT_TRUE(small.fill(0));
    auto replaceAsNobody = [&](const std::string &text) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setresgid(nobody, nobody, nobody) != 0
                || ::setresuid(nobody, nobody, nobody) != 0)
                ::_exit(255);
            ::_exit(ReplaceFileContent(file, text) ? 0 : errno);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(replaceAsNobody(std::string(20000, 'n')), ENOSPC);
    EXPECT_EQ(testsupport::ReadFile(file), old);
    EXPECT_EQ(replaceAsNobody("short"), 0);
    EXPECT_EQ(testsupport::ReadFile(file), "short");
}

TEST(Files, AFileOnAReadOnlyFileSystemIsRefusedForThatReason)
{
    TempDir dir;
    const std::string folder = dir.file("small");
    const testsupport::SmallFileSystem small(folder, 65536);
    if (!small.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << small.why();
    const std::string file = folder + "/show.txt";
    WriteFile(file, "old");
    ASSERT_EQ(::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    std::string reason;
    EXPECT_FALSE(ReplaceFileContent(file, "new", &reason));
    EXPECT_EQ(reason, std::strerror(EROFS));
    EXPECT_EQ(testsupport::ReadFile(file), "old");
}

TEST(Files, NewFilesThatNoWriterHoldsAnyMoreAreRemovedAndNothingElse)
{
    TempDir dir;
    const std::string movie = dir.file("photo_video.avi");
    // A writer at work in another process, which is killed further down: its
    // new file stays, no longer locked.
    int named[2], hold[2];
    ASSERT_EQ(::pipe(named), 0);
    ASSERT_EQ(::pipe(hold), 0);
    const pid_t writer = ::fork();
    if (writer == 0) {
        FileBeside file;
        if (!file.Create(movie, 0600))
            ::_exit(1);
        (void)!::write(named[1], file.NewPath().data(), file.NewPath().size());
        ::close(named[1]);
        char c;
        (void)!::read(hold[0], &c, 1);
        ::_exit(0);
    }
    ::close(named[1]);
    ::close(hold[0]);
    char name[4096];
    const ssize_t got = ::read(named[0], name, sizeof name);
    ::close(named[0]);
    ASSERT_GT(got, 0);
    const std::string written(name, static_cast<std::size_t>(got));
    const std::string abandoned = CreateFileBeside(movie, 0600);
    const std::string fresh = CreateFileBeside(movie, 0600);
    const std::string others = CreateFileBeside(movie, 0600);
    const std::string otherMovie = CreateFileBeside(dir.file("other.avi"), 0600);
    const std::string link = dir.file(".photo_video.avi.0123abcd.new");
    const std::string folder = dir.file(".photo_video.avi.89abcdef.new");
    const std::string shortName = dir.file(".photo_video.avi.0123abc.new");
    WriteFile(dir.file("target"), "kept");
    ASSERT_EQ(::symlink("target", link.c_str()), 0);
    testsupport::MakeFolder(folder);
    WriteFile(shortName, "");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    }
    for (const std::string &path :
         {written, abandoned, others, otherMovie, link, folder, shortName})
        ASSERT_TRUE(testsupport::MakeHourOld(path)) << path;

    EXPECT_EQ(RemoveAbandonedFilesBeside(movie), root ? 1 : 2);
    EXPECT_FALSE(FileExists(abandoned));
    for (const std::string &path : {written, fresh, otherMovie, shortName, dir.file("target")})
        EXPECT_TRUE(FileExists(path)) << path;
    if (root) {
        EXPECT_TRUE(FileExists(others));
    }
    EXPECT_TRUE(DirectoryExists(folder));
    struct stat st
    {};
    EXPECT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_EQ(testsupport::ReadFile(dir.file("target")), "kept");

    // Once its writer is gone, it is abandoned too.
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ::close(hold[1]);
    EXPECT_EQ(RemoveAbandonedFilesBeside(movie), 1);
    EXPECT_FALSE(FileExists(written));
    EXPECT_TRUE(FileExists(fresh));
}

// A replaced file of the user's own keeps its permissions and group, also while
// its successor is written; a file someone else put there gives it nothing, and
// a group the user is not in is not handed the group's permissions.
TEST(Files, AReplacedFileKeepsItsModeAndGroupOnlyWhenItIsTheUsersOwn)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to give files away and to act as another user";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    auto modeOf = [](const std::string &path) {
        struct stat st
        {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
        return std::pair<unsigned, gid_t>(st.st_mode & 07777, st.st_gid);
    };
    const std::string show = dir.file("private.qshow"), movie = dir.file("movie.avi");
    const std::string shared = dir.file("shared.qshow"), planted = dir.file("planted.ini");
    WriteFile(show, "old");
    ASSERT_EQ(::chmod(show.c_str(), 0600), 0);
    WriteFile(movie, "old");
    ASSERT_EQ(::chmod(movie.c_str(), 0640), 0);
    ASSERT_EQ(::chown(movie.c_str(), 0, 4321), 0);
    WriteFile(shared, "old");
    ASSERT_EQ(::chmod(shared.c_str(), 0664), 0);
    WriteFile(planted, "theirs");
    ASSERT_EQ(::chmod(planted.c_str(), 0666), 0);
    ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);

    EXPECT_TRUE(ReplaceFileContent(show, "new", nullptr, 0666));
    EXPECT_EQ(modeOf(show).first, 0600u);
    EXPECT_TRUE(ReplaceFileContent(shared, "new", nullptr, 0600));
    EXPECT_EQ(modeOf(shared).first, 0664u);
    EXPECT_TRUE(ReplaceFileContent(planted, "mine"));
    EXPECT_EQ(modeOf(planted), std::make_pair(0600u, ::getegid()));
    const mode_t mask = ::umask(022);
    EXPECT_TRUE(ReplaceFileContent(dir.file("new.qshow"), "new", nullptr, 0666));
    EXPECT_EQ(modeOf(dir.file("new.qshow")).first, 0644u);
    {
        FileBeside file;
        ASSERT_TRUE(file.Create(movie, 0666));
        EXPECT_EQ(modeOf(file.NewPath()), std::make_pair(0640u, static_cast<gid_t>(4321)));
        ASSERT_TRUE(file.Commit());
        EXPECT_EQ(modeOf(movie), std::make_pair(0640u, static_cast<gid_t>(4321)));
    }
    ::umask(mask);

    // The user, not in the earlier file's group: the group's permissions go.
    const uid_t nobody = 65534;
    ASSERT_EQ(::chown(movie.c_str(), nobody, 0), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(nobody, nobody, nobody) != 0 || ::setresuid(nobody, nobody, nobody) != 0)
            ::_exit(2);
        FileBeside file;
        ::_exit(file.Create(movie, 0666) && file.Commit() ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(modeOf(movie), std::make_pair(0600u, static_cast<gid_t>(nobody)));
}

// A link of the user's own in a folder nobody else may change (a show on the
// desktop, a settings file kept with other dotfiles) is written through and
// stays a link. One that someone else made, or one in a folder others may
// write to, is refused, and what it leads to stays as it was.
TEST(Files, OnlyTheUsersOwnLinkInAFolderOfTheirsIsWrittenThrough)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to give a link away";
    TempDir dir;
    testsupport::MakeFolder(dir.file("shows"));
    testsupport::MakeFolder(dir.file("desk"));
    const std::string real = dir.file("shows/real.qshow");
    WriteFile(real, "old");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    auto link = [&](const char *target, const std::string &name) {
        EXPECT_EQ(::symlink(target, dir.file(name).c_str()), 0) << name;
        return dir.file(name);
    };
    auto isLink = [](const std::string &path) {
        struct stat st
        {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    };
    const std::string own = link("../shows/real.qshow", "desk/own.qshow");
    const std::string chain = link("own.qshow", "desk/chain.qshow");
    EXPECT_TRUE(ReplaceFileContent(chain, "new", nullptr, 0666));
    EXPECT_EQ(testsupport::ReadFile(real), "new");
    struct stat st
    {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(isLink(own) && isLink(chain));

    // A link to a file not made yet makes it; one that leads round in a
    // circle ends.
    const std::string later = link("../shows/later.qshow", "desk/later.qshow");
    EXPECT_TRUE(ReplaceFileContent(later, "made"));
    EXPECT_EQ(testsupport::ReadFile(dir.file("shows/later.qshow")), "made");
    EXPECT_TRUE(isLink(later));
    std::string reason;
    EXPECT_FALSE(ReplaceFileContent(link("loop", "desk/loop"), "x", &reason));
    EXPECT_EQ(errno, ELOOP);

    const std::string theirs = link("../shows/real.qshow", "desk/theirs.qshow");
    ASSERT_EQ(::lchown(theirs.c_str(), 65534, 65534), 0);
    testsupport::MakeFolder(dir.file("open"));
    ASSERT_EQ(::chmod(dir.file("open").c_str(), 0777), 0);
    const std::string open = link("../shows/real.qshow", "open/own.qshow");
    for (const std::string &refused : {theirs, open}) {
        reason.clear();
        EXPECT_FALSE(ReplaceFileContent(refused, "planted", &reason)) << refused;
        EXPECT_EQ(errno, ELOOP) << refused;
        EXPECT_EQ(reason, "Is a symbolic link") << refused;
        EXPECT_TRUE(isLink(refused)) << refused;
    }
    EXPECT_EQ(testsupport::ReadFile(real), "new");
    // The sticky bit keeps others from putting their link in the user's place.
    ASSERT_EQ(::chmod(dir.file("open").c_str(), 01777), 0);
    EXPECT_TRUE(ReplaceFileContent(open, "sticky"));
    EXPECT_EQ(testsupport::ReadFile(real), "sticky");
    EXPECT_EQ(ListFolder(dir.file("shows"))->size(), 2u);

    // Nor is another user's link to a folder on the way followed, whether it
    // is on the way to the name or to where the user's own link leads.
    const std::string box = link("../shows", "open/box");
    ASSERT_EQ(::lchown(box.c_str(), 65534, 65534), 0);
    link("../open/box/real.qshow", "desk/via.qshow");
    for (const std::string &refused : {box + "/real.qshow", dir.file("desk/via.qshow")}) {
        reason.clear();
        EXPECT_FALSE(ReplaceFileContent(refused, "planted", &reason)) << refused;
        EXPECT_EQ(errno, ELOOP) << refused;
        EXPECT_EQ(reason, "it leads through \"" + box + "\", a link that another user made")
            << refused;
    }
    EXPECT_EQ(testsupport::ReadFile(real), "sticky");
    EXPECT_EQ(ListFolder(dir.file("shows"))->size(), 2u);
}

// A long write's folder is the one it was made in: a folder renamed or
// replaced by a link while the file is written gets no movie and keeps no new
// file; a link the user made to the folder beforehand is the folder.
TEST(Files, ANewFileIsRenamedOrRemovedOnlyInTheFolderItWasMadeIn)
{
    TempDir dir;
    testsupport::MakeFolder(dir.file("real"));
    ASSERT_EQ(::symlink("real", dir.file("link").c_str()), 0);
    {
        FileBeside file;
        ASSERT_TRUE(file.Create(dir.file("link/movie.avi"), 0600));
        ASSERT_EQ(::write(file.Descriptor(), "new", 3), 3);
        EXPECT_TRUE(file.Commit());
        EXPECT_FALSE(file.FolderLeftItsPath());
    }
    EXPECT_EQ(testsupport::ReadFile(dir.file("real/movie.avi")), "new");

    testsupport::MakeFolder(dir.file("other"));
    WriteFile(dir.file("other/movie.avi"), "theirs");
    for (const bool replaced : {false, true}) {
        for (const bool committed : {false, true}) {
            testsupport::MakeFolder(dir.file("out"));
            auto file = std::make_unique<FileBeside>();
            ASSERT_TRUE(file->Create(dir.file("out/movie.avi"), 0600));
            ASSERT_EQ(::rename(dir.file("out").c_str(), dir.file("moved").c_str()), 0);
            if (replaced) {
                ASSERT_EQ(::symlink("other", dir.file("out").c_str()), 0);
            }
            if (committed) {
                EXPECT_FALSE(file->Commit());
                EXPECT_EQ(errno, ENOENT);
                EXPECT_TRUE(file->FolderLeftItsPath());
            }
            file.reset();
            EXPECT_TRUE(ListFolder(dir.file("moved"))->empty()) << replaced << committed;
            EXPECT_EQ(ListFolder(dir.file("other"))->size(), 1u) << replaced << committed;
            EXPECT_EQ(testsupport::ReadFile(dir.file("other/movie.avi")), "theirs");
            ASSERT_EQ(::rmdir(dir.file("moved").c_str()), 0);
            ::unlink(dir.file("out").c_str());
        }
    }
}

// A new file that must not be steered by others is made in the folder reached
// without another user's link; the user's own and root's links still lead.
TEST(Files, ANewFileOnlyThroughTrustedLinksRefusesAnotherUsersLink)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to give a link away";
    TempDir dir;
    testsupport::MakeFolder(dir.file("home/Videos"));
    WriteFile(dir.file("home/Videos/movie.avi"), "earlier");
    testsupport::MakeFolder(dir.file("shared"));
    ASSERT_EQ(::symlink(dir.file("home").c_str(), dir.file("shared/theirs").c_str()), 0);
    ASSERT_EQ(::lchown(dir.file("shared/theirs").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::symlink("theirs/Videos", dir.file("shared/roots").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("home").c_str(), dir.file("shared/mine").c_str()), 0);
    for (const std::string &through : {"shared/theirs/Videos", "shared/roots"}) {
        FileBeside file;
        EXPECT_FALSE(
            file.Create(dir.file(through + "/movie.avi"), 0600, FileBeside::Links::OnlyTrusted))
            << through;
        EXPECT_EQ(errno, ELOOP) << through;
        EXPECT_EQ(file.ForeignLink(), dir.file("shared/theirs")) << through;
    }
    EXPECT_EQ(ListFolder(dir.file("home/Videos"))->size(), 1u);
    FileBeside mine;
    ASSERT_TRUE(mine.Create(dir.file("shared/mine/Videos/movie.avi"), 0600,
                            FileBeside::Links::OnlyTrusted));
    ASSERT_EQ(::write(mine.Descriptor(), "new", 3), 3);
    EXPECT_TRUE(mine.Commit());
    EXPECT_EQ(testsupport::ReadFile(dir.file("home/Videos/movie.avi")), "new");
}

// The links of /proc lead where the system takes them, not where their text
// says: a folder held open and then removed is still reached through its
// descriptor's link, whose text ends in " (deleted)".
TEST(Files, AFolderIsReachedThroughTheLinksOfProcAsTheSystemFollowsThem)
{
    TempDir dir;
    testsupport::MakeFolder(dir.file("gone"));
    const int held = ::open(dir.file("gone").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    struct stat before
    {};
    ASSERT_EQ(::fstat(held, &before), 0);
    ASSERT_EQ(::rmdir(dir.file("gone").c_str()), 0);
    std::string link;
    const int reached
        = OpenFolderAvoidingForeignLinks("/proc/self/fd/" + std::to_string(held), &link);
    struct stat after
    {};
    EXPECT_GE(reached, 0) << std::strerror(errno);
    EXPECT_EQ(::fstat(reached, &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(link, "");
    ::close(reached);
    ::close(held);
}

TEST(Files, ProgramFolderHoldsThisTest)
{
    const std::string folder = GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(DirectoryExists(folder));
}
