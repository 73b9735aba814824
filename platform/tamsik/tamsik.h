// Tamsik, the compressor-list library: lists the installed video compressors
// for a window and lets the user configure one of them.
//
// Both calls are for the thread that owns the window (the GUI thread). A dialog
// is owned by the Qt widget that the window's property "QWidget" names
// (win32::SetPropA); a window without it gets the application's active window.
#pragma once

#include "platform/win32/types.h"

#define TAMSIK_API __attribute__((visibility("default")))

extern "C" {

// Sends `window` one WM_COPYDATA message (wParam 0) whose block holds the
// names of the video compressor category in its order: a little-endian 32-bit
// count n, then n slots of 255 bytes, each a name that ends at its first NUL
// byte or fills the slot; 4 + 255 × n bytes. Returns n, or -1 when the list
// could not be made.
TAMSIK_API int GetCompressorsList(HWND window);

// Shows the settings of the compressor at position `index` of the category in a
// modal dialog owned by `window`, and saves them to the per-user compressor
// settings when the user confirms, so that the next render uses them. Returns
// TRUE when the dialog ran (confirmed or cancelled); FALSE, without a dialog,
// for an index outside the category or when there is no GUI, and FALSE when
// the confirmed settings could not be saved.
TAMSIK_API BOOL setCompressorProperty(HWND window, int index);
}
