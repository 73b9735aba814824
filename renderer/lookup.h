// Finding the video compressor by its position in the video compressor
// category, and a filter's n-th pin of one direction.
#pragma once

#include "platform/media/dshow.h"

namespace mureline {

// Binds the compressor at `index` into `*filter` (one reference for the
// caller), or leaves it null: for an index outside the category, a negative one,
// or a compressor that cannot be bound. Shows a message for each failure of the
// enumeration; never stops the caller by itself.
void GetCompressor(int index, IBaseFilter **filter);

// The `index`-th pin of `direction` in the filter's enumeration order, in
// `*pin` (one reference for the caller) with S_OK; null with E_POINTER for a
// null filter, with E_FAIL when there is no such pin, or with EnumPins' failure.
HRESULT PinByDirection(IBaseFilter *filter, PIN_DIRECTION direction, int index, IPin **pin);

// PinByDirection without its result code: the pin (one reference) or null.
IPin *InputPinAt(IBaseFilter *filter, int index);
IPin *OutputPinAt(IBaseFilter *filter, int index);

// Shows `text` in a modal box with an OK button on the calling thread.
void ShowMessage(const char *text);

} // namespace mureline
