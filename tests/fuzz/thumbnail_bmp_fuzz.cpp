// Feeds arbitrary bytes to the thumbnail maker as a ".bmp" photo, the way the
// photo list's FileName write takes it: the bitmap reader, then the shrinking
// of whatever pixel format it delivers. A thumbnail is never larger than its
// box, exactly the box when the picture is larger, and 24-bit when shrunk; a
// picture shrunk from a strip-wise conversion is the one shrunk from a whole one.
#include "fuzz_support.h"

#include "app/photos/Thumbnail.h"
#include "platform/forms/errors.h"
#include "platform/forms/graphics.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = fuzzsupport::WriteScratchFile("photo.bmp", data, size);
    forms::TBitmap work;
    try {
        work.LoadFromFile(path);
    } catch (const forms::EInvalidGraphic &) {
        return 0;
    }
    // A few hundred bytes of run-length data can make a picture of millions of pixels.
    if (static_cast<long long>(work.Width()) * work.Height() > fuzzsupport::kMostPixelsDecoded)
        return 0;
    const QImage::Format format = work.Image().format();
    const bool converted = format != QImage::Format_BGR888 && format != QImage::Format_RGB32
                           && format != QImage::Format_ARGB32;
    for (const auto &[boxWidth, boxHeight] :
         {std::pair<std::uint16_t, std::uint16_t>{quillon::ThumbBoxWidth, quillon::ThumbBoxHeight},
          {7, 3}}) {
        forms::TBitmap thumbnail;
        quillon::MakeThumbnail(work, thumbnail, boxWidth, boxHeight);
        if (work.Width() <= boxWidth && work.Height() <= boxHeight) {
            FUZZ_CHECK(thumbnail == work);
        } else {
            FUZZ_CHECK(thumbnail.Width() == boxWidth && thumbnail.Height() == boxHeight);
            FUZZ_CHECK(thumbnail.PixelFormat() == forms::TPixelFormat::pf24bit);
            // Other formats are shrunk from strips converted one at a time:
            // the same as from the whole picture converted. (A picture that
            // fits is kept in its own format, so this holds for shrinking only.)
            if (converted) {
                const forms::TBitmap whole(work.Image().convertToFormat(QImage::Format_BGR888));
                forms::TBitmap expected;
                quillon::MakeThumbnail(whole, expected, boxWidth, boxHeight);
                FUZZ_CHECK(thumbnail == expected);
            }
        }
    }
    return 0;
}
