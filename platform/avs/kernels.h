// The pixel loops of the clips: moving between interleaved BGR rows and the
// planes that the scaler works on, and the cross-fade blend. Each picks the
// fastest code the processor runs.
#pragma once

#include <cstdint>

namespace avs::kernels {

// Splits `width` BGR pixels into one plane per channel.
void SplitBgr(const std::uint8_t *bgr, int width, std::uint8_t *g, std::uint8_t *b,
              std::uint8_t *r);

// Joins planes back into `width` BGR pixels.
void JoinBgr(const std::uint8_t *g, const std::uint8_t *b, const std::uint8_t *r, int width,
             std::uint8_t *bgr);

// Weights of one blended frame: out = (a × weightA + b × weightB) / (weightA + weightB),
// rounded to nearest, halves up. Computed exactly in integers.
class Blend
{
public:
    Blend(std::uint32_t weightA, std::uint32_t weightB);
    void row(const std::uint8_t *a, const std::uint8_t *b, std::uint8_t *out, int bytes) const;

private:
    std::uint32_t wa_, wb_, sum_, magic_ = 0;
    int shift_ = 0;
};

} // namespace avs::kernels
