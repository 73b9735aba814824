// Running photo2Avi the way the program does: on a worker thread, while this
// thread owns the window that the progress messages go to.
#pragma once

#include "platform/win32/types.h"
#include "renderer/mureline.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace rendertest {

struct RenderRun
{
    int result = 0;
    std::vector<std::pair<WPARAM, LPARAM>> progress; // every WM_COMPRESS_POSITION
    std::vector<std::string> messages;               // every message box, in order
    std::vector<bool> movieAtMessage;          // whether the movie file stood when each box showed
    std::vector<std::size_t> entriesAtMessage; // what the movie's folder held then
};

// `onProgress`, when given, runs on this thread at every progress message.
// With `options`, photo2AviEx is called with them instead of photo2Avi.
RenderRun RunPhoto2Avi(const std::string &movie, int compressor, const std::string &sound = "",
                       std::function<void()> onProgress = {},
                       const MurelineOptions *options = nullptr);

} // namespace rendertest
