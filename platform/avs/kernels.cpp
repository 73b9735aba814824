#include "platform/avs/kernels.h"

namespace avs::kernels {

namespace {

#if defined(__GNUC__) && !defined(__clang__)
#define QUILLON_VECTOR_ATTR(isa) __attribute__((target(isa), optimize("O3")))
#define QUILLON_VECTOR_DEFAULT __attribute__((optimize("O3")))
#else
#define QUILLON_VECTOR_ATTR(isa) __attribute__((target(isa)))
#define QUILLON_VECTOR_DEFAULT
#endif

// The loops are written once and compiled for each instruction set: GCC only
// vectorises them well at -O3, and AVX2 halves the time of the blend.
#define QUILLON_SPLIT_BODY                                                                         \
    for (int x = 0; x < width; ++x) {                                                              \
        b[x] = bgr[3 * x];                                                                         \
        g[x] = bgr[3 * x + 1];                                                                     \
        r[x] = bgr[3 * x + 2];                                                                     \
    }

#define QUILLON_JOIN_BODY                                                                          \
    for (int x = 0; x < width; ++x) {                                                              \
        bgr[3 * x] = b[x];                                                                         \
        bgr[3 * x + 1] = g[x];                                                                     \
        bgr[3 * x + 2] = r[x];                                                                     \
    }

// With weights that sum to at most 256 the weighted sum fits 16 bits, and the
// division by the sum is a multiplication by a 24-bit reciprocal (exact for
// every sum that can occur; see Blend::Blend).
#define QUILLON_BLEND16_BODY                                                                       \
    for (int i = 0; i < bytes; ++i) {                                                              \
        const std::uint16_t x = static_cast<std::uint16_t>(a[i] * wa + b[i] * wb + half);          \
        out[i] = static_cast<std::uint8_t>((static_cast<std::uint32_t>(x) * magic) >> 24);         \
    }

using SplitFn = void (*)(const std::uint8_t *__restrict, int, std::uint8_t *__restrict,
                         std::uint8_t *__restrict, std::uint8_t *__restrict);
using JoinFn = void (*)(const std::uint8_t *__restrict, const std::uint8_t *__restrict,
                        const std::uint8_t *__restrict, int, std::uint8_t *__restrict);
using Blend16Fn = void (*)(const std::uint8_t *__restrict, const std::uint8_t *__restrict,
                           std::uint8_t *__restrict, int, std::uint16_t, std::uint16_t,
                           std::uint16_t, std::uint32_t);

QUILLON_VECTOR_DEFAULT void splitDefault(const std::uint8_t *__restrict bgr, int width,
                                         std::uint8_t *__restrict g, std::uint8_t *__restrict b,
                                         std::uint8_t *__restrict r){QUILLON_SPLIT_BODY}

QUILLON_VECTOR_DEFAULT
    void joinDefault(const std::uint8_t *__restrict g, const std::uint8_t *__restrict b,
                     const std::uint8_t *__restrict r, int width,
                     std::uint8_t *__restrict bgr){QUILLON_JOIN_BODY}

QUILLON_VECTOR_DEFAULT
    void blend16Default(const std::uint8_t *__restrict a, const std::uint8_t *__restrict b,
                        std::uint8_t *__restrict out, int bytes, std::uint16_t wa, std::uint16_t wb,
                        std::uint16_t half, std::uint32_t magic){QUILLON_BLEND16_BODY}

#if defined(__x86_64__) || defined(__i386__)
QUILLON_VECTOR_ATTR("avx2") void splitAvx2(const std::uint8_t *__restrict bgr, int width,
                                           std::uint8_t *__restrict g, std::uint8_t *__restrict b,
                                           std::uint8_t *__restrict r){QUILLON_SPLIT_BODY}

QUILLON_VECTOR_ATTR("avx2") void joinAvx2(const std::uint8_t *__restrict g,
                                          const std::uint8_t *__restrict b,
                                          const std::uint8_t *__restrict r, int width,
                                          std::uint8_t *__restrict bgr){QUILLON_JOIN_BODY}

QUILLON_VECTOR_ATTR("avx2") void blend16Avx2(const std::uint8_t *__restrict a,
                                             const std::uint8_t *__restrict b,
                                             std::uint8_t *__restrict out, int bytes,
                                             std::uint16_t wa, std::uint16_t wb, std::uint16_t half,
                                             std::uint32_t magic)
{
    QUILLON_BLEND16_BODY
}

bool hasAvx2()
{
    // The dispatch runs while static objects are made, before the library would
    // have set up the processor description by itself.
    __builtin_cpu_init();
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#else
bool hasAvx2()
{
    return false;
}
#endif

SplitFn split()
{
#if defined(__x86_64__) || defined(__i386__)
    if (hasAvx2())
        return splitAvx2;
#endif
    return splitDefault;
}

JoinFn join()
{
#if defined(__x86_64__) || defined(__i386__)
    if (hasAvx2())
        return joinAvx2;
#endif
    return joinDefault;
}

Blend16Fn blend16()
{
#if defined(__x86_64__) || defined(__i386__)
    if (hasAvx2())
        return blend16Avx2;
#endif
    return blend16Default;
}

const SplitFn kSplit = split();
const JoinFn kJoin = join();
const Blend16Fn kBlend16 = blend16();

} // namespace

void SplitBgr(const std::uint8_t *bgr, int width, std::uint8_t *g, std::uint8_t *b, std::uint8_t *r)
{
    kSplit(bgr, width, g, b, r);
}

void JoinBgr(const std::uint8_t *g, const std::uint8_t *b, const std::uint8_t *r, int width,
             std::uint8_t *bgr)
{
    kJoin(g, b, r, width, bgr);
}

// For x = a·wa + b·wb + sum/2 < 256·sum and m = ceil(2^24 / sum), (x·m) >> 24 is
// floor(x / sum) as long as x·(m·sum − 2^24) < 2^24, which holds for sum <= 256;
// and x·m stays below 2^32.
Blend::Blend(std::uint32_t weightA, std::uint32_t weightB)
    : wa_(weightA)
    , wb_(weightB)
    , sum_(weightA + weightB)
    , magic_(sum_ != 0 && sum_ <= 256 ? ((1u << 24) + sum_ - 1) / sum_ : 0)
{}

void Blend::row(const std::uint8_t *a, const std::uint8_t *b, std::uint8_t *out, int bytes) const
{
    if (magic_ != 0) {
        kBlend16(a, b, out, bytes, static_cast<std::uint16_t>(wa_), static_cast<std::uint16_t>(wb_),
                 static_cast<std::uint16_t>(sum_ / 2), magic_);
        return;
    }
    const std::uint64_t wa = wa_, wb = wb_, sum = sum_ ? sum_ : 1;
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>((a[i] * wa + b[i] * wb + sum / 2) / sum);
}

} // namespace avs::kernels
