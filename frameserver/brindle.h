// Brindle, the frame server: serves the slide show of the last movie job frame
// by frame to a host that owns a device context. The host loads libbrindle.so,
// binds these three exports by name and calls InitEffectManager once, then
// GetEffectBitmap once per frame until it returns 0, then FreeEffectManager.
// Calls may come from any thread; they are served one at a time, so a show
// run from two threads at once shares one frame count. No export lets an
// error out.
#pragma once

#include "platform/win32/types.h"

#include <cstdint>

#define BRINDLE_API extern "C" __attribute__((visibility("default")))

// Reads "param.ini" and "pelloryfilelist.txt" from the temporary folder (the
// user's job folder) and starts at frame 0; when that folder is refused the
// show is empty. Every value comes from one read of "param.ini" (a host that
// pins the file with win32::PinProfile gets exactly its own values), and a
// "param.ini" replaced while the list was read is read again with the list.
// Always -1. When memory runs out the show is empty and the thread's last
// error (win32::GetLastError) is ERROR_NOT_ENOUGH_MEMORY; else ERROR_SUCCESS.
BRINDLE_API std::int32_t InitEffectManager();

// Draws the next frame into `hdc` and returns 1; returns 0 (drawing nothing)
// after the last frame, and the next call starts again from frame 0. Before
// InitEffectManager, and after FreeEffectManager until the next
// InitEffectManager, it returns 1 and draws nothing: a host that calls it until
// it returns 0 must do so between the two. A frame that memory ran out for is
// black or not drawn, and the last error is then ERROR_NOT_ENOUGH_MEMORY; one
// whose photo could not be opened for want of file descriptors is black with
// ERROR_TOO_MANY_OPEN_FILES (else ERROR_SUCCESS); such a photo is tried again
// for the next frame.
BRINDLE_API std::int32_t GetEffectBitmap(HDC hdc);

// Releases what InitEffectManager made. Always -1.
BRINDLE_API std::int32_t FreeEffectManager();

namespace brindle {

// What a host binds with dlsym.
using InitEffectManagerProc = std::int32_t (*)();
using GetEffectBitmapProc = std::int32_t (*)(HDC);
using FreeEffectManagerProc = std::int32_t (*)();

inline constexpr const char *kLibraryName = "libbrindle.so";
inline constexpr int kFramesPerSecond = 30;

// The frame size when "param.ini" names none.
inline constexpr int kDefaultWidth = 352;
inline constexpr int kDefaultHeight = 240;
// The seconds that each photo stays when "param.ini" names none.
inline constexpr int kDefaultInterval = 2;
// No picture is larger on either side; a frame of 25000 × 28000 would cost
// gigabytes before a single photo is drawn.
inline constexpr int kLargestSide = 8192;

// The side of the frame that a value of "param.ini" gives: a value beyond
// kLargestSide takes the default, as a missing one does.
constexpr int FrameSide(int value, int defaultValue)
{
    return value > kLargestSide ? defaultValue : value;
}

} // namespace brindle
