#include "frameserver/photo_list.h"

#include "platform/win32/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {

PhotoList::PhotoList(std::string text)
    : text_(std::move(text))
{
    if (const auto nul = text_.find('\0'); nul != std::string::npos)
        text_.resize(nul);
    if (text_.size() > std::numeric_limits<std::uint32_t>::max()) {
        text_.clear();
        return;
    }
    std::size_t lines = 0;
    for (std::size_t at = 0; at < text_.size(); ++at)
        lines += text_[at] == '\n'
                 || (text_[at] == '\r' && (at + 1 == text_.size() || text_[at + 1] != '\n'));
    ends_.reserve(lines + 1);

    // Entries move down over the line breaks before them; the write position
    // never passes the read position.
    std::size_t write = 0;
    std::size_t read = 0;
    while (read < text_.size()) {
        const std::size_t stop = text_.find_first_of("\r\n", read);
        const std::size_t end = stop == std::string::npos ? text_.size() : stop;
        std::copy(text_.begin() + static_cast<std::ptrdiff_t>(read),
                  text_.begin() + static_cast<std::ptrdiff_t>(end),
                  text_.begin() + static_cast<std::ptrdiff_t>(write));
        write += end - read;
        ends_.push_back(static_cast<std::uint32_t>(write));
        if (stop == std::string::npos)
            break;
        read = stop + 1;
        if (text_[stop] == '\r' && read < text_.size() && text_[read] == '\n')
            ++read;
    }
    text_.resize(write);
}

std::vector<std::string> PhotoList::entries() const
{
    std::vector<std::string> all;
    all.reserve(size());
    for (std::size_t i = 0; i < size(); ++i)
        all.emplace_back((*this)[i]);
    return all;
}

std::vector<std::string> SplitPhotoList(std::string_view text)
{
    return PhotoList(std::string(text)).entries();
}

PhotoList LoadPhotoList(const std::string &path)
{
    const int fd = win32::OpenInputFile(path);
    if (fd < 0)
        return {};
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st
    {};
    bool ok = ::fstat(fd, &st) == 0;
    // Read up to the first NUL, which ends the list, so that a file of zeros
    // (a sparse one claims gigabytes for nothing) costs nothing; and no more
    // than the file held when it was opened, should it grow.
    const std::uint64_t size = ok ? static_cast<std::uint64_t>(st.st_size) : 0;
    // The piece read at a time is on the heap: a host's thread may have a
    // small stack (64 KiB is common).
    constexpr std::size_t kPiece = 65536;
    std::string text;
    const std::unique_ptr<char[]> piece(new char[kPiece]);
    char *buffer = piece.get();
    while (ok && text.size() < size) {
        const ssize_t n = ::read(fd, buffer, std::min<std::uint64_t>(kPiece, size - text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        const auto *nul = static_cast<const char *>(std::memchr(buffer, '\0', n));
        text.append(buffer,
                    nul ? static_cast<std::size_t>(nul - buffer) : static_cast<std::size_t>(n));
        if (nul)
            break;
        ok = text.size() <= std::numeric_limits<std::uint32_t>::max();
    }
    return ok ? PhotoList(std::move(text)) : PhotoList();
}

} // namespace brindle
