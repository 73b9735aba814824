#pragma once

#include "platform/media/com.h"

namespace media::detail {

// Makes an object of one of the classes that CoCreateInstance knows.
HRESULT CreateObject(REFCLSID clsid, REFIID riid, void **object);

} // namespace media::detail
