#include "app/photos/Thumbnail.h"

#include "app/photos/photo_check.h"

#include "platform/avs/avs.h"
#include "platform/avs/picture.h"
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

// One target pixel: the (slightly low) average of its block of n source pixels
// from the block's channel sums, by a reciprocal and a shift. The 16-bit
// reciprocal 65535 div n is within one level of the mean up to 256 pixels a
// block; beyond that its truncation darkens the thumbnail more the larger the
// photo (by 2 % at 12 megapixels, 8 % at 50 and up to half at 250), so larger
// blocks take a 32-bit reciprocal, which, like the 16-bit one on small blocks,
// gives the mean rounded down and a uniform v as v - 1.
void Average(std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint32_t n, std::uint8_t *out)
{
    if (n <= 256) {
        const std::uint32_t d = 65535 / n;
        out[0] = static_cast<std::uint8_t>((b * d) >> 16);
        out[1] = static_cast<std::uint8_t>((g * d) >> 16);
        out[2] = static_cast<std::uint8_t>((r * d) >> 16);
    } else {
        const std::uint64_t d = 0xFFFFFFFFu / n;
        out[0] = static_cast<std::uint8_t>((b * d) >> 32);
        out[1] = static_cast<std::uint8_t>((g * d) >> 32);
        out[2] = static_cast<std::uint8_t>((r * d) >> 32);
    }
}

// In place: the upper neighbours are read from the row above as already
// sharpened, the centre and the lower neighbours as averaged.
void Sharpen(forms::TBitmap &target)
{
    const int width = target.Width();
    const int height = target.Height();
    if (height < 3)
        return;
    for (int r = 1; r <= height - 2; ++r) {
        const std::uint8_t *up = target.ScanLine(r - 1);
        std::uint8_t *mid = target.ScanLine(r);
        const std::uint8_t *down = target.ScanLine(r + 1);
        for (int c = 1; c <= width - 2; ++c) {
            for (int k = 0; k < 3; ++k) {
                const int left = (c - 1) * 3 + k;
                const int right = (c + 1) * 3 + k;
                const int v
                    = (12 * mid[c * 3 + k] - (up[left] + up[right] + down[left] + down[right])) / 8;
                mid[c * 3 + k] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
        }
    }
}

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
        Sharpen(target_);
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
            Average(b, g, r, static_cast<std::uint32_t>(width) * height, out + c * 3);
        }
        std::fill(sums_.begin(), sums_.end(), 0u);
    }

    Spans columns_;
    Spans rows_;
    forms::TBitmap target_;
    std::vector<std::uint32_t> sums_;
    int nextRow_ = 0;
    int open_ = 0;
};

// The same thumbnail as BoxShrinker makes of the upright picture, from the
// rows of a picture stored turned: a stored row is an upright column (or a
// mirrored row), so every target pixel stays open until the last row and the
// block sums of the whole thumbnail are held instead of a row of column sums.
class TurnedShrinker
{
public:
    TurnedShrinker(int uprightWidth, int uprightHeight, int targetWidth, int targetHeight,
                   jpeg::Turn turn)
        : columns_(uprightWidth, targetWidth)
        , rows_(uprightHeight, targetHeight)
        , columnTargets_(turn.transposed ? targetsOf(columns_, uprightWidth) : std::vector<Range>())
        , rowTargets_(turn.transposed ? std::vector<Range>() : targetsOf(rows_, uprightHeight))
        , turn_(turn)
        , storedWidth_(turn.transposed ? uprightHeight : uprightWidth)
        , storedHeight_(turn.transposed ? uprightWidth : uprightHeight)
        , target_(targetWidth, targetHeight)
        , sums_(static_cast<std::size_t>(targetWidth) * targetHeight * 3, 0)
    {}

    void addStoredRow(int y, const std::uint8_t *bgr)
    {
        // The upright line that this stored row is, the targets that line
        // feeds, and the spans along the row.
        const int line = turn_.flipY ? storedHeight_ - 1 - y : y;
        const Range fixed = (turn_.transposed ? columnTargets_ : rowTargets_)[line];
        const Spans &along = turn_.transposed ? rows_ : columns_;
        for (int t = fixed.first; t <= fixed.last; ++t)
            for (std::size_t s = 0; s < along.start.size(); ++s) {
                const int size = along.size[s];
                const int from
                    = turn_.flipX ? storedWidth_ - along.start[s] - size : along.start[s];
                std::uint32_t b = 0, g = 0, r = 0;
                for (const std::uint8_t *p = bgr + from * 3, *end = p + size * 3; p < end; p += 3) {
                    b += p[0];
                    g += p[1];
                    r += p[2];
                }
                const std::size_t cell = turn_.transposed
                                             ? s * target_.Width() + static_cast<std::size_t>(t)
                                             : static_cast<std::size_t>(t) * target_.Width() + s;
                std::uint32_t *sum = &sums_[cell * 3];
                sum[0] += b;
                sum[1] += g;
                sum[2] += r;
            }
    }

    forms::TBitmap take()
    {
        for (int r = 0; r < target_.Height(); ++r) {
            std::uint8_t *out = target_.ScanLine(r);
            for (int c = 0; c < target_.Width(); ++c) {
                const std::uint32_t *sum
                    = &sums_[(static_cast<std::size_t>(r) * target_.Width() + c) * 3];
                const auto n
                    = static_cast<std::uint32_t>(columns_.size[static_cast<std::size_t>(c)]
                                                 * rows_.size[static_cast<std::size_t>(r)]);
                Average(sum[0], sum[1], sum[2], n, out + c * 3);
            }
        }
        Sharpen(target_);
        return std::move(target_);
    }

private:
    // The targets whose span holds an upright line: consecutive ones, since the
    // spans run in order; none (first > last) past the last span.
    struct Range
    {
        int first = 0;
        int last = -1;
    };

    static std::vector<Range> targetsOf(const Spans &spans, int source)
    {
        std::vector<Range> targets(static_cast<std::size_t>(source));
        for (std::size_t t = 0; t < spans.start.size(); ++t)
            for (int s = spans.start[t]; s < spans.start[t] + spans.size[t]; ++s) {
                Range &range = targets[static_cast<std::size_t>(s)];
                if (range.first > range.last)
                    range.first = static_cast<int>(t);
                range.last = static_cast<int>(t);
            }
        return targets;
    }

    Spans columns_;
    Spans rows_;
    std::vector<Range> columnTargets_;
    std::vector<Range> rowTargets_;
    jpeg::Turn turn_;
    int storedWidth_;
    int storedHeight_;
    forms::TBitmap target_;
    std::vector<std::uint32_t> sums_;
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
                                 std::uint16_t BoxHeight, bool Upright, int *pictureWidth,
                                 int *pictureHeight, const std::atomic<bool> *stop)
{
    try {
        jpeg::Decoder decoder(path);
        decoder.setUpright(Upright);
        decoder.setStop(stop);
        const int width = decoder.outputWidth();
        const int height = decoder.outputHeight();
        // A picture the movie would not read is refused for its reason, before
        // the decoder meets the data that is missing for such a size.
        avs::picture::CheckSize(path, width, height);
        if (pictureWidth)
            *pictureWidth = width;
        if (pictureHeight)
            *pictureHeight = height;
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
        const int orientation = Upright ? decoder.header().orientation : 1;
        if (orientation != 1) {
            // Turned here, row by row, rather than by the decoder, which would
            // hold the whole picture to turn it.
            decoder.setUpright(false);
            TurnedShrinker shrinker(width, height, BoxWidth, BoxHeight, jpeg::TurnOf(orientation));
            decoder.decode([&](int y, const std::uint8_t *bgr) {
                if (stop && stop->load(std::memory_order_relaxed))
                    throw ThumbnailStopped();
                shrinker.addStoredRow(y, bgr);
            });
            return shrinker.take();
        }
        BoxShrinker shrinker(width, height, BoxWidth, BoxHeight);
        decoder.decode([&](int, const std::uint8_t *bgr) {
            if (stop && stop->load(std::memory_order_relaxed))
                throw ThumbnailStopped();
            shrinker.addRow<3>(bgr);
        });
        return shrinker.take();
    } catch (const jpeg::Stopped &) {
        throw ThumbnailStopped();
    } catch (const jpeg::Error &e) {
        throw forms::EInvalidGraphic(e.what());
    } catch (const avs::Error &e) {
        throw forms::EInvalidGraphic(e.what());
    }
}

// The photo list reads a bitmap exactly when the movie can.
static_assert(forms::TBitmap::kMaxSide == avs::picture::kMaxSide
              && forms::TBitmap::kMaxPixels == avs::picture::kMaxPixels);

PhotoThumbnail MakePhotoThumbnail(const std::string &path, bool Upright,
                                  const std::atomic<bool> *stop)
{
    PhotoThumbnail made;
    const TPhotoKind kind = PhotoKindOf(path);
    if (kind == TPhotoKind::Jpeg) {
        made.Bitmap = MakeJpegThumbnail(path, ThumbBoxWidth, ThumbBoxHeight, Upright,
                                        &made.PictureWidth, &made.PictureHeight, stop);
        return made;
    }
    // A bitmap is read whole, up to four bytes a pixel: a run-length one of a
    // few bytes may claim a gigabyte, so it waits for its share of the budget
    // that whole pictures of every kind share (given back after `work`).
    jpeg::WholePictureShare share;
    forms::TBitmap work;
    if (kind == TPhotoKind::Bitmap) {
        try {
            if (const long long pixels = avs::picture::CheckClaimedSize(path); pixels > 0)
                share.take(static_cast<std::size_t>(pixels) * 4);
        } catch (const avs::Error &e) {
            throw forms::EInvalidGraphic(e.what());
        }
        try {
            work.LoadFromFile(path, stop);
        } catch (const forms::ELoadStopped &) {
            throw ThumbnailStopped();
        }
    }
    made.PictureWidth = work.Width();
    made.PictureHeight = work.Height();
    MakeThumbnail(work, made.Bitmap, ThumbBoxWidth, ThumbBoxHeight);
    return made;
}

bool JpegIsTurned(const std::string &path)
{
    if (PhotoKindOf(path) != TPhotoKind::Jpeg)
        return false;
    try {
        return jpeg::Decoder(path).header().orientation != 1;
    } catch (const jpeg::Error &) {
        return false;
    }
}

} // namespace quillon
