// A sound file opened once, when it was checked to be a plain file, and read
// again through that descriptor: whatever takes its name afterwards (a FIFO,
// another file) is never opened in its place.
#pragma once

#include "platform/media/com.h"

#include <memory>
#include <string>
#include <unistd.h>

namespace media::detail {

class HeldFile
{
public:
    explicit HeldFile(int fd)
        : fd_(fd)
    {}
    ~HeldFile() { ::close(fd_); }
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    // A name that opens the same file afresh, from its start.
    std::string openName() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

// Opens `path` when it is a plain file (a FIFO or a device would block the graph
// for good); null with the failure and the reason for the user otherwise.
std::shared_ptr<const HeldFile> HoldInputFile(const std::string &path, HRESULT *hr,
                                              std::string *reason);

} // namespace media::detail
