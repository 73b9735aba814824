// A libbrindle.so that lacks FreeEffectManager: what a host meets when it is
// given a wrong or half-built library.

#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::int32_t InitEffectManager()
{
    return -1;
}

extern "C" __attribute__((visibility("default"))) std::int32_t GetEffectBitmap(void *)
{
    return 0;
}
