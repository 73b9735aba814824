// What every COM object of this library shares: an atomic reference count that
// deletes the object at zero, the library-wide count of live objects, and
// QueryInterface over a list of interfaces.
#pragma once

#include "platform/media/com.h"

#include <atomic>

namespace media::detail {

class RefCounted
{
public:
    RefCounted(const RefCounted &) = delete;
    RefCounted &operator=(const RefCounted &) = delete;

protected:
    RefCounted();
    virtual ~RefCounted();

    ULONG addRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG release()
    {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
};

// QueryInterface for an object that implements `First, Rest...`: IUnknown is
// answered with the first interface, so that the same object always gives the
// same IUnknown pointer.
template <class First, class... Rest, class Self>
HRESULT QueryInterfaces(Self *self, REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == First::uuid)
        *object = static_cast<First *>(self);
    else
        (void)((riid == Rest::uuid ? (*object = static_cast<Rest *>(self), true) : false) || ...);
    if (!*object)
        return E_NOINTERFACE;
    static_cast<First *>(self)->AddRef();
    return S_OK;
}

// A COM object that implements `Interfaces...`, created with one reference that
// belongs to its creator.
template <class... Interfaces>
class ComObject : public RefCounted, public Interfaces...
{
public:
    ULONG AddRef() override { return addRef(); }
    ULONG Release() override { return release(); }
    HRESULT QueryInterface(REFIID riid, void **object) override
    {
        return QueryInterfaces<Interfaces...>(this, riid, object);
    }
};

// Makes a new object and hands its first reference to a ComPtr.
template <class T, class... Args>
ComPtr<T> MakeCom(Args &&...args)
{
    return ComPtr<T>::Attach(new T(std::forward<Args>(args)...));
}

} // namespace media::detail
