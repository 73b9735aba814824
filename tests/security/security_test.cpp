// A shared Linux machine: a second local user who plants links, files and
// FIFOs where the job files and the movie go, two runs at once, runs that fail
// or are stopped, read-only movies and names that are not UTF-8. Every file of
// the victim's must be as it was afterwards.
#include "security_support.h"

#include "app/job/job.h"
#include "media_support.h"
#include "pictures.h"
#include "platform/win32/files.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
using namespace securitytest;

namespace {

const Rgb kRed{220, 30, 30}, kBlue{40, 60, 210};
const std::vector<std::string> kJobNames = {"pelloryfilelist.txt", "param.ini", "temp.avs"};

struct stat Lstat(const std::string &path)
{
    struct stat st
    {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// The mean red of frame `n`: tells a red slide from a blue one.
double RedOf(const std::string &movie, std::int64_t n)
{
    const std::vector<std::uint8_t> bgr = mediatest::DecodeFrame(movie, n);
    double red = 0;
    for (std::size_t i = 2; i < bgr.size(); i += 3)
        red += bgr[i];
    return red / static_cast<double>(bgr.size() / 3);
}

} // namespace

class Security : public ::testing::Test
{
protected:
    TempDir dir;
    std::string shared = dir.file("shared/"); // sticky and open to all, as /tmp is
    std::string victim = dir.file("victim");  // a file of root's that must not change
    std::optional<User> second;
    std::optional<LinkProtectionsOff> unprotected;

    void SetUp() override
    {
        ::chmod(dir.path().c_str(), 0755);
        MakeFolder(shared);
        ::chmod(shared.c_str(), 01777);
        MakeFolder(dir.file("photos"));
        WriteFile(victim, "root's own settings\n");
    }

    // Makes `second` the second user and turns the kernel's link protections
    // off for the test, which plants things in a sticky folder; why it cannot
    // run otherwise.
    std::string attackerMissing()
    {
        std::string why;
        second = SecondUser(&why);
        if (!second)
            return why;
        unprotected.emplace();
        return unprotected->problem();
    }

    std::string photo(const std::string &name, Rgb colour)
    {
        const std::string path = dir.file("photos/" + name);
        WriteJpeg(path, 160, 120, Solid(colour));
        return path;
    }

    // quillon-render at NTSC Low, with `tmpdir` as $TMPDIR.
    MeasuredOutcome render(const std::string &tmpdir, const std::string &output,
                           std::vector<std::string> args,
                           const std::optional<User> &as = std::nullopt)
    {
        std::vector<std::string> all = {"--resolution", "low", "--output-folder", output};
        all.insert(all.end(), args.begin(), args.end());
        return RunCommand(Command(as, tmpdir, QUILLON_RENDER, all), dir.path());
    }

    Outcome asSecond(const std::string &script)
    {
        return RunCommand(Command(second, shared, "/bin/sh", {"-c", script}), dir.path());
    }
};

TEST_F(Security, TheJobFolderIsTheUsersOwnAndNothingPlantedInTmpIsFollowed)
{
    if (const std::string why = attackerMissing(); !why.empty())
        GTEST_SKIP() << why;
    const std::string red = photo("red.jpg", kRed);
    const std::string jobs = shared + "quillon-0/";
    // Links at every old job name and a link where root's job folder would be.
    for (const std::string &name : kJobNames)
        ASSERT_EQ(asSecond("ln -s '" + victim + "' '" + shared + name + "'").status, 0);
    ASSERT_EQ(asSecond("ln -s '" + dir.file("photos") + "' '" + shared + "quillon-0'").status, 0);
    MeasuredOutcome run = render(shared, dir.file("out"), {red});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "The job folder \"" + jobs + "\" cannot be used: it is a symbolic link.\n");
    EXPECT_EQ(win32::ListFolder(dir.file("photos"))->size(), 1u);

    // A folder of the second user's in its place, open to all.
    ASSERT_EQ(asSecond("rm '" + shared + "quillon-0' && mkdir -m 777 '" + jobs + "'").status, 0);
    run = render(shared, dir.file("out"), {red});
    EXPECT_EQ(run.err,
              "The job folder \"" + jobs + "\" cannot be used: it belongs to another user.\n");
    run = render(shared, dir.file("out"), {"--job-folder", jobs, red});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(win32::ListFolder(jobs)->size(), 0u);

    ASSERT_EQ(asSecond("rmdir '" + jobs + "'").status, 0);
    run = render(shared, dir.file("out"), {red});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lstat(jobs).st_mode & 07777, 0700u);
    for (const std::string &name : kJobNames) {
        EXPECT_EQ(Lstat(jobs + name).st_mode & 07777, 0600u) << name;
        EXPECT_TRUE(S_ISLNK(Lstat(shared + name).st_mode)) << name;
    }
    EXPECT_EQ(ReadFile(victim), "root's own settings\n");

    // A job folder named through the second user's link: its owner could
    // point it elsewhere once the folder on the far side has been checked.
    MakeFolder(dir.file("roots"));
    ASSERT_EQ(asSecond("ln -s '" + dir.file("roots") + "' '" + shared + "lnk'").status, 0);
    run = render(shared, dir.file("out"), {"--job-folder", shared + "lnk/jobs", red});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("it leads through \"" + shared + "lnk\", a link that another user made"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(win32::ListFolder(dir.file("roots"))->size(), 0u);

    // The second user's runs have a job folder of their own: the first user's
    // files are no obstacle.
    MakeFolder(dir.file("out2"));
    ASSERT_EQ(::chown(dir.file("out2").c_str(), second->uid, second->gid), 0);
    run = render(shared, dir.file("out2"), {red}, second);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lstat(dir.file("out2/photo_video.avi")).st_uid, second->uid);
    // Where the second user may not write, the message says which file and why.
    run = render(shared, dir.file("out"), {red}, second);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Cannot create file \"" + dir.file("out/photo_video.avi")
                           + "\". Permission denied"),
              std::string::npos)
        << run.err;
}

TEST_F(Security, JobFilesTakeNoOtherOwnerOrModeAndNoScriptCanBeSwappedIn)
{
    if (const std::string why = attackerMissing(); !why.empty())
        GTEST_SKIP() << why;
    const std::string red = photo("red.jpg", kRed), blue = photo("blue.jpg", kBlue);
    const std::string jobs = JobFolderIn(shared);
    // Files the second user owns at each job name, open to all.
    for (const std::string &name : kJobNames) {
        WriteFile(jobs + name, "x");
        ASSERT_EQ(::chown((jobs + name).c_str(), second->uid, second->gid), 0);
        ASSERT_EQ(::chmod((jobs + name).c_str(), 0666), 0);
    }
    WriteFile(dir.file("evil.avs"), "return ImageSource(\"" + blue + "\", 1,1,25)\r\n");
    ::chmod(dir.file("evil.avs").c_str(), 0644);

    // Interval 8, two photos: 25 × (2 × 9 − 1) = 425 frames, red then blue.
    Background run(Command(std::nullopt, shared, QUILLON_RENDER,
                           {"--interval", "8", "--resolution", "low", "--output-folder",
                            dir.file("out"), red, red}),
                   dir.path());
    ASSERT_TRUE(run.waitForError("Time:"));
    const Outcome swap
        = asSecond("for i in 1 2 3 4 5 6 7 8 9 10; do cp '" + dir.file("evil.avs") + "' '" + jobs
                   + "temp.avs' 2>/dev/null && exit 0; mv -f '" + dir.file("evil.avs") + "' '"
                   + jobs + "temp.avs' 2>/dev/null && exit 0; sleep 0.02; done; exit 1");
    EXPECT_EQ(swap.status, 1) << "the second user reached the job folder";
    const Outcome done = run.wait();
    ASSERT_EQ(done.status, 0) << done.err;
    for (const std::string &name : kJobNames) {
        const struct stat st = Lstat(jobs + name);
        EXPECT_EQ(st.st_uid, 0u) << name;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    }
    const std::string movie = dir.file("out/photo_video.avi");
    EXPECT_EQ(mediatest::ProbeAvi(movie).video()->frames, 425);
    EXPECT_GT(RedOf(movie, 420), 150);
}

TEST_F(Security, LinksAndFifosAtJobNamesAndInputsAreRefusedWithoutBlocking)
{
    const std::string red = photo("red.jpg", kRed);
    const std::string jobs = JobFolderIn(shared);
    for (const std::string &name : kJobNames) {
        for (bool link : {true, false}) {
            SCOPED_TRACE(name + (link ? " link" : " fifo"));
            for (const std::string &other : kJobNames)
                std::filesystem::remove(jobs + other);
            if (link) {
                // Planted by someone else: the user's own link would be followed.
                ASSERT_EQ(::symlink(victim.c_str(), (jobs + name).c_str()), 0);
                ASSERT_EQ(::lchown((jobs + name).c_str(), 65534, 65534), 0);
            } else
                ASSERT_EQ(::mkfifo((jobs + name).c_str(), 0600), 0);
            const MeasuredOutcome run = render(shared, dir.file("out"), {red});
            EXPECT_FALSE(run.timedOut);
            EXPECT_EQ(run.status, 1);
            const std::string why = link ? "Is a symbolic link" : "Not a regular file";
            EXPECT_EQ(run.err, name == "param.ini"
                                   ? "Unable to write to " + jobs + name + "\n"
                                   : "Cannot create file \"" + jobs + name + "\". " + why + "\n");
            EXPECT_EQ(link, S_ISLNK(Lstat(jobs + name).st_mode));
        }
    }
    EXPECT_EQ(ReadFile(victim), "root's own settings\n");

    // The frame server serves an empty show from FIFOs instead of waiting.
    for (const char *name : {"param.ini", "pelloryfilelist.txt"}) {
        std::filesystem::remove(jobs + name);
        ASSERT_EQ(::mkfifo((jobs + name).c_str(), 0600), 0);
    }
    MeasuredOutcome run = RunCommand(
        Command(std::nullopt, shared, BRINDLE_HOST, {dir.file("show.y4m")}), dir.path());
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 0) << run.err;

    // A FIFO as the sound track, as a photo and as the compressor settings.
    for (const std::string &name : kJobNames)
        std::filesystem::remove(jobs + name);
    ASSERT_EQ(::mkfifo(dir.file("tune.wav").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.file("photo.jpg").c_str(), 0600), 0);
    // quillon-render refuses a sound file that cannot be read before it renders.
    run = render(shared, dir.file("out"), {"--sound", dir.file("tune.wav"), red});
    EXPECT_EQ(run.err,
              "Cannot read the sound file \"" + dir.file("tune.wav") + "\": Not a regular file\n");
    run = render(shared, dir.file("out"), {dir.file("photo.jpg")});
    EXPECT_NE(run.err.find("Cannot read the picture \"" + dir.file("photo.jpg") + "\""),
              std::string::npos)
        << run.err;
    MakeFolder(dir.file("config/quillon"));
    ASSERT_EQ(::mkfifo(dir.file("config/quillon/compressors.ini").c_str(), 0600), 0);
    std::vector<std::string> command
        = Command(std::nullopt, shared, QUILLON_RENDER,
                  {"--resolution", "low", "--output-folder", dir.file("out"), red});
    command.insert(command.begin() + 1, "XDG_CONFIG_HOME=" + dir.file("config"));
    run = RunCommand(command, dir.path());
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(Security, TwoRunsAtOnceEachMakeTheirOwnMovie)
{
    const std::string red = photo("red.jpg", kRed), blue = photo("blue.jpg", kBlue);
    // Red: 3 photos at interval 1, 125 frames; blue: 2 at interval 3, 175 frames.
    auto check = [&](const std::string &folder, std::int64_t frames, bool isRed) {
        const std::string movie = folder + "/photo_video.avi";
        EXPECT_EQ(mediatest::ProbeAvi(movie).video()->frames, frames) << folder;
        for (std::int64_t n : {std::int64_t{0}, frames - 1})
            EXPECT_EQ(RedOf(movie, n) > 150, isRed) << folder << " frame " << n;
    };
    auto start = [&](const std::string &name, std::vector<std::string> extra) {
        MakeFolder(dir.file(name));
        std::vector<std::string> args
            = {"--resolution", "low", "--output-folder", dir.file(name + "/out")};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<Background>(Command(std::nullopt, shared, QUILLON_RENDER, args),
                                            dir.file(name + "/"));
    };

    // In one job folder the second run waits for the first: both wait while
    // the folder is held here, then run one after the other.
    win32::FolderLock held;
    ASSERT_EQ(held.TryLock(JobFolderIn(shared)), win32::FolderLock::Result::Taken);
    auto a = start("a", {"--interval", "1", red, red, red});
    auto b = start("b", {"--interval", "3", blue, blue});
    EXPECT_TRUE(a->waitForError(quillon::WaitingForJobFolderText));
    EXPECT_TRUE(b->waitForError(quillon::WaitingForJobFolderText));
    held.Release();
    EXPECT_EQ(a->wait().status, 0);
    EXPECT_EQ(b->wait().status, 0);
    check(dir.file("a/out"), 125, true);
    check(dir.file("b/out"), 175, false);

    // In job folders of their own they do not wait at all.
    auto c = start("c", {"--job-folder", dir.file("c/jobs"), "--interval", "1", red, red, red});
    auto d = start("d", {"--job-folder", dir.file("d/jobs"), "--interval", "3", blue, blue});
    const Outcome cDone = c->wait(), dDone = d->wait();
    EXPECT_EQ(cDone.status, 0) << cDone.err;
    EXPECT_EQ(dDone.status, 0) << dDone.err;
    EXPECT_EQ(cDone.err.find(quillon::WaitingForJobFolderText), std::string::npos);
    check(dir.file("c/out"), 125, true);
    check(dir.file("d/out"), 175, false);
}

TEST_F(Security, FailedStoppedAndRefusedRunsKeepTheEarlierMovie)
{
    const std::string red = photo("red.jpg", kRed);
    const std::string out = dir.file("out"), movie = out + "/photo_video.avi";
    ASSERT_EQ(render(shared, out, {red}).status, 0);
    const std::string earlier = ReadFile(movie);
    auto unchanged = [&](const std::string &what) {
        EXPECT_EQ(ReadFile(movie), earlier) << what;
        EXPECT_EQ(win32::ListFolder(out)->size(), 1u) << what << ": no new file is left";
    };

    MeasuredOutcome run = render(shared, out, {red, dir.file("photos/deleted.jpg")});
    EXPECT_EQ(run.status, 1);
    unchanged("a missing photo");
    run = render(shared, out, {"--compressor", "99", red});
    EXPECT_EQ(run.status, 2);
    unchanged("a compressor not in the list");

    // Held frames cost little: the show is long enough to be stopped in the
    // middle. XCPU is the soft CPU time limit's warning.
    for (int signal : {SIGTERM, SIGINT, SIGXCPU}) {
        Background long_(Command(std::nullopt, shared, QUILLON_RENDER,
                                 {"--interval", "3600", "--resolution", "low", "--output-folder",
                                  out, red, red}),
                         dir.path());
        ASSERT_TRUE(long_.waitForError("Time:"));
        long_.signal(signal);
        const Outcome stopped = long_.wait();
        EXPECT_EQ(stopped.status, 128 + signal);
        EXPECT_NE(stopped.err.find("The movie was not made: stopped."), std::string::npos);
        unchanged("signal " + std::to_string(signal));
    }

    ASSERT_EQ(::chmod(movie.c_str(), 0444), 0);
    run = render(shared, out, {red});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("The movie \"" + movie + "\" is read-only: it is not replaced."),
              std::string::npos)
        << run.err;
    unchanged("a read-only movie");
}

// A user at the limit of their processes: the render says it cannot start
// instead of ending in an abort (and a core file in the current folder).
TEST_F(Security, ARenderThatCannotStartAThreadSaysSo)
{
#ifdef QUILLON_TEST_SANITIZED
    GTEST_SKIP() << "the leak checker needs a thread of its own at the end";
#endif
    std::string why;
    second = SecondUser(&why);
    if (!second)
        GTEST_SKIP() << why;
    const std::string red = photo("red.jpg", kRed);
    const std::string out = shared + "limited";
    const Outcome run = RunCommand(
        Command(second, shared, "/usr/bin/prlimit",
                {"--nproc=1", QUILLON_RENDER, "--resolution", "low", "--output-folder", out, red}),
        dir.path());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("Cannot start the render: Resource temporarily unavailable\n"
                           "An error occured when convert photo to video stream."),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(testsupport::Exists(out + "/photo_video.avi"));
}

// In a sticky folder another user's movie cannot be replaced: the render says so
// before it starts, not once the movie is made.
TEST_F(Security, AnotherUsersMovieInAStickyFolderIsRefusedBeforeTheRender)
{
    std::string why;
    second = SecondUser(&why);
    if (!second)
        GTEST_SKIP() << why;
    const std::string red = photo("red.jpg", kRed);
    const std::string out = shared + "movies", movie = out + "/photo_video.avi";
    ASSERT_EQ(render(shared, out, {red}).status, 0);
    ASSERT_EQ(::chmod(out.c_str(), 01777), 0);
    ASSERT_EQ(::chmod(movie.c_str(), 0666), 0);
    const std::string earlier = ReadFile(movie);

    const MeasuredOutcome run = render(shared, out, {red}, second);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find("Time:"), std::string::npos) << "the render started";
    EXPECT_NE(run.err.find("Cannot create file \"" + movie
                           + "\". Operation not permitted: another user's file of that name "
                             "stands in a folder where only its owner may replace it."),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(movie), earlier);
    EXPECT_EQ(win32::ListFolder(out)->size(), 1u);

    // Root may replace it all the same, in a folder that is not its own either.
    ASSERT_EQ(::chown(out.c_str(), second->uid, second->gid), 0);
    ASSERT_EQ(::chown(movie.c_str(), second->uid, second->gid), 0);
    const MeasuredOutcome asRoot = render(shared, out, {"--resolution", "high", red});
    ASSERT_EQ(asRoot.status, 0) << asRoot.err;
    EXPECT_NE(ReadFile(movie), earlier);
}

// A render that is killed cannot remove its new file; the next render into the
// folder does, once no render holds it any more.
TEST_F(Security, ANewFileThatAKilledRunLeftIsRemovedByTheNextRun)
{
    const std::string red = photo("red.jpg", kRed);
    const std::string out = dir.file("out");
    auto newFiles = [&] {
        std::vector<std::string> found;
        for (const std::string &name : win32::ListFolder(out).value_or(std::vector<std::string>{}))
            if (name.rfind(".photo_video.avi.", 0) == 0)
                found.push_back(out + "/" + name);
        return found;
    };
    Background killed(
        Command(std::nullopt, shared, QUILLON_RENDER,
                {"--interval", "3600", "--resolution", "low", "--output-folder", out, red, red}),
        dir.path());
    ASSERT_TRUE(killed.waitForError("Time:"));
    const std::vector<std::string> left = newFiles();
    ASSERT_EQ(left.size(), 1u);
    // While it runs, the render holds its new file locked.
    const int fd = ::open(left[0].c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    killed.signal(SIGKILL);
    killed.wait();
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
    ASSERT_EQ(newFiles(), left);

    // Nothing has written to it for a while.
    ASSERT_TRUE(testsupport::MakeHourOld(left[0]));
    const MeasuredOutcome run = render(shared, out, {red});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(newFiles().empty());
    EXPECT_EQ(win32::ListFolder(out)->size(), 1u);
}

TEST_F(Security, TheMovieReplacesALinkAtItsNameNotTheFileItPointsAt)
{
    if (const std::string why = attackerMissing(); !why.empty())
        GTEST_SKIP() << why;
    const std::string out = shared + "movies";
    ASSERT_EQ(asSecond("mkdir -m 1777 '" + out + "' && ln -s '" + victim + "' '" + out
                       + "/photo_video.avi'")
                  .status,
              0);
    const MeasuredOutcome run = render(shared, out, {photo("red.jpg", kRed)});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(S_ISREG(Lstat(out + "/photo_video.avi").st_mode));
    EXPECT_EQ(ReadFile(victim), "root's own settings\n");
}

TEST_F(Security, NamesThatAreNotUtf8ReachExactlyTheirFiles)
{
    const std::string odd = "\xff\xfe";
    const std::string out = dir.file("out" + odd), sound = dir.file("tune" + odd + ".wav");
    mediatest::WriteWav(sound, 11025, 1, 2.0);
    const std::string red = photo("red" + odd + ".jpg", kRed);
    const MeasuredOutcome run = render(shared, out, {"--sound", sound, red});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, out + "/photo_video.avi\n");
    const mediatest::AviInfo info = mediatest::ProbeAvi(out + "/photo_video.avi");
    EXPECT_NE(info.audio(), nullptr);
    EXPECT_EQ(info.video()->frames, 50);
    EXPECT_FALSE(Exists(dir.file("out\xef\xbf\xbd\xef\xbf\xbd")));
}

TEST_F(Security, TheFrameServerCostsNoMoreThanItsJobCouldNeed)
{
    const std::string jobs = JobFolderIn(shared);
    auto serve = [&] {
        return RunCommand(Command(std::nullopt, shared, BRINDLE_HOST, {dir.file("show.y4m")}),
                          dir.path());
    };
    WriteFile(jobs + "pelloryfilelist.txt", photo("red.jpg", kRed) + "\r\n");
    WriteFile(jobs + "param.ini",
              "[Temp]\r\nOutputWidth=352\r\nOutputHeight=240\r\nInterval=1\r\n");
    const MeasuredOutcome small = serve();
    ASSERT_EQ(small.status, 0) << small.err;

    WriteFile(jobs + "param.ini",
              "[Temp]\r\nOutputWidth=25000\r\nOutputHeight=28000\r\nInterval=1\r\n");
    MeasuredOutcome run = serve();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadFile(dir.file("show.y4m")).starts_with("YUV4MPEG2 W352 H240 "));
    // A frame of that size alone would be 2 GB; the sanitizers' allocator
    // keeps some more of what was freed, hence the room.
    EXPECT_LT(run.peakKilobytes - small.peakKilobytes, 64 * 1024) << "a 25000 x 28000 frame";

    // 10 million empty lines (10 MB); interval 0 ends the show once it is read.
    const long long lines = 10'000'000;
    WriteFile(jobs + "pelloryfilelist.txt", std::string(lines, '\n'));
    WriteFile(jobs + "param.ini", "[Temp]\r\nInterval=0\r\n");
    run = serve();
    ASSERT_EQ(run.status, 0) << run.err;
    std::printf("10 million empty lines: %ld MB beyond a one-photo show\n",
                (run.peakKilobytes - small.peakKilobytes) / 1024);
    // A string object a line cost 1.1 GB, 37 times the file.
    EXPECT_LT((run.peakKilobytes - small.peakKilobytes) * 1024, 10 * lines);

    // A list that claims 3 GB of zeros (a sparse file) ends at its first NUL.
    WriteFile(jobs + "pelloryfilelist.txt", "");
    ASSERT_EQ(::truncate((jobs + "pelloryfilelist.txt").c_str(), 3LL << 30), 0);
    run = serve();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.peakKilobytes - small.peakKilobytes, 64 * 1024);
}
