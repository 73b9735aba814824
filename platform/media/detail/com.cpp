#include "platform/media/com.h"

#include "platform/media/detail/builders.h"
#include "platform/media/detail/object.h"

#include <cstdlib>
#include <cstring>

namespace media {

namespace {

std::atomic<long> liveObjects{0};
thread_local int initialised = 0;

} // namespace

namespace detail {

RefCounted::RefCounted()
{
    liveObjects.fetch_add(1, std::memory_order_relaxed);
}

RefCounted::~RefCounted()
{
    liveObjects.fetch_sub(1, std::memory_order_relaxed);
}

} // namespace detail

long LiveComObjects()
{
    return liveObjects.load();
}

HRESULT CoInitialize(void *)
{
    return initialised++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize()
{
    if (initialised > 0)
        --initialised;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!(context & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    return detail::CreateObject(clsid, riid, object);
}

void *CoTaskMemAlloc(std::size_t size)
{
    return std::malloc(size ? size : 1);
}

void CoTaskMemFree(void *memory)
{
    std::free(memory);
}

// A BSTR points just past a 32-bit byte count and ends in a 0 that the count
// leaves out.
BSTR SysAllocStringLen(const OLECHAR *text, unsigned length)
{
    const std::size_t bytes = std::size_t(length) * sizeof(OLECHAR);
    auto *block = static_cast<unsigned char *>(
        std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    const auto count = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &count, sizeof count);
    auto *chars = reinterpret_cast<OLECHAR *>(block + sizeof(std::uint32_t));
    if (text)
        std::memcpy(chars, text, bytes);
    else
        std::memset(chars, 0, bytes);
    chars[length] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR *text)
{
    if (!text)
        return nullptr;
    unsigned length = 0;
    while (text[length])
        ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text)
{
    if (text)
        std::free(reinterpret_cast<unsigned char *>(text) - sizeof(std::uint32_t));
}

unsigned SysStringLen(BSTR text)
{
    if (!text)
        return 0;
    std::uint32_t count;
    std::memcpy(&count, reinterpret_cast<unsigned char *>(text) - sizeof count, sizeof count);
    return count / sizeof(OLECHAR);
}

void VariantInit(VARIANT *var)
{
    if (var) {
        var->vt = VT_EMPTY;
        var->bstrVal = nullptr;
    }
}

HRESULT VariantClear(VARIANT *var)
{
    if (!var)
        return E_POINTER;
    if (var->vt == VT_BSTR)
        SysFreeString(var->bstrVal);
    var->vt = VT_EMPTY;
    var->bstrVal = nullptr;
    return S_OK;
}

} // namespace media
