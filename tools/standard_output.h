// What a command-line run printed must reach standard output: a movie's path
// that a script captures, or --help, lost to a full disk or a closed stream,
// fails the run. A reader that has gone away does not: pipelines end that way.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace toolsoutput {

// `status`, or a failure (1 for a run that had succeeded) once `program` has
// said on standard error why standard output did not take what was printed.
inline int WithStandardOutput(const char *program, int status)
{
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    const int error = errno ? errno : EIO;
    if (error == EPIPE)
        return status;
    std::fprintf(stderr, "%s: cannot write standard output: %s\n", program, std::strerror(error));
    return status == 0 ? 1 : status;
}

} // namespace toolsoutput
