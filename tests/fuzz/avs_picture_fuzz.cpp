// Feeds arbitrary bytes to the script engine's picture reader (what ImageSource
// shows) as a photo file: the size from the header, then the rows, at full size
// and DCT-scaled. The rows must come once each, top to bottom, each holding the
// width that begin() announced; the size must be the one the header gave.
#include "fuzz_support.h"

#include "platform/avs/avs.h"
#include "platform/avs/picture.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace {

class CheckingSink : public avs::picture::Sink
{
public:
    void begin(int width, int height) override
    {
        FUZZ_CHECK(width_ < 0);
        FUZZ_CHECK(width > 0 && height > 0);
        width_ = width;
        height_ = height;
    }
    void row(int y, const std::uint8_t *bgr) override
    {
        FUZZ_CHECK(width_ > 0 && y == next_ && y < height_);
        ++next_;
        // Every byte of the row is read, so that a row shorter than the width
        // shows up under AddressSanitizer.
        for (int i = 0; i < width_ * 3; ++i)
            sum_ += bgr[i];
    }
    int width_ = -1;
    int height_ = -1;
    int next_ = 0;
    unsigned sum_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = fuzzsupport::WriteScratchFile("photo", data, size);
    avs::picture::Info info;
    try {
        info = avs::picture::ReadInfo(path, true);
    } catch (const avs::Error &) {
        return 0;
    }
    FUZZ_CHECK(info.width > 0 && info.height > 0);
    FUZZ_CHECK(info.width <= avs::picture::kMaxSide && info.height <= avs::picture::kMaxSide);
    if (static_cast<long long>(info.width) * info.height > fuzzsupport::kMostPixelsDecoded)
        return 0;
    for (const auto &[minWidth, minHeight] : {std::pair{0, 0}, std::pair{13, 7}}) {
        CheckingSink sink;
        try {
            avs::picture::Decode(path, info, minWidth, minHeight, sink);
        } catch (const avs::Error &) {
            continue;
        }
        FUZZ_CHECK(sink.next_ == sink.height_);
        if (minWidth == 0 || info.format != avs::picture::Format::Jpeg) {
            FUZZ_CHECK(sink.width_ == info.width && sink.height_ == info.height);
        } else {
            FUZZ_CHECK(sink.width_ <= info.width && sink.height_ <= info.height);
            FUZZ_CHECK(sink.width_ >= std::min(minWidth, info.width));
            FUZZ_CHECK(sink.height_ >= std::min(minHeight, info.height));
        }
    }
    return 0;
}
