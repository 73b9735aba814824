#include "app/job/app_define.h"

#include "platform/win32/files.h"

namespace quillon {

std::string GetTempDirectory()
{
    std::string path = win32::GetTempPathA();
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

} // namespace quillon
