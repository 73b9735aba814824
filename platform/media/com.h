// The COM subset that the media graph is built on: GUIDs, HRESULTs, IUnknown
// with reference counting, class creation, task memory, BSTRs, VARIANTs and the
// moniker and property-bag interfaces of the system device enumerator.
//
// Objects are free-threaded; there are no apartments. Every interface pointer
// handed out carries one reference that its receiver releases exactly once.
// Our own code holds interface pointers in ComPtr and never counts by hand.
#pragma once

#include "platform/win32/types.h"

#include <cstddef>
#include <cstdint>
#include <utility>

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using LONGLONG = std::int64_t;
using LONG_PTR = std::intptr_t;
using REFERENCE_TIME = LONGLONG; // 100-nanosecond units

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR *;
using LPCOLESTR = const OLECHAR *;
using LPCWSTR = const char16_t *;
using LPWSTR = char16_t *;
using BSTR = OLECHAR *;

struct GUID
{
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend constexpr bool operator==(const GUID &a, const GUID &b)
    {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return false;
        return true;
    }
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID &;
using REFIID = const IID &;
using REFCLSID = const CLSID &;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);

// The Win32 error codes that file operations report, and their HRESULT form.
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr HRESULT HRESULT_FROM_WIN32(DWORD code)
{
    return code == 0 ? S_OK : static_cast<HRESULT>((code & 0xFFFF) | 0x80070000u);
}

constexpr bool SUCCEEDED(HRESULT hr)
{
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr)
{
    return hr < 0;
}

inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IMoniker{
    0x0000000F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumMoniker{
    0x00000102, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IPropertyBag{
    0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

// Each interface names its own IID as `uuid`, which ComPtr::As uses in place
// of the compiler's __uuidof.
struct IUnknown
{
    static constexpr const IID &uuid = IID_IUnknown;
    virtual HRESULT QueryInterface(REFIID riid, void **object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default; // objects go away through Release only
};

// Holds one reference to an interface and releases it when it goes.
template <class T>
class ComPtr
{
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a reference of its own to `p` (as CComPtr does); use Attach to take
    // over a reference that the caller already owns.
    explicit ComPtr(T *p)
        : p_(p)
    {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr &other)
        : ComPtr(other.p_)
    {}
    ComPtr(ComPtr &&other) noexcept
        : p_(std::exchange(other.p_, nullptr))
    {}
    template <class U>
    ComPtr(const ComPtr<U> &other)
        : ComPtr(static_cast<T *>(other.Get()))
    {}
    ~ComPtr() { Reset(); }

    ComPtr &operator=(const ComPtr &other)
    {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr &operator=(ComPtr &&other) noexcept
    {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr &operator=(std::nullptr_t)
    {
        Reset();
        return *this;
    }

    static ComPtr Attach(T *owned)
    {
        ComPtr result;
        result.p_ = owned;
        return result;
    }
    // Gives up the reference without releasing it.
    [[nodiscard]] T *Detach() { return std::exchange(p_, nullptr); }

    void Reset()
    {
        if (T *p = std::exchange(p_, nullptr))
            p->Release();
    }
    void Swap(ComPtr &other) noexcept { std::swap(p_, other.p_); }

    T *Get() const { return p_; }
    T *operator->() const { return p_; }
    T &operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For out parameters: releases what is held and hands out the slot.
    T **Put()
    {
        Reset();
        return &p_;
    }
    void **PutVoid() { return reinterpret_cast<void **>(Put()); }

    // A new reference for an out parameter of our own.
    HRESULT CopyTo(T **out) const
    {
        if (!out)
            return E_POINTER;
        *out = p_;
        if (p_)
            p_->AddRef();
        return S_OK;
    }

    template <class U>
    HRESULT As(ComPtr<U> *out) const
    {
        if (!p_)
            return E_POINTER;
        return p_->QueryInterface(U::uuid, out->PutVoid());
    }

    friend bool operator==(const ComPtr &a, const ComPtr &b) { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr &a, std::nullptr_t) { return a.p_ == nullptr; }

private:
    T *p_ = nullptr;
};

// VARIANT, only as far as property bags need it.
using VARTYPE = std::uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;

struct VARIANT
{
    VARTYPE vt;
    union
    {
        LONG lVal;
        BSTR bstrVal;
    };
};

struct IBindCtx;
struct IErrorLog;

struct IPropertyBag : IUnknown
{
    static constexpr const IID &uuid = IID_IPropertyBag;
    // `var` must be initialised; VT_EMPTY or the property's own type is filled in.
    virtual HRESULT Read(LPCOLESTR name, VARIANT *var, IErrorLog *log) = 0;
    virtual HRESULT Write(LPCOLESTR name, VARIANT *var) = 0;
};

struct IMoniker : IUnknown
{
    static constexpr const IID &uuid = IID_IMoniker;
    virtual HRESULT BindToObject(IBindCtx *context, IMoniker *left, REFIID riid, void **object) = 0;
    virtual HRESULT BindToStorage(IBindCtx *context, IMoniker *left, REFIID riid, void **object)
        = 0;
};

struct IEnumMoniker : IUnknown
{
    static constexpr const IID &uuid = IID_IEnumMoniker;
    // S_OK when `count` monikers came back, S_FALSE when fewer did.
    virtual HRESULT Next(ULONG count, IMoniker **monikers, ULONG *fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
};

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER;

namespace media {

// Counts per thread: S_OK the first time on a thread, S_FALSE after. Nothing
// here needs it, but callers written for COM call it.
HRESULT CoInitialize(void *reserved);
void CoUninitialize();

// Creates CLSID_FilterGraph, CLSID_CaptureGraphBuilder or CLSID_SystemDeviceEnum
// (platform/media/dshow.h). REGDB_E_CLASSNOTREG for any other class or a
// context without CLSCTX_INPROC_SERVER, CLASS_E_NOAGGREGATION with an outer
// object, E_NOINTERFACE when the object lacks `riid`.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID riid,
                         void **object);

void *CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(void *memory);

BSTR SysAllocString(const OLECHAR *text);
BSTR SysAllocStringLen(const OLECHAR *text, unsigned length);
void SysFreeString(BSTR text);
unsigned SysStringLen(BSTR text);

void VariantInit(VARIANT *var);
HRESULT VariantClear(VARIANT *var);

// How many objects of this library are alive: every one that was handed out
// and not yet released for the last time. Tests use it to prove that every
// reference was released.
long LiveComObjects();

} // namespace media
