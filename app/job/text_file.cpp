#include "app/job/text_file.h"

#include "platform/forms/errors.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quillon {

void SaveTextFile(const std::string &path, const std::string &text)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw forms::EFCreateError::forFile(path, errno);
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            int error = errno;
            ::close(fd);
            throw forms::EFCreateError::forFile(path, error);
        }
        done += static_cast<std::size_t>(put);
    }
    if (::close(fd) != 0)
        throw forms::EFCreateError::forFile(path, errno);
}

} // namespace quillon
