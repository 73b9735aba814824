// How each entry of the video compressor category drives its FFmpeg encoder.
#pragma once

#include "platform/media/compressors.h"
#include "platform/media/detail/ffmpeg.h"

namespace media::detail {

// What "Quality" (0..100) becomes for the encoder.
enum class QualityScale {
    None,       // lossless, or no quality setting
    Quantiser,  // fixed quantiser 31 (0) .. 1 (100)
    RateFactor, // x264 constant rate factor 51 (0) .. 0 (100)
};

// How key frames are asked for.
enum class KeyFrames {
    None,      // every frame is one
    GopSize,   // AVCodecContext::gop_size
    KeyIntMin, // the vector-quantising encoders read keyint_min
};

struct Recipe
{
    const char *friendlyName;
    const char *encoder;
    std::uint32_t fourcc;
    // The picture format the encoder takes. A "J" (full-range) format is made by
    // the converter as its plain layout with full-range levels.
    AVPixelFormat pixelFormat;
    QualityScale quality;
    KeyFrames keyFrames;
    int defaultQuality;
    int defaultKeyFrameInterval;
};

// The recipe of a category entry; null for an unknown one.
const Recipe *RecipeFor(const CompressorEntry &entry);

// The quantiser or rate factor for a quality (0..100).
int QuantiserFor(int quality);
int RateFactorFor(int quality);

} // namespace media::detail
