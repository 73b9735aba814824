// Brindle, the frame server: serves the slide show of the last movie job frame
// by frame to a host that owns a device context. The host loads libbrindle.so,
// binds these three exports by name and calls InitEffectManager once, then
// GetEffectBitmap once per frame until it returns 0, then FreeEffectManager.
// Calls come from one host thread; no export lets an error out.
#pragma once

#include "platform/win32/types.h"

#include <cstdint>

#define BRINDLE_API extern "C" __attribute__((visibility("default")))

// Reads "param.ini" and "pelloryfilelist.txt" from the temporary folder and
// starts at frame 0. Always -1.
BRINDLE_API std::int32_t InitEffectManager();

// Draws the next frame into `hdc` and returns 1; returns 0 (drawing nothing)
// after the last frame, and the next call starts again from frame 0. Before
// InitEffectManager it returns 1 and draws nothing.
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

} // namespace brindle
