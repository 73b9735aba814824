// The bad and unusual inputs of the corpus, made from pictures that the tests
// write themselves: damaged and truncated JPEG and BMP files, files that claim
// sizes they do not have, kinds the decoders refuse, and the names that trip up
// paths, quotes and lines.
#pragma once

#include "pictures.h"

#include <string>
#include <vector>

namespace corpus {

using testsupport::Rgb;

constexpr Rgb kRed{220, 30, 30};
constexpr Rgb kGreen{30, 200, 60};
constexpr Rgb kBlue{40, 60, 210};

// The bytes of a JPEG of one colour.
std::string SolidJpeg(int width, int height, Rgb colour,
                      testsupport::JpegKind kind = testsupport::JpegKind::Baseline);
// The bytes of a 24-bit BMP of one colour.
std::string SolidBmp(int width, int height, Rgb colour);

// The JPEG with another size in its frame header; the picture data stays as it
// was, so a larger size leaves the data far too short for it.
std::string WithDeclaredSize(std::string jpeg, int width, int height);
// The JPEG cut `keep` bytes into its picture data, with no end marker.
std::string CutInScan(std::string jpeg, std::size_t keep);
// The same cut, closed with an end-of-image marker as if the data were complete.
std::string ClosedEarly(std::string jpeg, std::size_t keep);
// The JPEG's frame header turned into one of 12-bit samples.
std::string TwelveBit(std::string jpeg);
// The JPEG's picture data overwritten in its middle with noise (no markers).
std::string NoiseInScan(std::string jpeg);
// A frame header that claims no colour components.
std::string NoComponents(std::string jpeg);
// The BMP with a pixel depth that does not exist.
std::string BadBitDepth(std::string bmp);
// The BMP header with another size, the pixels cut after `keep` bytes.
std::string BmpWithDeclaredSize(std::string bmp, int width, int height, std::size_t keep);

struct Input
{
    std::string name;  // the file's name
    std::string bytes; // its content
};

// Pictures that no reader can show: each must end in the system's message.
std::vector<Input> BadPictures();

// A photo of every colour model the readers meet, each of one colour.
struct ColourPhoto
{
    Input input;
    Rgb colour;
};
std::vector<ColourPhoto> UnusualGoodPhotos();

// Names with blanks, non-ASCII letters, a single quote; the ones with a double
// quote or a line break are apart, since the script cannot carry them.
std::vector<std::string> UnusualNames();
std::vector<std::string> NamesTheScriptCannotCarry();

} // namespace corpus
