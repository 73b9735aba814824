// The worker's side of a run: the call into the renderer with the record's
// values, and the names of the video compressors in the renderer's order.
#pragma once

#include "app/job/job.h"
#include "platform/win32/types.h"

#include <atomic>
#include <string>
#include <vector>

namespace quillon {

// Calls photo2Avi for the record: the movie path, 720 × 480 (not consulted), the
// compressor position, the duration and the sound file. Returns its result; a
// negative one is a failure the renderer has already reported. With a
// `stopRequest` the render stops once it holds a non-zero value and returns
// MURELINE_STOPPED.
int RenderMovie(HWND notifyWindow, const TWorkThreadInfo &job,
                const std::atomic<int> *stopRequest = nullptr);

// The friendly names of the video compressor category, in its order.
std::vector<std::string> VideoCompressorNames();

} // namespace quillon
