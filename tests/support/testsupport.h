// Shared set-up for the tests: a private temporary folder that also stands in
// as the system's temporary folder, file helpers and a message-box recorder.
#pragma once

#include "platform/win32/messagebox.h"
#include "platform/win32/shell.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Set in a build with AddressSanitizer or ThreadSanitizer, whose runtimes make
// system calls of their own (writes among them) that a test may count.
// GCC names them with macros, clang with __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILLON_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUILLON_TEST_SANITIZED 1
#endif
#endif

namespace testsupport {

// A fresh folder, removed with everything in it at the end of the test. While it
// lives, $TMPDIR points at it, so the job folder (and with it the job files and
// the script) lies inside.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; } // ends in '/'
    std::string file(const std::string &name) const { return path_ + name; }
    // `name` in the job folder, the user's own folder inside this one that the
    // system takes as its temporary folder (made when missing).
    std::string job(const std::string &name) const;

private:
    std::string path_;
    std::string oldTmpdir_;
    bool hadTmpdir_ = false;
};

// The job folder that a program started with $TMPDIR set to `tmpdir` uses,
// made now (it ends in '/').
std::string JobFolderIn(const std::string &tmpdir);

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
// One of this process's I/O counts from the kernel's own accounting
// (/proc/self/io: "rchar" bytes read, "syscr" read calls...); -1 where the
// kernel keeps none. Reading them is itself a read or two.
long long IoCount(const std::string &name);
bool Exists(const std::string &path);
void MakeFolder(const std::string &path);
// A small tmpfs mounted on a folder (made when missing) for the life of the
// object, its top folder of `mode`; when this machine does not let the test
// mount one, mounted() is false and why() says why.
class SmallFileSystem
{
public:
    SmallFileSystem(const std::string &folder, long long bytes, bool readOnly = false,
                    unsigned mode = 01777);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool mounted() const { return mounted_; }
    const std::string &why() const { return why_; }
    // Fills the file system until no more than `room` bytes are left; false
    // when the filler file cannot be made.
    bool fill(long long room) const;

private:
    std::string folder_;
    bool mounted_ = false;
    std::string why_;
};

// Sets the times of `path` itself (a link is not followed) an hour back, as
// of a file nothing has written to for a while. False when it cannot.
bool MakeHourOld(const std::string &path);

struct Outcome
{
    int status = -1; // the exit status; 128 + the signal when killed
    std::string out;
    std::string err;
};

// The status a shell shows for a process that ended with `waitStatus`: its exit
// status, or 128 + the signal that killed it.
int ExitStatus(int waitStatus);

// Starts `program` with `args`, its standard output and error going to the
// files `outFile` and `errFile`, and the environment passed on; its process id.
pid_t StartProgram(const std::string &program, const std::vector<std::string> &args,
                   const std::string &outFile, const std::string &errFile);

// Runs `program` with `args` and waits for it; standard output and error are
// caught in files of the folder `scratch`. The environment (with the test's
// TMPDIR) is passed on.
Outcome RunProgram(const std::string &program, const std::vector<std::string> &args,
                   const std::string &scratch);

struct MeasuredOutcome : Outcome
{
    bool timedOut = false;  // killed when the time was up
    long peakKilobytes = 0; // the most resident memory the process had
};

// Like RunProgram, but the program is killed when it has not ended within
// `timeoutSeconds`, and its peak resident memory is measured. `fileSizeLimit`,
// when not 0, is the largest file the program may write (RLIMIT_FSIZE; a write
// past it fails with EFBIG instead of ending the program).
MeasuredOutcome RunProgramWithin(const std::string &program, const std::vector<std::string> &args,
                                 const std::string &scratch, int timeoutSeconds,
                                 long long fileSizeLimit = 0);

// The folder of the repository's sources (samples, test data).
std::string SourceDir();

struct RecordedBox
{
    std::string text;
    std::string caption;
    unsigned type = 0;
    // A task dialog's text below its main text.
    std::string detail;
};

// Records every message box instead of showing it, answering `answer` (or the
// box's default button when answer is 0).
class MessageBoxRecorder
{
public:
    explicit MessageBoxRecorder(int answer = 0);
    ~MessageBoxRecorder();

    std::vector<RecordedBox> boxes() const;
    std::vector<std::string> texts() const;

private:
    mutable std::mutex mutex_;
    std::vector<RecordedBox> boxes_;
    win32::MessageBoxHandler previous_;
};

// Answers the shell's folder chooser from a queue, one answer a request (nullopt
// is a cancel; an empty queue cancels), and keeps the requests.
class FolderChooserAnswers
{
public:
    explicit FolderChooserAnswers(std::deque<std::optional<std::string>> answers = {});
    ~FolderChooserAnswers();
    FolderChooserAnswers(const FolderChooserAnswers &) = delete;
    FolderChooserAnswers &operator=(const FolderChooserAnswers &) = delete;

    void add(std::optional<std::string> answer);
    std::vector<win32::BROWSEINFOA> requests() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::optional<std::string>> answers_;
    std::vector<win32::BROWSEINFOA> requests_;
    win32::FolderChooser previous_;
};

// Records every ShellExecuteA instead of starting anything; answers success.
class ShellRecorder
{
public:
    ShellRecorder();
    ~ShellRecorder();
    ShellRecorder(const ShellRecorder &) = delete;
    ShellRecorder &operator=(const ShellRecorder &) = delete;

    std::vector<win32::ShellRequest> requests() const;
    // What every request answers: above 32 when the desktop opened the file.
    std::atomic<std::intptr_t> result{42};

private:
    mutable std::mutex mutex_;
    std::vector<win32::ShellRequest> requests_;
    win32::ShellHandler previous_;
};

} // namespace testsupport
