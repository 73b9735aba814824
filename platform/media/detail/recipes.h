// How each entry of the video compressor category drives its FFmpeg encoder.
#pragma once

#include "platform/media/compressors.h"
#include "platform/media/detail/ffmpeg.h"

#include <string>

namespace media::detail {

// What "Quality" (0..100) becomes for the encoder.
enum class QualityScale {
    None,         // lossless, or no quality setting
    Quantiser,    // fixed quantiser 31 (0) .. 1 (100)
    RateFactor,   // x264 and x265 constant rate factor 51 (0) .. 0 (100)
    RateFactor63, // libvpx and SVT-AV1 constant quality 63 (0) .. 0 (100)
};

// The containers an entry's stream goes into, as bits.
inline constexpr unsigned kInAvi = 1u << static_cast<int>(Container::Avi);
inline constexpr unsigned kInMp4 = 1u << static_cast<int>(Container::Mp4);
inline constexpr unsigned kInMatroska = 1u << static_cast<int>(Container::Matroska);
inline constexpr unsigned kInWebM = 1u << static_cast<int>(Container::WebM);

// How key frames are asked for.
enum class KeyFrames {
    None,      // every frame is one
    GopSize,   // AVCodecContext::gop_size
    KeyIntMin, // the vector-quantising encoders read keyint_min
};

// How a frame is made a key frame where the compressor wants one: the encoder
// either takes the wish with the frame, or keeps its own count of frames, so
// that only a new encoder starts with a key frame.
enum class KeyFrameForcing {
    PictureType,  // AVFrame::pict_type = AV_PICTURE_TYPE_I
    FreshEncoder, // the encoder is drained and opened again
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
    KeyFrameForcing forcing;
    int defaultQuality;
    int defaultKeyFrameInterval;
    unsigned containers;
};

// The recipe of a category entry; null for an unknown one.
const Recipe *RecipeFor(const CompressorEntry &entry);

// The entry's encoder, opened with the settings for pictures of that size and
// rate, as the compressor opens it; null with the reason when it cannot be.
// `sampleAspect` goes into the stream where the codec has room for it;
// `globalHeader` keeps the stream's headers out of the pictures, as MP4 and
// Matroska want them.
struct EncoderShape
{
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};
    AVRational sampleAspect{1, 1};
    bool globalHeader = false;
};
CodecContextPtr OpenEncoder(const CompressorEntry &entry, const CompressorSettings &settings,
                            const EncoderShape &shape, int threads, std::string *reason);

// The quantiser or rate factor for a quality (0..100).
int QuantiserFor(int quality);
int RateFactorFor(int quality);
int RateFactor63For(int quality);

} // namespace media::detail
