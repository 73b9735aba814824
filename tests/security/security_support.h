// What the tests of a shared machine need: a second, unprivileged user, the
// kernel's link protections out of the way (so that the tests show the
// programs are safe without them), and programs run as either user, waited
// for or in the background.
#pragma once

#include "testsupport.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace securitytest {

struct User
{
    uid_t uid = 0;
    gid_t gid = 0;
};

// The unprivileged user "quillon-second", made when missing. nullopt, with
// `why`, when the tests do not run as root or the user cannot be made.
std::optional<User> SecondUser(std::string *why);

// The command that runs `program` with `args` as `user` (nullopt: as this
// process's user), with $TMPDIR set to `tmpdir`.
std::vector<std::string> Command(const std::optional<User> &user, const std::string &tmpdir,
                                 const std::string &program, const std::vector<std::string> &args);

// Runs a command made by Command, killed after a minute (a program that hangs
// is a failure, not a test that never ends).
testsupport::MeasuredOutcome RunCommand(const std::vector<std::string> &command,
                                        const std::string &scratch);

// A command running in the background; killed if it still runs when destroyed.
class Background
{
public:
    Background(const std::vector<std::string> &command, const std::string &scratch);
    ~Background();
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;

    // Waits until standard error holds `text`; false when the program ended
    // (or a minute passed) first.
    bool waitForError(const std::string &text);
    void signal(int number);
    testsupport::Outcome wait();

private:
    pid_t pid_ = -1;
    std::string outFile_;
    std::string errFile_;
};

// Turns fs.protected_symlinks, protected_regular and protected_fifos off while
// it lives, and back to what they were afterwards.
class LinkProtectionsOff
{
public:
    LinkProtectionsOff();
    ~LinkProtectionsOff();
    // Empty when they are off; otherwise why they could not be turned off.
    const std::string &problem() const { return problem_; }

private:
    std::vector<std::pair<std::string, std::string>> restore_;
    std::string problem_;
};

} // namespace securitytest
