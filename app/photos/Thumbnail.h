// The thumbnail maker: shrinks a picture into a box by integer box averages and
// sharpens the result.
#pragma once

#include "platform/forms/graphics.h"

#include <atomic>
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
// be opened or decoded, or is larger than the movie reads (with the movie's
// reason).
// With `stop` given, a decode that finds it set ends with ThumbnailStopped at
// its next row, or while a progressive file's scans are read before the first.
forms::TBitmap MakeJpegThumbnail(const std::string &path, std::uint16_t BoxWidth,
                                 std::uint16_t BoxHeight, bool Upright = true,
                                 int *pictureWidth = nullptr, int *pictureHeight = nullptr,
                                 const std::atomic<bool> *stop = nullptr);

// Whether the file is one MakePhotoThumbnail decodes as a JPEG and carries an
// orientation tag that turns or mirrors it, so that its upright thumbnail
// differs from the stored one. False for a file that cannot be read.
bool JpegIsTurned(const std::string &path);

struct ThumbnailStopped
{};

// A photo's thumbnail for the list, with the size of the picture it was made
// from (0 x 0 when no picture was read; upright when the thumbnail is).
struct PhotoThumbnail
{
    forms::TBitmap Bitmap;
    int PictureWidth = 0;
    int PictureHeight = 0;
};

// What writing an entry's FileName makes of the file, on any thread: ".jpg" (any
// case) decoded as a JPEG (upright with `Upright`), ".bmp" loaded as a bitmap,
// each shrunk into the ThumbBox; any other extension gives an empty thumbnail.
// Raises forms::EInvalidGraphic when the file cannot be read or its header
// claims a size larger than the movie reads (the movie's reason then), ThumbnailStopped
// when `stop` is set while the file is read.
PhotoThumbnail MakePhotoThumbnail(const std::string &path, bool Upright = true,
                                  const std::atomic<bool> *stop = nullptr);

} // namespace quillon
