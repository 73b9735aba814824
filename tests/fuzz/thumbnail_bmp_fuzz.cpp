// Feeds arbitrary bytes to the thumbnail maker as a ".bmp" photo, the way the
// photo list's FileName write takes it: the bitmap reader, then the shrinking
// of whatever pixel format it delivers. A thumbnail is never larger than its
// box, exactly the box when the picture is larger, and 24-bit when shrunk.
#include "fuzz_support.h"

#include "app/photos/Thumbnail.h"
#include "platform/forms/errors.h"
#include "platform/forms/graphics.h"

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
        }
    }
    return 0;
}
