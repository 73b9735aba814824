#include "security_support.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <pwd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace securitytest {

namespace {

constexpr const char *kUserName = "quillon-second";
constexpr int kTimeoutSeconds = 60;

std::optional<User> LookUp()
{
    if (const struct passwd *entry = ::getpwnam(kUserName))
        return User{entry->pw_uid, entry->pw_gid};
    return std::nullopt;
}

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

std::optional<User> SecondUser(std::string *why)
{
    if (::geteuid() != 0) {
        *why = "these tests need root, to make and be a second user";
        return std::nullopt;
    }
    if (auto user = LookUp())
        return user;
    const testsupport::Outcome made = testsupport::RunProgram(
        "/usr/sbin/useradd",
        {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin", kUserName}, "/tmp/");
    if (auto user = LookUp())
        return user;
    *why = "useradd " + std::string(kUserName) + " failed: " + made.err;
    return std::nullopt;
}

std::vector<std::string> Command(const std::optional<User> &user, const std::string &tmpdir,
                                 const std::string &program, const std::vector<std::string> &args)
{
    std::vector<std::string> command;
    if (user)
        command = {"/usr/bin/setpriv", "--reuid=" + std::to_string(user->uid),
                   "--regid=" + std::to_string(user->gid), "--clear-groups", "--"};
    command.insert(command.end(), {"/usr/bin/env", "TMPDIR=" + tmpdir, program});
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

testsupport::MeasuredOutcome RunCommand(const std::vector<std::string> &command,
                                        const std::string &scratch)
{
    return testsupport::RunProgramWithin(
        command.front(), std::vector<std::string>(command.begin() + 1, command.end()), scratch,
        kTimeoutSeconds);
}

Background::Background(const std::vector<std::string> &command, const std::string &scratch)
    : outFile_(scratch + "background.out")
    , errFile_(scratch + "background.err")
{
    pid_ = testsupport::StartProgram(command.front(),
                                     std::vector<std::string>(command.begin() + 1, command.end()),
                                     outFile_, errFile_);
}

Background::~Background()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool Background::waitForError(const std::string &text)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (testsupport::ReadFile(errFile_).find(text) != std::string::npos)
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return testsupport::ReadFile(errFile_).find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void Background::signal(int number)
{
    if (pid_ > 0)
        ::kill(pid_, number);
}

testsupport::Outcome Background::wait()
{
    testsupport::Outcome outcome;
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_)
        outcome.status = testsupport::ExitStatus(status);
    pid_ = -1;
    outcome.out = testsupport::ReadFile(outFile_);
    outcome.err = testsupport::ReadFile(errFile_);
    return outcome;
}

LinkProtectionsOff::LinkProtectionsOff()
{
    for (const char *name : {"protected_symlinks", "protected_regular", "protected_fifos"}) {
        const std::string path = std::string("/proc/sys/fs/") + name;
        std::ifstream in(path);
        std::string value;
        if (!std::getline(in, value) || Trimmed(value) == "0")
            continue;
        std::ofstream out(path);
        out << "0\n";
        out.close();
        if (!out) {
            problem_ = "fs." + std::string(name) + " is " + value + " and cannot be turned off";
            return;
        }
        restore_.emplace_back(path, Trimmed(value));
    }
}

LinkProtectionsOff::~LinkProtectionsOff()
{
    for (const auto &[path, value] : restore_) {
        std::ofstream out(path);
        out << value << "\n";
    }
}

} // namespace securitytest
