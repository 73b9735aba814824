// Mureline, the renderer library: renders the slide-show script into an AVI
// movie and reports progress to a window.
#pragma once

#include "platform/win32/types.h"

#include <atomic>
#include <cstdint>

#define MURELINE_API __attribute__((visibility("default")))

extern "C" {

// The result of a render that ended because its caller asked it to stop.
inline constexpr int MURELINE_STOPPED = -2;

// Choices beyond photo2Avi's arguments. A caller sets `size` to the size of the
// struct it was built with; fields beyond that size take their defaults, so a
// caller built against an older, shorter struct keeps working. New fields are
// only ever appended.
struct MurelineOptions
{
    // sizeof(MurelineOptions) as the caller knows it.
    std::uint32_t size;
    // When not null, a non-zero value asks the render to stop (a signal handler
    // or another thread may set it); it is looked at least every 100 ms.
    const std::atomic<int> *stopRequest;
    // The movie's container: MURELINE_CONTAINER_AVI (0, the default), _MP4,
    // _MATROSKA or _WEBM. The caller names the file; its extension is not consulted.
    int container;
    // When `soundFileCount` is above 0: the sound tracks, played one after another,
    // in place of `soundFile`.
    const char *const *soundFiles;
    int soundFileCount;
    // How the sound ends against the pictures: MURELINE_SOUND_CUT (0, the default:
    // cut where the pictures end, with a short fade-out), _KEEP or _LOOP.
    int soundEnd;
};

inline constexpr int MURELINE_CONTAINER_AVI = 0;
inline constexpr int MURELINE_CONTAINER_MP4 = 1;
inline constexpr int MURELINE_CONTAINER_MATROSKA = 2;
inline constexpr int MURELINE_CONTAINER_WEBM = 3;

inline constexpr int MURELINE_SOUND_CUT = 0;
inline constexpr int MURELINE_SOUND_KEEP = 1;
inline constexpr int MURELINE_SOUND_LOOP = 2;

// Renders the script at the fixed script path into `outputFile` with the video
// compressor at `compressorIndex` of the video compressor category and, when
// `soundFile` is not empty, that WAV file as sound track. While the render
// runs, the registered message "WM_COMPRESS_POSITION" is sent to `notifyWindow`
// (wParam: stream position in milliseconds, lParam: 0).
//
// The movie is made under a temporary name in the output folder and takes the
// name `outputFile` only when it is complete: until then an earlier movie of
// that name stays as it was, and a run that fails or is stopped leaves it so.
// A read-only movie is not replaced. Shows its own message box for every
// failure. Returns 0 when the movie is complete, MURELINE_STOPPED (without a
// message) when it was stopped on request, -1 otherwise. `options` may be null.
MURELINE_API int photo2AviEx(HWND notifyWindow, const char *outputFile, int compressorIndex,
                             const char *soundFile, const MurelineOptions *options);

// photo2AviEx with the default options. `frameWidth`, `frameHeight` and
// `durationSeconds` are not consulted.
MURELINE_API int photo2Avi(HWND notifyWindow, const char *outputFile, int frameWidth,
                           int frameHeight, int compressorIndex, int durationSeconds,
                           const char *soundFile);
}
