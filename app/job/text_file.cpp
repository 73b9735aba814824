#include "app/job/text_file.h"

#include "platform/forms/errors.h"
#include "platform/win32/files.h"

namespace quillon {

void SaveTextFile(const std::string &path, const std::string &text, unsigned mode)
{
    // Replaced as a whole: a disk that fills up half way through leaves the
    // previous job's file as it was, not cut short.
    std::string reason;
    if (!win32::ReplaceFileContent(path, text, &reason, mode))
        throw forms::EFCreateError::forFile(path, reason);
}

} // namespace quillon
