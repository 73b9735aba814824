#include "app/photos/Thumbnail.h"

#include "platform/forms/errors.h"
#include "platform/jpeg/jpeg.h"

#include <QImage>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

namespace quillon {

namespace {

// Where each target column (or row) takes its source columns from: the spans
// tile the source from 0, and a span of width 0 takes the one source column at
// its position, so that no block is empty.
struct Spans
{
    std::vector<int> start;
    std::vector<int> size;
    int used = 0; // source columns up to the end of the last span

    Spans(int source, int target)
    {
        start.resize(static_cast<std::size_t>(target));
        size.resize(static_cast<std::size_t>(target));
        // The factor is held in single precision and the products are formed
        // from it in extended precision: the span widths depend on both.
        const float factor = static_cast<float>(1.0L / (static_cast<long double>(target) / source));
        auto edge = [factor](int i) {
            return static_cast<long long>(static_cast<long double>(i) * factor);
        };
        for (int i = 0; i < target; ++i) {
            long long from = edge(i);
            long long width = edge(i + 1) - from;
            // Rounding of the factor must not reach past the source.
            from = std::clamp<long long>(from, 0, source - 1);
            width = std::clamp<long long>(width, 1, source - from);
            start[static_cast<std::size_t>(i)] = static_cast<int>(from);
            size[static_cast<std::size_t>(i)] = static_cast<int>(width);
            used = std::max(used, static_cast<int>(from + width));
        }
    }
};

// Takes the source rows top to bottom and adds each into the column sums of the
// target row it belongs to; when a target row's last source row is in, the
// row's blocks are averaged. Only one target row is ever open, because spans
// that share a source row (a 0 span and the next one) each end before the next
// one takes it.
class BoxShrinker
{
public:
    BoxShrinker(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight)
        : columns_(sourceWidth, targetWidth)
        , rows_(sourceHeight, targetHeight)
        , target_(targetWidth, targetHeight)
        , sums_(static_cast<std::size_t>(columns_.used) * 3, 0)
    {}

    // `row` holds blue, green, red in the first three of every `Step` bytes.
    template <int Step>
    void addRow(const std::uint8_t *row)
    {
        const int y = nextRow_++;
        while (open_ < target_.Height() && rows_.start[static_cast<std::size_t>(open_)] <= y) {
            accumulate<Step>(row);
            const auto t = static_cast<std::size_t>(open_);
            if (y + 1 < rows_.start[t] + rows_.size[t])
                return;
            finishRow(open_);
            ++open_;
        }
    }

    // The averaged and sharpened thumbnail, once every row has been added.
    forms::TBitmap take()
    {
        sharpen();
        return std::move(target_);
    }

private:
    template <int Step>
    void accumulate(const std::uint8_t *row)
    {
        std::uint32_t *sums = sums_.data();
        const int width = columns_.used;
        if constexpr (Step == 3) {
            for (int i = 0; i < width * 3; ++i)
                sums[i] += row[i];
        } else {
            for (int x = 0; x < width; ++x) {
                sums[x * 3 + 0] += row[x * Step + 0];
                sums[x * 3 + 1] += row[x * Step + 1];
                sums[x * 3 + 2] += row[x * Step + 2];
            }
        }
    }

    void finishRow(int t)
    {
        const std::uint32_t height
            = static_cast<std::uint32_t>(rows_.size[static_cast<std::size_t>(t)]);
        std::uint8_t *out = target_.ScanLine(t);
        const std::uint32_t *sums = sums_.data();
        for (int c = 0; c < target_.Width(); ++c) {
            const int from = columns_.start[static_cast<std::size_t>(c)];
            const int width = columns_.size[static_cast<std::size_t>(c)];
            std::uint32_t b = 0, g = 0, r = 0;
            for (int x = from; x < from + width; ++x) {
                b += sums[x * 3 + 0];
                g += sums[x * 3 + 1];
                r += sums[x * 3 + 2];
            }
            const std::uint32_t n = static_cast<std::uint32_t>(width) * height;
            if (n <= 65535) {
                const std::uint32_t d = 65535 / n;
                out[c * 3 + 0] = static_cast<std::uint8_t>((b * d) >> 16);
                out[c * 3 + 1] = static_cast<std::uint8_t>((g * d) >> 16);
                out[c * 3 + 2] = static_cast<std::uint8_t>((r * d) >> 16);
            } else {
                // 65535 div n would be 0 and the block black: a picture of more
                // than 65535 source pixels per thumbnail pixel takes the mean.
                out[c * 3 + 0] = static_cast<std::uint8_t>(b / n);
                out[c * 3 + 1] = static_cast<std::uint8_t>(g / n);
                out[c * 3 + 2] = static_cast<std::uint8_t>(r / n);
            }
        }
        std::fill(sums_.begin(), sums_.end(), 0u);
    }

    // In place: the upper neighbours are read from the row above as already
    // sharpened, the centre and the lower neighbours as averaged.
    void sharpen()
    {
        const int width = target_.Width();
        const int height = target_.Height();
        if (height < 3)
            return;
        for (int r = 1; r <= height - 2; ++r) {
            const std::uint8_t *up = target_.ScanLine(r - 1);
            std::uint8_t *mid = target_.ScanLine(r);
            const std::uint8_t *down = target_.ScanLine(r + 1);
            for (int c = 1; c <= width - 2; ++c) {
                for (int k = 0; k < 3; ++k) {
                    const int left = (c - 1) * 3 + k;
                    const int right = (c + 1) * 3 + k;
                    const int v
                        = (12 * mid[c * 3 + k] - (up[left] + up[right] + down[left] + down[right]))
                          / 8;
                    mid[c * 3 + k] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
                }
            }
        }
    }

    Spans columns_;
    Spans rows_;
    forms::TBitmap target_;
    std::vector<std::uint32_t> sums_;
    int nextRow_ = 0;
    int open_ = 0;
};

bool fitsBox(int width, int height, std::uint16_t boxWidth, std::uint16_t boxHeight)
{
    return height <= boxHeight && width <= boxWidth;
}

} // namespace

void MakeThumbnail(const forms::TBitmap &Source, forms::TBitmap &Dest, std::uint16_t BoxWidth,
                   std::uint16_t BoxHeight)
{
    if (fitsBox(Source.Width(), Source.Height(), BoxWidth, BoxHeight)) {
        Dest = Source;
        return;
    }
    if (BoxWidth == 0 || BoxHeight == 0) {
        Dest = forms::TBitmap();
        return;
    }
    BoxShrinker shrinker(Source.Width(), Source.Height(), BoxWidth, BoxHeight);
    const QImage &image = Source.Image();
    const QImage::Format format = image.format();
    const bool bgra = Q_BYTE_ORDER == Q_LITTLE_ENDIAN
                      && (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32);
    if (format == QImage::Format_BGR888) {
        for (int y = 0; y < image.height(); ++y)
            shrinker.addRow<3>(image.constScanLine(y));
    } else if (bgra) {
        // Blue, green, red and a fourth byte that a 24-bit copy drops.
        for (int y = 0; y < image.height(); ++y)
            shrinker.addRow<4>(image.constScanLine(y));
    } else {
        // A strip of rows at a time: a 24-bit copy of a whole large indexed or
        // 16-bit picture would take up to three times the picture's own memory.
        constexpr int kStripRows = 64;
        for (int top = 0; top < image.height(); top += kStripRows) {
            const int rows = std::min(kStripRows, image.height() - top);
            const QImage strip
                = image.copy(0, top, image.width(), rows).convertToFormat(QImage::Format_BGR888);
            for (int y = 0; y < rows; ++y)
                shrinker.addRow<3>(strip.constScanLine(y));
        }
    }
    Dest = shrinker.take();
}

forms::TBitmap MakeJpegThumbnail(const std::string &path, std::uint16_t BoxWidth,
                                 std::uint16_t BoxHeight, bool Upright)
{
    try {
        jpeg::Decoder decoder(path);
        decoder.setUpright(Upright);
        const int width = decoder.outputWidth();
        const int height = decoder.outputHeight();
        if (fitsBox(width, height, BoxWidth, BoxHeight)) {
            forms::TBitmap copy(width, height, forms::TPixelFormat::pf24bit);
            decoder.decode([&](int y, const std::uint8_t *bgr) {
                std::memcpy(copy.ScanLine(y), bgr, static_cast<std::size_t>(width) * 3);
            });
            return copy;
        }
        if (BoxWidth == 0 || BoxHeight == 0) {
            // Still decoded in full, so that a damaged file fails as it would.
            decoder.decode([](int, const std::uint8_t *) {});
            return {};
        }
        BoxShrinker shrinker(width, height, BoxWidth, BoxHeight);
        decoder.decode([&](int, const std::uint8_t *bgr) { shrinker.addRow<3>(bgr); });
        return shrinker.take();
    } catch (const jpeg::Error &e) {
        throw forms::EInvalidGraphic(e.what());
    }
}

bool JpegIsTurned(const std::string &path)
{
    try {
        return jpeg::Decoder(path).header().orientation != 1;
    } catch (const jpeg::Error &) {
        return false;
    }
}

} // namespace quillon
