// Feeds arbitrary bytes to the thumbnail maker as a ".jpg" photo. Decoding in
// strips must give exactly the thumbnail of decoding the whole picture first,
// upright as its orientation tag says, and shrinking it, or fail exactly when
// that fails; a thumbnail is never
// larger than its box, and exactly the box when the picture is larger.
#include "fuzz_support.h"

#include "app/photos/Thumbnail.h"
#include "platform/forms/errors.h"
#include "platform/jpeg/jpeg.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace {

std::optional<forms::TBitmap> shrinkWhole(const std::string &path, std::uint16_t boxWidth,
                                          std::uint16_t boxHeight)
{
    jpeg::Image image;
    try {
        jpeg::Decoder decoder(path);
        decoder.setUpright(true);
        image = decoder.decodeImage();
    } catch (const jpeg::Error &) {
        return std::nullopt;
    }
    forms::TBitmap whole;
    if (image.width > 0 && image.height > 0)
        whole = forms::TBitmap(QImage(image.pixels.data(), image.width, image.height, image.stride,
                                      QImage::Format_BGR888)
                                   .copy());
    forms::TBitmap thumbnail;
    quillon::MakeThumbnail(whole, thumbnail, boxWidth, boxHeight);
    return thumbnail;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = fuzzsupport::WriteScratchFile("photo.jpg", data, size);
    try {
        const jpeg::Decoder header(path);
        if (static_cast<long long>(header.outputWidth()) * header.outputHeight()
            > fuzzsupport::kMostPixelsDecoded)
            return 0;
    } catch (const jpeg::Error &) {
        // Both ways below must fail on it alike.
    }
    // The program's box, and one that tries the spans of width 0 and 1.
    for (const auto &[boxWidth, boxHeight] :
         {std::pair<std::uint16_t, std::uint16_t>{quillon::ThumbBoxWidth, quillon::ThumbBoxHeight},
          {7, 3}}) {
        std::optional<forms::TBitmap> strips;
        try {
            strips = quillon::MakeJpegThumbnail(path, boxWidth, boxHeight);
        } catch (const forms::EInvalidGraphic &) {
        }
        const std::optional<forms::TBitmap> whole = shrinkWhole(path, boxWidth, boxHeight);
        FUZZ_CHECK(strips.has_value() == whole.has_value());
        if (!strips)
            return 0;
        FUZZ_CHECK(strips->Width() <= boxWidth && strips->Height() <= boxHeight);
        FUZZ_CHECK(*strips == *whole);
    }
    return 0;
}
