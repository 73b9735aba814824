#include "renderer/lookup.h"

#include "platform/win32/messagebox.h"

namespace mureline {

void ShowMessage(const char *text)
{
    win32::MessageBoxA(nullptr, text, "Mureline", win32::MB_OK);
}

void GetCompressor(int index, IBaseFilter **filter)
{
    if (!filter) {
        ShowMessage("GetCompressor received invalid pointer");
        return;
    }
    *filter = nullptr;

    ComPtr<ICreateDevEnum> devices;
    if (FAILED(media::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ICreateDevEnum, devices.PutVoid()))) {
        ShowMessage("Failed to create system enumerator");
        return;
    }
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, monikers.Put(), 0))) {
        ShowMessage("Failed to create class enumerator");
        return;
    }
    if (!monikers)
        return; // an empty category: no compressor, nothing to say

    monikers->Reset();
    // A negative index never counts down to 0, so it finds nothing.
    long remaining = index;
    for (;;) {
        ComPtr<IMoniker> moniker;
        monikers->Next(1, moniker.Put(), nullptr);
        if (!moniker)
            return;
        if (remaining != 0) {
            --remaining;
            continue;
        }
        if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                         reinterpret_cast<void **>(filter)))) {
            *filter = nullptr;
            ShowMessage("Failed to bind to object");
        }
        return;
    }
}

HRESULT PinByDirection(IBaseFilter *filter, PIN_DIRECTION direction, int index, IPin **pin)
{
    if (!pin)
        return E_POINTER;
    *pin = nullptr;
    if (!filter)
        return E_POINTER;
    ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(pins.Put());
    if (FAILED(hr))
        return hr;

    hr = E_FAIL;
    long remaining = index;
    for (;;) {
        ComPtr<IPin> candidate;
        if (pins->Next(1, candidate.Put(), nullptr) != S_OK)
            break;
        // A pin that cannot tell its direction matches neither.
        PIN_DIRECTION actual = static_cast<PIN_DIRECTION>(3);
        candidate->QueryDirection(&actual);
        if (actual != direction)
            continue;
        if (remaining == 0) {
            *pin = candidate.Detach(); // the enumeration's reference passes to the caller
            hr = S_OK;
            break;
        }
        --remaining;
    }
    return hr;
}

IPin *InputPinAt(IBaseFilter *filter, int index)
{
    IPin *pin = nullptr;
    PinByDirection(filter, PINDIR_INPUT, index, &pin);
    return pin;
}

IPin *OutputPinAt(IBaseFilter *filter, int index)
{
    IPin *pin = nullptr;
    PinByDirection(filter, PINDIR_OUTPUT, index, &pin);
    return pin;
}

} // namespace mureline
