#include "platform/avs/kernels.h"

#include <array>
#include <mutex>

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
[[gnu::always_inline]] inline void splitBody(const std::uint8_t *__restrict bgr, int width,
                                             std::uint8_t *__restrict g, std::uint8_t *__restrict b,
                                             std::uint8_t *__restrict r)
{
    for (int x = 0; x < width; ++x) {
        b[x] = bgr[3 * x];
        g[x] = bgr[3 * x + 1];
        r[x] = bgr[3 * x + 2];
    }
}

[[gnu::always_inline]] inline void joinBody(const std::uint8_t *__restrict g,
                                            const std::uint8_t *__restrict b,
                                            const std::uint8_t *__restrict r, int width,
                                            std::uint8_t *__restrict bgr)
{
    for (int x = 0; x < width; ++x) {
        bgr[3 * x] = b[x];
        bgr[3 * x + 1] = g[x];
        bgr[3 * x + 2] = r[x];
    }
}

// With weights that sum to at most 256 the weighted sum fits 16 bits, and the
// division by the sum is the high half of a 16-bit multiplication by its
// reciprocal, then a shift (exact; see reciprocal()). Everything stays in
// 16-bit lanes, twice as many to a vector as with 32 bits.
[[gnu::always_inline]] inline void blend16Body(const std::uint8_t *__restrict a,
                                               const std::uint8_t *__restrict b,
                                               std::uint8_t *__restrict out, int bytes,
                                               std::uint16_t wa, std::uint16_t wb,
                                               std::uint16_t half, std::uint16_t magic, int shift)
{
    for (int i = 0; i < bytes; ++i) {
        const std::uint16_t x = static_cast<std::uint16_t>(a[i] * wa + b[i] * wb + half);
        const std::uint16_t high
            = static_cast<std::uint16_t>((static_cast<std::uint32_t>(x) * magic) >> 16);
        out[i] = static_cast<std::uint8_t>(high >> shift);
    }
}

using SplitFn = void (*)(const std::uint8_t *, int, std::uint8_t *, std::uint8_t *, std::uint8_t *);
using JoinFn = void (*)(const std::uint8_t *, const std::uint8_t *, const std::uint8_t *, int,
                        std::uint8_t *);
using Blend16Fn = void (*)(const std::uint8_t *, const std::uint8_t *, std::uint8_t *, int,
                           std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t, int);

QUILLON_VECTOR_DEFAULT
void splitDefault(const std::uint8_t *bgr, int width, std::uint8_t *g, std::uint8_t *b,
                  std::uint8_t *r)
{
    splitBody(bgr, width, g, b, r);
}

QUILLON_VECTOR_DEFAULT
void joinDefault(const std::uint8_t *g, const std::uint8_t *b, const std::uint8_t *r, int width,
                 std::uint8_t *bgr)
{
    joinBody(g, b, r, width, bgr);
}

QUILLON_VECTOR_DEFAULT
void blend16Default(const std::uint8_t *a, const std::uint8_t *b, std::uint8_t *out, int bytes,
                    std::uint16_t wa, std::uint16_t wb, std::uint16_t half, std::uint16_t magic,
                    int shift)
{
    blend16Body(a, b, out, bytes, wa, wb, half, magic, shift);
}

#if defined(__x86_64__) || defined(__i386__)
QUILLON_VECTOR_ATTR("avx2")
void splitAvx2(const std::uint8_t *bgr, int width, std::uint8_t *g, std::uint8_t *b,
               std::uint8_t *r)
{
    splitBody(bgr, width, g, b, r);
}

QUILLON_VECTOR_ATTR("avx2")
void joinAvx2(const std::uint8_t *g, const std::uint8_t *b, const std::uint8_t *r, int width,
              std::uint8_t *bgr)
{
    joinBody(g, b, r, width, bgr);
}

QUILLON_VECTOR_ATTR("avx2")
void blend16Avx2(const std::uint8_t *a, const std::uint8_t *b, std::uint8_t *out, int bytes,
                 std::uint16_t wa, std::uint16_t wb, std::uint16_t half, std::uint16_t magic,
                 int shift)
{
    blend16Body(a, b, out, bytes, wa, wb, half, magic, shift);
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

namespace {

struct Reciprocal
{
    std::uint16_t magic = 0; // 0: no 16-bit reciprocal is exact for this divisor
    int shift = 0;
};

// For a divisor d up to 256, m and s such that ((x·m) >> 16) >> s is
// floor(x / d) for every x a blend can produce (x < 256·d): worked out the
// first time d is needed and checked value by value rather than trusted to a
// bound.
const Reciprocal &reciprocal(std::uint32_t d)
{
    static std::array<Reciprocal, 257> table;
    static std::array<std::once_flag, 257> done;
    if (d < 2 || d > 256)
        return table[0];
    std::call_once(done[d], [d] {
        int s = 0;
        while ((2u << s) <= d)
            ++s; // 2^s <= d < 2^(s+1)
        for (; s >= 0; --s) {
            const std::uint64_t m = ((std::uint64_t{1} << (16 + s)) + d - 1) / d;
            if (m > 0xFFFF)
                continue;
            bool exact = true;
            for (std::uint32_t x = 0; x < 256 * d && exact; ++x)
                exact = ((x * m) >> 16 >> s) == x / d;
            if (exact) {
                table[d] = Reciprocal{static_cast<std::uint16_t>(m), s};
                return;
            }
        }
    });
    return table[d];
}

} // namespace

Blend::Blend(std::uint32_t weightA, std::uint32_t weightB)
    : wa_(weightA)
    , wb_(weightB)
    , sum_(weightA + weightB)
{
    const Reciprocal &r = reciprocal(sum_);
    magic_ = r.magic;
    shift_ = r.shift;
}

void Blend::row(const std::uint8_t *a, const std::uint8_t *b, std::uint8_t *out, int bytes) const
{
    if (magic_ != 0) {
        kBlend16(a, b, out, bytes, static_cast<std::uint16_t>(wa_), static_cast<std::uint16_t>(wb_),
                 static_cast<std::uint16_t>(sum_ / 2), static_cast<std::uint16_t>(magic_), shift_);
        return;
    }
    const std::uint64_t wa = wa_, wb = wb_, sum = sum_ ? sum_ : 1;
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>((a[i] * wa + b[i] * wb + sum / 2) / sum);
}

} // namespace avs::kernels
