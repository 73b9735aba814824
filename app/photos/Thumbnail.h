// The thumbnail maker: shrinks a picture into a box by integer box averages and
// sharpens the result.
#pragma once

#include "platform/forms/graphics.h"

#include <cstdint>
#include <string>

namespace quillon {

// The box that every thumbnail of the photo list is made for.
constexpr std::uint16_t ThumbBoxWidth = 100;
constexpr std::uint16_t ThumbBoxHeight = 75;

// A source no larger than the box is copied as it is (an empty source gives an
// empty thumbnail). Any other source becomes exactly BoxWidth × BoxHeight,
// 24-bit: each target pixel is the (slightly low) average of its block of
// source pixels, then the inner pixels are sharpened in place.
void MakeThumbnail(const forms::TBitmap &Source, forms::TBitmap &Dest, std::uint16_t BoxWidth,
                   std::uint16_t BoxHeight);

// The same thumbnail as decoding the JPEG file at full size into a 24-bit bitmap
// and running MakeThumbnail on it, but the decoded rows go straight into the
// block sums, so only a few rows of the picture are ever held. With `Upright`
// the thumbnail is that of the picture turned as its orientation tag says.
// Raises forms::EInvalidGraphic naming the file and the reason when it cannot
// be opened or decoded.
forms::TBitmap MakeJpegThumbnail(const std::string &path, std::uint16_t BoxWidth,
                                 std::uint16_t BoxHeight, bool Upright = true);

// Whether the JPEG file carries an orientation tag that turns or mirrors it,
// so that its upright thumbnail differs from the stored one. False for a file
// that cannot be read.
bool JpegIsTurned(const std::string &path);

} // namespace quillon
