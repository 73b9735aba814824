// Mureline, the renderer library: one export that renders the slide-show script
// into an AVI movie and reports progress to a window.
#pragma once

#include "platform/win32/types.h"

#define MURELINE_API __attribute__((visibility("default")))

extern "C" {

// Renders the script at the fixed script path into `outputFile` with the video
// compressor at `compressorIndex` of the video compressor category and, when
// `soundFile` is not empty, that WAV file as sound track. `frameWidth`,
// `frameHeight` and `durationSeconds` are not consulted. While the render runs,
// the registered message "WM_COMPRESS_POSITION" is sent to `notifyWindow`
// (wParam: stream position in milliseconds, lParam: 0). Shows its own message
// box for every failure. Returns 0 when the movie is complete, -1 otherwise.
MURELINE_API int photo2Avi(HWND notifyWindow, const char *outputFile, int frameWidth,
                           int frameHeight, int compressorIndex, int durationSeconds,
                           const char *soundFile);
}
