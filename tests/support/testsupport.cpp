#include "testsupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
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
            boxes_.push_back({text, caption, type});
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

} // namespace testsupport
