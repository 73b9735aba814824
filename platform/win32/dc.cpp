#include "platform/win32/dc.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace win32 {

namespace {

struct Bitmap
{
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<BYTE> pixels;
};

struct Registry
{
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Bitmap>> bitmaps;
    std::uintptr_t next = 0x20010;
};

Registry &registry()
{
    // Never destroyed: a thread of the host may still draw into a device
    // context while the process exits and runs the destructors of statics.
    static Registry &instance = *new Registry;
    return instance;
}

std::shared_ptr<Bitmap> lookup(HDC hdc)
{
    if (!hdc)
        return nullptr;
    auto &reg = registry();
    std::lock_guard lock(reg.mutex);
    auto it = reg.bitmaps.find(reinterpret_cast<std::uintptr_t>(hdc));
    return it == reg.bitmaps.end() ? nullptr : it->second;
}

} // namespace

HDC CreateMemoryDC(int width, int height)
{
    constexpr long long kMaxBytes = 1LL << 31;
    if (width < 0 || height < 0 || DibStride(width) * height > kMaxBytes)
        return nullptr;
    auto bitmap = std::make_shared<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->stride = static_cast<int>(DibStride(width));
    bitmap->pixels.assign(static_cast<std::size_t>(bitmap->stride) * height, 0);

    auto &reg = registry();
    std::lock_guard lock(reg.mutex);
    std::uintptr_t id = reg.next;
    reg.next += 0x10;
    reg.bitmaps.emplace(id, std::move(bitmap));
    return reinterpret_cast<HDC>(id);
}

BOOL DeleteDC(HDC hdc)
{
    auto &reg = registry();
    std::lock_guard lock(reg.mutex);
    return reg.bitmaps.erase(reinterpret_cast<std::uintptr_t>(hdc)) ? TRUE : FALSE;
}

BOOL GetDCBits(HDC hdc, DCBits *out)
{
    auto bitmap = lookup(hdc);
    if (!bitmap || !out)
        return FALSE;
    out->width = bitmap->width;
    out->height = bitmap->height;
    out->stride = bitmap->stride;
    out->bits = bitmap->pixels.data();
    return TRUE;
}

BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop)
{
    if (rop != SRCCOPY)
        return FALSE;
    auto to = lookup(dst);
    auto from = lookup(src);
    if (!to || !from)
        return FALSE;

    long long dx = x, dy = y, sx = x1, sy = y1, w = cx, h = cy;
    auto clipStart = [](long long &a, long long &b, long long &len) {
        long long shift = std::max({0LL, -a, -b});
        a += shift;
        b += shift;
        len -= shift;
    };
    clipStart(dx, sx, w);
    clipStart(dy, sy, h);
    w = std::min({w, to->width - dx, from->width - sx});
    h = std::min({h, to->height - dy, from->height - sy});
    if (w <= 0 || h <= 0)
        return TRUE;

    const std::size_t rowBytes = static_cast<std::size_t>(w) * 3;
    auto row = [&](long long r) {
        std::memmove(to->pixels.data() + (dy + r) * to->stride + dx * 3,
                     from->pixels.data() + (sy + r) * from->stride + sx * 3, rowBytes);
    };
    // Copying within one bitmap downwards must start from the bottom row.
    if (to == from && dy > sy)
        for (long long r = h - 1; r >= 0; --r)
            row(r);
    else
        for (long long r = 0; r < h; ++r)
            row(r);
    return TRUE;
}

} // namespace win32
