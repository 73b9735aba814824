// Whether the photo list takes a photo, found without the list: the headless
// tool leaves out of a show's movie the photos that the window's list leaves out.
#pragma once

#include <string>
#include <vector>

namespace quillon {

// How the photo list reads a photo, by the extension of its name (from its last
// dot, in any case): ".jpg" as a JPEG, ".bmp" as a bitmap; a photo of any other
// name is listed unread, with an empty thumbnail.
enum class TPhotoKind { Jpeg, Bitmap, Unread };
TPhotoKind PhotoKindOf(const std::string &path);

// Why the photo list would leave the photo out, as its add says it ("Cannot read
// the picture "PATH": REASON"); "" when it takes it. A JPEG goes through all that
// MakePhotoThumbnail does with it: its header, the size that the movie reads and
// all its data, here decoded to the smallest scale (the same data is read, each
// block becomes one pixel). A bitmap must be one, and is read whole as the movie
// reads it. A photo of another name is taken unread, as the list takes it.
// `Upright` as for MakePhotoThumbnail.
std::string PhotoListRefusal(const std::string &path, bool Upright = true);

// PhotoListRefusal of each photo, in their order, several photos at once
// (`threads` 0: one a processor).
std::vector<std::string> PhotoListRefusals(const std::vector<std::string> &paths, bool Upright,
                                           unsigned threads = 0);

} // namespace quillon
