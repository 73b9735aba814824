#include "testsupport.h"

#include "platform/win32/tempfolder.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace testsupport {

TempDir::TempDir()
{
    std::string base = "/tmp";
    std::string pattern = base + "/quillon-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern + "/";
    if (const char *old = std::getenv("TMPDIR")) {
        hadTmpdir_ = true;
        oldTmpdir_ = old;
    }
    ::setenv("TMPDIR", path_.c_str(), 1);
}

TempDir::~TempDir()
{
    if (hadTmpdir_)
        ::setenv("TMPDIR", oldTmpdir_.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::job(const std::string &name) const
{
    const std::string folder = win32::GetTempPathA();
    if (folder.empty())
        throw std::runtime_error(win32::TempFolderProblem());
    return folder + name;
}

std::string JobFolderIn(const std::string &tmpdir)
{
    const char *old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    const std::string folder = win32::GetTempPathA();
    const std::string problem = win32::TempFolderProblem();
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    if (folder.empty())
        throw std::runtime_error(problem);
    return folder;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

long long IoCount(const std::string &name)
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == name + ":")
            return value;
    return -1;
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out << bytes;
}

bool Exists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

void MakeFolder(const std::string &path)
{
    std::filesystem::create_directories(path);
}

SmallFileSystem::SmallFileSystem(const std::string &folder, long long bytes, bool readOnly,
                                 unsigned mode)
    : folder_(folder)
{
    MakeFolder(folder);
    char options[64];
    std::snprintf(options, sizeof options, "size=%lld,mode=%o", bytes, mode);
    if (::mount("tmpfs", folder.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options) == 0)
        mounted_ = true;
    else
        why_ = std::strerror(errno);
}

SmallFileSystem::~SmallFileSystem()
{
    if (mounted_)
        ::umount2(folder_.c_str(), MNT_DETACH);
}

bool SmallFileSystem::fill(long long room) const
{
    std::FILE *file = std::fopen((folder_ + "/filler").c_str(), "wb");
    if (!file)
        return false;
    const std::string block(4096, 'x');
    std::error_code ec;
    while (std::filesystem::space(folder_, ec).available > static_cast<std::uintmax_t>(room)
           && std::fwrite(block.data(), 1, block.size(), file) == block.size()
           && std::fflush(file) == 0) {
    }
    std::fclose(file);
    return true;
}

bool MakeHourOld(const std::string &path)
{
    const timespec hourAgo{::time(nullptr) - 3600, 0}, times[2] = {hourAgo, hourAgo};
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

int ExitStatus(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    return 128 + WTERMSIG(waitStatus);
}

// Pointers into `all` ending with a null one, as exec wants them.
static std::vector<char *> ArgumentVector(std::vector<std::string> &all)
{
    std::vector<char *> argv;
    for (auto &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

pid_t StartProgram(const std::string &program, const std::vector<std::string> &args,
                   const std::string &outFile, const std::string &errFile)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv = ArgumentVector(all);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + program);
    return pid;
}

Outcome RunProgram(const std::string &program, const std::vector<std::string> &args,
                   const std::string &scratch)
{
    const std::string outFile = scratch + "run.out", errFile = scratch + "run.err";
    const pid_t pid = StartProgram(program, args, outFile, errFile);
    int waitStatus = 0;
    waitpid(pid, &waitStatus, 0);
    Outcome outcome;
    outcome.status = ExitStatus(waitStatus);
    outcome.out = testsupport::ReadFile(outFile);
    outcome.err = testsupport::ReadFile(errFile);
    return outcome;
}

MeasuredOutcome RunProgramWithin(const std::string &program, const std::vector<std::string> &args,
                                 const std::string &scratch, int timeoutSeconds,
                                 long long fileSizeLimit)
{
    const std::string outFile = scratch + "run.out", errFile = scratch + "run.err";
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv = ArgumentVector(all);

    // Everything the child needs is made before fork: after it, only calls that
    // are safe in a copy of a threaded process.
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || err < 0)
        throw std::runtime_error("cannot create the output files in " + scratch);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (fileSizeLimit > 0) {
            const struct rlimit limit
            {
                static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)
            };
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN); // stays ignored across exec
        }
        ::execve(program.c_str(), argv.data(), environ);
        ::_exit(127);
    }
    ::close(out);
    ::close(err);
    if (pid < 0)
        throw std::runtime_error("cannot start " + program);

    MeasuredOutcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int waitStatus = 0;
    struct rusage usage
    {};
    for (;;) {
        const pid_t done = ::wait4(pid, &waitStatus, WNOHANG, &usage);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &waitStatus, 0, &usage);
            outcome.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    outcome.status = ExitStatus(waitStatus);
    outcome.peakKilobytes = usage.ru_maxrss;
    outcome.out = testsupport::ReadFile(outFile);
    outcome.err = testsupport::ReadFile(errFile);
    return outcome;
}

std::string SourceDir()
{
    const char *dir = std::getenv("QUILLON_SOURCE_DIR");
    return dir ? dir : ".";
}

MessageBoxRecorder::MessageBoxRecorder(int answer)
{
    previous_ = win32::SetMessageBoxHandler(
        [this, answer](HWND, const std::string &text, const std::string &caption, UINT type) {
            std::lock_guard lock(mutex_);
            boxes_.push_back({text, caption, type, {}});
            return answer ? answer : win32::DefaultButton(type);
        });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    win32::SetMessageBoxHandler(std::move(previous_));
}

std::vector<RecordedBox> MessageBoxRecorder::boxes() const
{
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::vector<std::string> MessageBoxRecorder::texts() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (const auto &box : boxes_)
        result.push_back(box.text);
    return result;
}

FolderChooserAnswers::FolderChooserAnswers(std::deque<std::optional<std::string>> answers)
    : answers_(std::move(answers))
{
    previous_ = win32::SetFolderChooser([this](const win32::BROWSEINFOA &info) {
        std::lock_guard lock(mutex_);
        requests_.push_back(info);
        if (answers_.empty())
            return std::optional<std::string>();
        std::optional<std::string> next = std::move(answers_.front());
        answers_.pop_front();
        return next;
    });
}

FolderChooserAnswers::~FolderChooserAnswers()
{
    win32::SetFolderChooser(std::move(previous_));
}

void FolderChooserAnswers::add(std::optional<std::string> answer)
{
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(answer));
}

std::vector<win32::BROWSEINFOA> FolderChooserAnswers::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

ShellRecorder::ShellRecorder()
{
    previous_ = win32::SetShellHandler([this](const win32::ShellRequest &request) {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        return result.load();
    });
}

ShellRecorder::~ShellRecorder()
{
    win32::SetShellHandler(std::move(previous_));
}

std::vector<win32::ShellRequest> ShellRecorder::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

} // namespace testsupport

// The H.265 library keeps two small blocks of its own after its encoder is
// closed, whatever the caller does; the leak check would fail every test that
// encodes H.265.
extern "C" __attribute__((visibility("default"))) const char *__lsan_default_suppressions()
{
    return "leak:libx265.so\n";
}
