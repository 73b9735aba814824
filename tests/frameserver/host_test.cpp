// brindle-host as a process: the stream it writes, its stills, its failures.

#include "brindle_support.h"
#include "platform/win32/files.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace brindletest;
using testsupport::Png;
using testsupport::ReadPng;

namespace {

// The frames of a YUV4MPEG2 stream, checked for shape on the way.
struct Stream
{
    std::string header;
    int width = 0;
    int height = 0;
    std::vector<std::string_view> frames; // planes Y, Cb, Cr of each frame

    std::size_t chromaWidth() const { return (width + 1) / 2; }
    std::size_t chromaHeight() const { return (height + 1) / 2; }
    int luma(std::size_t frame, int x, int y) const
    {
        return static_cast<unsigned char>(frames[frame][static_cast<std::size_t>(y) * width + x]);
    }
    // Cb and Cr of the 2 × 2 block that holds (x, y).
    std::pair<int, int> chroma(std::size_t frame, int x, int y) const
    {
        const std::size_t plane = chromaWidth() * chromaHeight();
        const std::size_t at
            = static_cast<std::size_t>(width) * height + (y / 2) * chromaWidth() + x / 2;
        return {static_cast<unsigned char>(frames[frame][at]),
                static_cast<unsigned char>(frames[frame][at + plane])};
    }
};

::testing::AssertionResult Parse(const std::string &bytes, Stream &stream)
{
    const std::size_t eol = bytes.find('\n');
    if (eol == std::string::npos)
        return ::testing::AssertionFailure() << "no header line";
    stream.header = bytes.substr(0, eol + 1);
    if (std::sscanf(stream.header.c_str(), "YUV4MPEG2 W%d H%d", &stream.width, &stream.height) != 2)
        return ::testing::AssertionFailure() << "header " << stream.header;
    const std::size_t frameBytes = static_cast<std::size_t>(stream.width) * stream.height
                                   + 2 * stream.chromaWidth() * stream.chromaHeight();
    std::size_t at = eol + 1;
    while (at < bytes.size()) {
        if (bytes.compare(at, 6, "FRAME\n") != 0)
            return ::testing::AssertionFailure() << "no FRAME at byte " << at;
        at += 6;
        if (bytes.size() - at < frameBytes)
            return ::testing::AssertionFailure() << "frame " << stream.frames.size() << " is cut";
        stream.frames.emplace_back(bytes.data() + at, frameBytes);
        at += frameBytes;
    }
    return ::testing::AssertionSuccess();
}

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kRed{220, 30, 30};

class Host : public ::testing::Test
{
protected:
    // 60 frames: a wide white photo with black bands, then a red one.
    void writeTwoPhotoJob()
    {
        job.writeParams(352, 240, 1);
        job.writeList({job.solidPhoto("white.jpg", 1000, 500, kWhite),
                       job.solidPhoto("red.jpg", 352, 240, kRed)});
    }
    Outcome host(const std::vector<std::string> &args)
    {
        return RunProgram(BRINDLE_HOST, args, job.folder());
    }

    Job job;
};

} // namespace

TEST_F(Host, StreamHasTheHeaderTheSizeAndEveryFrame)
{
    writeTwoPhotoJob();
    const std::string file = job.folder() + "show.y4m";
    const Outcome run = host({file});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");

    const std::string bytes = testsupport::ReadFile(file);
    Stream stream;
    ASSERT_TRUE(Parse(bytes, stream));
    EXPECT_EQ(stream.header, "YUV4MPEG2 W352 H240 F30:1 Ip A1:1 C420jpeg\n");
    ASSERT_EQ(stream.frames.size(), 60u);
    EXPECT_EQ(bytes.size(), stream.header.size() + 60 * (6 + 352 * 240 * 3 / 2));

    // Frame 0: studio-range black in the bands, white in the picture (rows 32 to 207).
    EXPECT_EQ(stream.luma(0, 10, 10), 16);
    EXPECT_EQ(stream.luma(0, 351, 31), 16);
    EXPECT_EQ(stream.chroma(0, 10, 10), std::make_pair(128, 128));
    EXPECT_NEAR(stream.luma(0, 0, 32), 235, 3);
    EXPECT_NEAR(stream.luma(0, 176, 120), 235, 3);
    EXPECT_EQ(stream.luma(0, 176, 208), 16);
    // Frame 30 is the red photo: Y 91, Cb 98, Cr 211 in BT.601.
    EXPECT_NEAR(stream.luma(30, 176, 120), 91, 4);
    EXPECT_NEAR(stream.chroma(30, 176, 120).first, 98, 4);
    EXPECT_NEAR(stream.chroma(30, 176, 120).second, 211, 4);
    EXPECT_EQ(stream.frames[31], stream.frames[59]);
}

TEST_F(Host, WritesToStandardOutputByDefault)
{
    writeTwoPhotoJob();
    const std::string file = job.folder() + "show.y4m";
    ASSERT_EQ(host({file}).status, 0);
    const std::string expected = testsupport::ReadFile(file);

    const Outcome bare = host({});
    ASSERT_EQ(bare.status, 0) << bare.err;
    EXPECT_TRUE(bare.out == expected) << "brindle-host with no OUTPUT";
    const Outcome dash = host({"-"});
    ASSERT_EQ(dash.status, 0) << dash.err;
    EXPECT_TRUE(dash.out == expected) << "brindle-host -";
}

TEST_F(Host, SavesEveryKthFrameAsAPngStill)
{
    writeTwoPhotoJob();
    const std::string stills = job.folder() + "stills/new";
    const Outcome run = host({job.folder() + "show.y4m", "--png", stills, "--every", "25"});
    ASSERT_EQ(run.status, 0) << run.err;

    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(stills))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"frame-000000.png", "frame-000025.png",
                                               "frame-000050.png"}));

    const Png first = ReadPng(stills + "/frame-000000.png");
    ASSERT_EQ(first.width, 352);
    ASSERT_EQ(first.height, 240);
    EXPECT_EQ(Distance(first.at(10, 10), kBlack), 0);
    EXPECT_LE(Distance(first.at(176, 120), kWhite), 6);
    EXPECT_EQ(Distance(first.at(176, 208), kBlack), 0);
    const Png last = ReadPng(stills + "/frame-000050.png");
    EXPECT_LE(Distance(last.at(176, 120), kRed), 10);
}

TEST_F(Host, OddFrameSizesRoundTheChromaPlanesUp)
{
    job.writeParams(351, 241, 1);
    job.writeList({job.solidPhoto("white.jpg", 351, 241, kWhite)});
    const Outcome run = host({});
    ASSERT_EQ(run.status, 0) << run.err;
    Stream stream;
    ASSERT_TRUE(Parse(run.out, stream));
    EXPECT_EQ(stream.header, "YUV4MPEG2 W351 H241 F30:1 Ip A1:1 C420jpeg\n");
    EXPECT_EQ(stream.frames.size(), 30u);
    EXPECT_EQ(stream.frames[0].size(), 351u * 241 + 2 * 176 * 121);
    EXPECT_EQ(stream.chroma(0, 350, 240), std::make_pair(128, 128));
    EXPECT_NEAR(stream.luma(0, 350, 240), 235, 3);
}

TEST_F(Host, AShowWithoutPhotosIsAStreamWithoutFrames)
{
    const Outcome run = host({});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "YUV4MPEG2 W352 H240 F30:1 Ip A1:1 C420jpeg\n");
    EXPECT_EQ(run.err, "brindle-host: the job in " + job.folder() + "quillon-"
                           + std::to_string(::geteuid())
                           + "/ has no photos to show; make a movie first\n");
}

TEST_F(Host, AnEmptyShowSaysWhyAndMemoryThatRunsOutIsAFailure)
{
    job.writeList({job.solidPhoto("red.jpg", 64, 48, kRed)});
    job.writeParams(64, 48, 0);
    Outcome run = host({});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "YUV4MPEG2 W64 H48 F30:1 Ip A1:1 C420jpeg\n");
    EXPECT_NE(run.err.find("shows each photo for 0 seconds (Interval in param.ini)"),
              std::string::npos)
        << run.err;

#ifdef QUILLON_TEST_SANITIZED
    // The sanitizer's allocator ends the program where memory runs out.
    return;
#endif
    // 100 MB of data is room enough for a small show, not for frames of
    // 8192 × 8192 (200 MB each).
    const std::vector<std::string> limited
        = {"-c", "ulimit -d 100000 && exec \"$0\" \"$@\"", BRINDLE_HOST};
    job.writeParams(64, 48, 1);
    run = RunProgram("/bin/sh", limited, job.folder());
    EXPECT_EQ(run.status, 0) << run.err;
    job.writeParams(8192, 8192, 1);
    run = RunProgram("/bin/sh", limited, job.folder());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("libbrindle.so ran out of memory starting the show"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
    // Room for the library's frame but not for the host's own: said as such,
    // not as "std::bad_alloc".
    run = RunProgram("/bin/sh", {"-c", "ulimit -d 300000 && exec \"$0\" \"$@\"", BRINDLE_HOST},
                     job.folder());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "brindle-host: out of memory\n");
}

// The header and the frames are of one read of the job: a job that lands
// while the host waits for a FIFO's reader changes neither.
TEST_F(Host, AJobWrittenWhileTheHostWaitsForItsReaderChangesNothingOfTheStream)
{
    job.writeParams(64, 48, 1);
    job.writeList({job.solidPhoto("red.jpg", 64, 48, kRed)});
    std::string fifo = job.folder() + "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    char program[] = BRINDLE_HOST;
    char *argv[] = {program, fifo.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program, nullptr, nullptr, argv, environ), 0);
    // Until the host waits in the FIFO's open, as this kernel names it; a
    // kernel that names it otherwise gives the host ten seconds to get there.
    const std::string wchanFile = "/proc/" + std::to_string(pid) + "/wchan";
    std::string wchan;
    for (int i = 0; i < 1000 && wchan != "wait_for_partner" && wchan != "fifo_open"; ++i) {
        ::usleep(10000);
        wchan = testsupport::ReadFile(wchanFile);
    }
    job.writeParams(128, 96, 2);
    job.writeList({job.solidPhoto("white.jpg", 128, 96, kWhite)});
    const std::string bytes = testsupport::ReadFile(fifo);
    int waitStatus = 0;
    ASSERT_EQ(::waitpid(pid, &waitStatus, 0), pid);
    EXPECT_EQ(testsupport::ExitStatus(waitStatus), 0);
    Stream stream;
    ASSERT_TRUE(Parse(bytes, stream));
    EXPECT_EQ(stream.width, 64);
    EXPECT_EQ(stream.height, 48);
    ASSERT_EQ(stream.frames.size(), 30u);
    EXPECT_NEAR(stream.luma(29, 32, 24), 91, 4) << "the red photo of the first job";
}

TEST_F(Host, APlayerReadsTheStream)
{
    const char *ffprobe = "/usr/bin/ffprobe";
    if (::access(ffprobe, X_OK) != 0)
        GTEST_SKIP() << "ffprobe is not installed";
    writeTwoPhotoJob();
    const std::string file = job.folder() + "show.y4m";
    ASSERT_EQ(host({file}).status, 0);
    const Outcome probe
        = RunProgram(ffprobe,
                     {"-v", "error", "-count_frames", "-show_entries",
                      "stream=width,height,r_frame_rate,nb_read_frames", "-of", "csv=p=0", file},
                     job.folder());
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.out, "352,240,30/1,60\n");
}

TEST_F(Host, AReaderThatStopsEndsTheHostQuietly)
{
    job.writeParams(352, 240, 100);
    job.writeList({job.solidPhoto("white.jpg", 352, 240, kWhite)});
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string errFile = job.folder() + "host.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    char program[] = BRINDLE_HOST;
    char *argv[] = {program, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);

    std::string start(64, '\0');
    std::size_t got = 0;
    while (got < start.size()) {
        const ssize_t n = ::read(fds[0], start.data() + got, start.size() - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fds[0]); // 3000 frames were due; the reader goes after 64 bytes
    int waitStatus = 0;
    waitpid(pid, &waitStatus, 0);
    EXPECT_EQ(start.substr(0, 10), "YUV4MPEG2 ");
    EXPECT_TRUE(WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0);
    EXPECT_EQ(testsupport::ReadFile(errFile), "");
}

// Ctrl+C, a hang-up or a kill ends the stream at once; the earlier file of
// the name stays and the new one goes, as when a write fails.
TEST_F(Host, AStopSignalKeepsTheEarlierFileAndLeavesNoNewOne)
{
    job.writeParams(352, 240, 600);
    job.writeList({job.solidPhoto("white.jpg", 352, 240, kWhite)});
    const std::string file = job.folder() + "show.y4m";
    testsupport::WriteFile(file, "the earlier show");
    auto newFile = [&] {
        const auto names = win32::ListFolder(job.folder());
        for (const std::string &name : names.value())
            if (name.starts_with(".show.y4m."))
                return job.folder() + name;
        return std::string();
    };
    // 0 stands for a hang-up under nohup: ignored from the start, it is
    // still ignored, and the TERM that follows it ends the stream.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, 0}) {
        char program[] = BRINDLE_HOST;
        std::string output = file;
        char *argv[] = {program, output.data(), nullptr};
        pid_t pid = 0;
        if (signal == 0)
            std::signal(SIGHUP, SIG_IGN);
        ASSERT_EQ(posix_spawn(&pid, program, nullptr, nullptr, argv, environ), 0);
        std::signal(SIGHUP, SIG_DFL);
        // 18,000 frames are due: the stop comes once the first are written.
        for (int i = 0; i < 1000; ++i) {
            struct stat st
            {};
            const std::string written = newFile();
            if (!written.empty() && ::stat(written.c_str(), &st) == 0 && st.st_size > 0)
                break;
            ::usleep(10000);
        }
        if (signal == 0) {
            ::kill(pid, SIGHUP);
            ::usleep(200000);
            signal = SIGTERM;
        }
        ::kill(pid, signal);
        int waitStatus = 0;
        ::waitpid(pid, &waitStatus, 0);
        EXPECT_EQ(testsupport::ExitStatus(waitStatus), 128 + signal);
        EXPECT_EQ(testsupport::ReadFile(file), "the earlier show");
        EXPECT_EQ(newFile(), "") << signal;
    }

    // A FIFO: TERM while the host waits for a reader is a stop, not a failure
    // to create; then a reader that keeps it open but reads nothing, with the
    // host held in the first frame's write (larger than the FIFO's buffer).
    const std::string fifo = job.folder() + "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string errFile = job.folder() + "host.err";
    for (const bool reader : {false, true}) {
        const int held = reader ? ::open(fifo.c_str(), O_RDWR | O_CLOEXEC) : -1;
        const pid_t pid = testsupport::StartProgram(BRINDLE_HOST, {fifo}, "/dev/null", errFile);
        const std::string wchanFile = "/proc/" + std::to_string(pid) + "/wchan";
        // Until the host waits in the FIFO's open, as this kernel names it, or
        // the FIFO has filled (what it holds stays the same for 0.1 s); ten
        // seconds at most.
        for (int i = 0, queued = 0, before = -1; i < 1000; ++i) {
            const std::string wchan = reader ? "" : testsupport::ReadFile(wchanFile);
            if (reader && i % 10 == 0 && ::ioctl(held, FIONREAD, &queued) == 0 && queued > 0
                && std::exchange(before, queued) == queued)
                break;
            if (!reader && (wchan == "wait_for_partner" || wchan == "fifo_open"))
                break;
            ::usleep(10000);
        }
        ::kill(pid, SIGTERM);
        int waitStatus = 0;
        pid_t ended = 0;
        for (int i = 0; i < 500 && ended == 0; ++i) {
            ::usleep(10000);
            ended = ::waitpid(pid, &waitStatus, WNOHANG);
        }
        if (ended == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &waitStatus, 0);
        }
        EXPECT_EQ(ended, pid) << "still running 5 s after TERM, reader " << reader;
        EXPECT_EQ(testsupport::ExitStatus(waitStatus), 128 + SIGTERM) << reader;
        EXPECT_EQ(testsupport::ReadFile(errFile), "") << reader;
        if (held >= 0)
            ::close(held);
    }
}

TEST_F(Host, FailuresAreClearAndNotZero)
{
    writeTwoPhotoJob();
    Outcome run = host({job.folder() + "no/such/folder/show.y4m"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot create " + job.folder() + "no/such/folder/show.y4m"),
              std::string::npos)
        << run.err;

    // A folder as OUTPUT is found out before the show is served (no still is made).
    std::filesystem::create_directory(job.folder() + "folder.y4m");
    run = host({job.folder() + "folder.y4m", "--png", job.folder() + "folder-stills"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot create " + job.folder() + "folder.y4m: Is a directory"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(job.folder() + "folder-stills"));

    testsupport::WriteFile(job.folder() + "stills", "a file where the folder should go");
    run = host({job.folder() + "show.y4m", "--png", job.folder() + "stills"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot create the folder " + job.folder() + "stills/: Not a directory"),
              std::string::npos)
        << run.err;

    job.writeParams(0, 240, 1);
    run = host({});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("frames of 0 x 240 pixels"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");

    // A size no picture could have is the default one, as in the library.
    job.writeParams(2000000000, 2000000000, 1);
    run = host({});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("YUV4MPEG2 W352 H240 ")) << run.out.substr(0, 40);
}

// The stream and the stills are written under new names and renamed when
// complete: a link at a still's name is replaced, not written through; a link
// named as OUTPUT is refused; a run that fails keeps the file before it and
// leaves nothing beside it. A device named as OUTPUT is written to.
TEST_F(Host, NamesAreReplacedWholeAndLinksNeverWrittenThrough)
{
    writeTwoPhotoJob();
    const std::string victim = job.folder() + "victim.txt";
    testsupport::WriteFile(victim, "precious");
    const std::string stills = job.folder() + "stills/";
    std::filesystem::create_directory(stills);
    ASSERT_EQ(::symlink(victim.c_str(), (stills + "frame-000000.png").c_str()), 0);
    Outcome run = host({job.folder() + "show.y4m", "--png", stills, "--every", "30"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testsupport::ReadFile(victim), "precious");
    EXPECT_EQ(ReadPng(stills + "frame-000000.png").width, 352);

    const std::string link = job.folder() + "link.y4m";
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    run = host({link});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("symbolic link"), std::string::npos) << run.err;
    EXPECT_EQ(testsupport::ReadFile(victim), "precious");

    const std::string show = job.folder() + "show.y4m";
    testsupport::WriteFile(show, "the stream before");
    std::filesystem::remove(stills + "frame-000030.png");
    std::filesystem::create_directory(stills + "frame-000030.png");
    run = host({show, "--png", stills, "--every", "30"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("frame-000030.png"), std::string::npos) << run.err;
    EXPECT_EQ(testsupport::ReadFile(show), "the stream before");
    for (const std::string &folder : {job.folder(), stills})
        for (const auto &entry : std::filesystem::directory_iterator(folder))
            EXPECT_FALSE(entry.path().filename().string().ends_with(".new")) << entry.path();

    run = host({"/dev/null"});
    EXPECT_EQ(run.status, 0) << run.err;
}

// A link that another user planted on the way (in a folder of theirs in a
// shared one) would choose where the stream and the stills go, and which of
// this user's files they replace.
TEST_F(Host, AnotherUsersLinkOnTheWayIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to give a folder and a link away";
    writeTwoPhotoJob();
    const std::string mine = job.folder() + "mine/";
    testsupport::MakeFolder(mine);
    testsupport::WriteFile(mine + "show.y4m", "precious");
    const std::string theirs = job.folder() + "theirs";
    testsupport::MakeFolder(theirs);
    const std::string planted = theirs + "/out";
    ASSERT_EQ(::symlink(mine.c_str(), planted.c_str()), 0);
    ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);

    Outcome run = host({planted + "/show.y4m"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot create " + planted + "/show.y4m: it leads through \"" + planted
                           + "\", a link that another user made"),
              std::string::npos)
        << run.err;
    run = host({"/dev/null", "--png", planted, "--every", "30"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("a link that another user made"), std::string::npos) << run.err;
    EXPECT_EQ(testsupport::ReadFile(mine + "show.y4m"), "precious");
    EXPECT_FALSE(testsupport::Exists(mine + "frame-000000.png"));

    // The user's own link is followed.
    ASSERT_EQ(::lchown(planted.c_str(), 0, 0), 0);
    ASSERT_EQ(::chown(theirs.c_str(), 0, 0), 0);
    run = host({planted + "/show.y4m", "--png", planted, "--every", "30"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(testsupport::ReadFile(mine + "show.y4m").starts_with("YUV4MPEG2 "));
    EXPECT_TRUE(testsupport::Exists(mine + "frame-000030.png"));
}

TEST_F(Host, ServesTheJobOfAJobFolderOfItsChoosing)
{
    // The job files of quillon-render --job-folder, and a default job beside.
    writeTwoPhotoJob();
    const std::string batch = job.folder() + "batch/";
    testsupport::MakeFolder(batch);
    ::chmod(batch.c_str(), 0700);
    testsupport::WriteFile(batch + "param.ini", "[Temp]\r\nOutputWidth=64\r\nInterval=1\r\n");
    testsupport::WriteFile(batch + "pelloryfilelist.txt", job.folder() + "red.jpg\r\n");
    const std::string file = job.folder() + "batch.y4m";
    Outcome run = host({file, "--job-folder", batch});
    ASSERT_EQ(run.status, 0) << run.err;
    Stream stream;
    ASSERT_TRUE(Parse(testsupport::ReadFile(file), stream));
    EXPECT_EQ(stream.header, "YUV4MPEG2 W64 H240 F30:1 Ip A1:1 C420jpeg\n");
    EXPECT_EQ(stream.frames.size(), 30u);

    // A folder that others may enter is not read.
    ::chmod(batch.c_str(), 0755);
    run = host({file, "--job-folder", batch});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "brindle-host: The job folder \"" + batch
                           + "\" cannot be used: others may enter it (mode 0755).\n");

    // A mistyped folder is named, not made and served as an empty show.
    const std::string typo = job.folder() + "bacth/";
    run = host({file, "--job-folder", typo});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "brindle-host: cannot read the job folder " + typo + ": No such file or directory\n");
    EXPECT_FALSE(testsupport::Exists(typo));
}

TEST_F(Host, WrongArgumentsShowTheUsage)
{
    for (const auto &args : std::vector<std::vector<std::string>>{{"--every", "0", "--png", "x"},
                                                                  {"--every", "3"},
                                                                  {"--png"},
                                                                  {"--frames", "3"},
                                                                  {"a.y4m", "b.y4m"},
                                                                  {""}}) {
        const Outcome run = host(args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
        EXPECT_NE(run.err.find("Usage: brindle-host"), std::string::npos);
        EXPECT_EQ(run.out, "");
    }
    const Outcome help = host({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("brindle-host | ffplay -"), std::string::npos);
}

// A copy of the host in a folder of its own finds its libraries through
// $ORIGIN/../lib: there we take libbrindle.so away or put in a lame one.
class LoneHost : public ::testing::Test
{
protected:
    LoneHost()
    {
        namespace fs = std::filesystem;
        fs::create_directories(root + "bin");
        fs::create_directories(root + "lib");
        fs::copy_file(BRINDLE_HOST, root + "bin/brindle-host");
        fs::create_symlink(fs::canonical(WIN32_LIBRARY), root + "lib/libquillon-win32.so");
    }

    Job job;
    const std::string root = job.folder() + "alone/";
};

TEST_F(LoneHost, WithoutTheLibraryItSaysSo)
{
    const Outcome run = RunProgram(root + "bin/brindle-host", {}, job.folder());
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("brindle-host: cannot load libbrindle.so"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(LoneHost, WithoutAnExportItNamesIt)
{
    std::filesystem::copy_file(MISSING_EXPORT_LIBRARY, root + "lib/libbrindle.so");
    const Outcome run = RunProgram(root + "bin/brindle-host", {}, job.folder());
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "brindle-host: libbrindle.so has no export FreeEffectManager\n");
    EXPECT_EQ(run.out, "");
}
