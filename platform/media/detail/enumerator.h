// An enumerator (IEnumPins, IEnumFilters, IEnumMoniker) over a snapshot taken
// when it was made: later changes do not show in it.
#pragma once

#include "platform/media/detail/object.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace media::detail {

template <class EnumInterface, class Item>
class Enumerator : public ComObject<EnumInterface>
{
public:
    explicit Enumerator(std::vector<ComPtr<Item>> items)
        : items_(std::move(items))
    {}

    HRESULT Next(ULONG count, Item **items, ULONG *fetched) override
    {
        if (!items || (count != 1 && !fetched))
            return E_POINTER;
        std::lock_guard lock(mutex_);
        ULONG n = 0;
        while (n < count && next_ < items_.size()) {
            items_[next_++].CopyTo(&items[n]);
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override
    {
        std::lock_guard lock(mutex_);
        const std::size_t left = items_.size() - next_;
        next_ += std::min<std::size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        std::lock_guard lock(mutex_);
        next_ = 0;
        return S_OK;
    }

private:
    std::mutex mutex_;
    const std::vector<ComPtr<Item>> items_;
    std::size_t next_ = 0;
};

} // namespace media::detail
