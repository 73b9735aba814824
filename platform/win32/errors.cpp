#include "platform/win32/errors.h"

namespace win32 {

namespace {

// One for each thread, shared by every library of the process.
thread_local DWORD lastError = ERROR_SUCCESS;

} // namespace

void SetLastError(DWORD error)
{
    lastError = error;
}

DWORD GetLastError()
{
    return lastError;
}

} // namespace win32
