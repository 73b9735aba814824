#include "platform/forms/graphics.h"

#include "platform/forms/errors.h"

#include "platform/win32/bitmap_masks.h"
#include "platform/win32/files.h"
#include "platform/win32/large_memory.h"

#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPalette>

#include <algorithm>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace forms {

namespace {

QPalette::ColorRole systemRole(unsigned index)
{
    switch (index) {
    case 2:  // active caption
    case 13: // highlight
        return QPalette::Highlight;
    case 5: // window
        return QPalette::Base;
    case 8: // window text
        return QPalette::Text;
    case 9:  // caption text
    case 14: // highlight text
        return QPalette::HighlightedText;
    case 15: // button face
        return QPalette::Button;
    case 16: // button shadow
        return QPalette::Dark;
    case 18: // button text
        return QPalette::ButtonText;
    case 20: // button highlight
        return QPalette::Light;
    default:
        return QPalette::Window;
    }
}

QImage::Format qtFormat(TPixelFormat format)
{
    switch (format) {
    case TPixelFormat::pf1bit:
        return QImage::Format_Mono;
    case TPixelFormat::pf4bit:
    case TPixelFormat::pf8bit:
        return QImage::Format_Indexed8;
    case TPixelFormat::pf15bit:
        return QImage::Format_RGB555;
    case TPixelFormat::pf16bit:
        return QImage::Format_RGB16;
    case TPixelFormat::pf32bit:
        return QImage::Format_RGB32;
    case TPixelFormat::pf24bit:
    case TPixelFormat::pfDevice:
    default:
        return QImage::Format_BGR888;
    }
}

std::uint32_t le32(const std::uint8_t *h, int at)
{
    return static_cast<std::uint32_t>(h[at] | (h[at + 1] << 8) | (h[at + 2] << 16))
           | (static_cast<std::uint32_t>(h[at + 3]) << 24);
}

// What a bitmap's header claims, as far as it is needed before Qt reads it.
struct Claim
{
    long long width = 0;
    long long height = 0; // rows stored top-down or bottom-up alike
    long long bits = 0;
    long long offset = 0;
    std::uint32_t compression = 0;
};

// False when the header is not a bitmap's that can be read this far; the
// reader then decides.
bool readClaim(const std::uint8_t *h, long long fileSize, Claim &claim)
{
    auto le16 = [h](int at) { return static_cast<std::uint32_t>(h[at] | (h[at + 1] << 8)); };
    if (fileSize < 26 || h[0] != 'B' || h[1] != 'M')
        return false;
    claim.offset = le32(h, 10);
    const std::uint32_t dib = le32(h, 14);
    if (dib == 12) {
        claim.width = le16(18);
        claim.height = le16(20);
        claim.bits = le16(24);
    } else if (dib >= 40 && fileSize >= 34) {
        claim.compression = le32(h, 30);
        claim.width = static_cast<std::int32_t>(le32(h, 18));
        claim.height = static_cast<std::int32_t>(le32(h, 22));
        claim.bits = le16(28);
        if (claim.height < 0)
            claim.height = -claim.height; // rows stored top-down
    } else {
        return false;
    }
    return true;
}

// Whether a file of `fileSize` bytes holds all the pixel rows that its header
// promises. Only uncompressed bitmaps can be measured before they are read; for
// every other kind this says yes and the reader decides.
bool storedPixelsFit(const Claim &c, long long fileSize)
{
    if (c.compression != 0 && c.compression != 3 && c.compression != 6) // BI_RGB, BI_BITFIELDS
        return true;
    if (c.width <= 0 || c.height <= 0 || c.bits <= 0 || c.bits > 32)
        return true;
    // Some writers leave the padding of the last row out. The rows before the
    // last are counted by division: a header's width and height can make their
    // product overflow.
    const long long stride = (c.width * c.bits + 31) / 32 * 4;
    const long long lastRow = (c.width * c.bits + 7) / 8;
    const long long room = fileSize - c.offset - lastRow;
    return room >= 0 && c.height - 1 <= room / stride;
}

// Another device's bytes, until a stop flag is set: then reads fail, and the
// reader reading through it gives up.
class StoppableView final : public QIODevice
{
public:
    StoppableView(QIODevice &inner, const std::atomic<bool> &stop)
        : inner_(inner)
        , stop_(stop)
    {}

    bool isSequential() const override { return inner_.isSequential(); }
    qint64 size() const override { return inner_.size(); }

protected:
    qint64 readData(char *data, qint64 max) override
    {
        if (stop_.load(std::memory_order_relaxed) || !inner_.seek(pos()))
            return -1;
        return inner_.read(data, max);
    }

    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QIODevice &inner_;
    const std::atomic<bool> &stop_;
};

// A black picture to read into. One of several megabytes lives in a block of
// its own (see win32::AllocateLarge), black without being written, its pages
// filled as the reader reaches them.
QImage BlankImage(QSize size, QImage::Format format)
{
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype bytesPerLine = (static_cast<qsizetype>(size.width()) * depth + 31) / 32 * 4;
    const std::size_t bytes = static_cast<std::size_t>(bytesPerLine) * size.height();
    if (bytes < win32::kLargeBlock) {
        QImage image(size, format);
        if (!image.isNull())
            image.fill(0);
        return image;
    }
    std::uint8_t *block = win32::AllocateLarge(bytes);
    if (!block)
        return {};
    return QImage(block, size.width(), size.height(), bytesPerLine, format, win32::FreeLarge,
                  block);
}

// Qt's reader takes the bitmap headers of 12, 40, 64, 108 and 124 bytes, not
// the 56-byte one (the 40 bytes, then the red, green, blue and alpha masks)
// that some image editors write and the movie reads. This shows Qt such a file
// as the 40-byte bitmap it extends: the red, green and blue masks of a
// bitmap with masks stand where they follow a 40-byte header, and the rest of
// the longer header (the alpha mask, which the movie leaves out as well) is cut
// from the stream, so that a colour table follows at once. The pixels' offset
// and the file's size move by the bytes cut.
class InfoHeaderView final : public QIODevice
{
public:
    static constexpr std::uint32_t kHeaderBytes = 56;

    // Whether the file whose first bytes are `h` has that header, and the
    // bytes after it that Qt needs.
    static bool Wanted(const std::uint8_t *h, std::size_t got, long long fileSize)
    {
        return got >= kPatchedEnd && h[0] == 'B' && h[1] == 'M' && le32(h, 14) == kHeaderBytes
               && fileSize >= 14 + kHeaderBytes && le32(h, 10) >= 14 + kHeaderBytes;
    }

    InfoHeaderView(QFile &file, const std::uint8_t *h)
        : file_(file)
        , cut_(le32(h, 30) == kBitFields ? 14 + 40 + 12 : 14 + 40)
        , removed_(14 + kHeaderBytes - cut_)
    {
        std::memcpy(patched_, h, kPatchedEnd);
        setLe32(2, le32(h, 2) >= removed_ ? le32(h, 2) - static_cast<std::uint32_t>(removed_) : 0);
        setLe32(10, le32(h, 10) - static_cast<std::uint32_t>(removed_));
        setLe32(14, 40);
    }

    bool isSequential() const override { return false; }
    qint64 size() const override { return std::max<qint64>(0, file_.size() - removed_); }

protected:
    qint64 readData(char *data, qint64 max) override
    {
        qint64 done = 0;
        while (done < max) {
            const qint64 at = pos() + done;
            qint64 want = max - done;
            if (at < cut_)
                want = std::min(want, cut_ - at);
            if (!file_.seek(at < cut_ ? at : at + removed_))
                return done > 0 ? done : -1;
            const qint64 got = file_.read(data + done, want);
            if (got < 0)
                return done > 0 ? done : -1;
            for (qint64 i = 0; i < got && at + i < static_cast<qint64>(kPatchedEnd); ++i)
                data[done + i] = static_cast<char>(patched_[at + i]);
            done += got;
            if (got < want)
                break;
        }
        return done;
    }

    qint64 writeData(const char *, qint64) override { return -1; }

private:
    static constexpr std::size_t kPatchedEnd = 18; // the file header and the header's size
    static constexpr std::uint32_t kBitFields = 3;

    void setLe32(int at, std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            patched_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }

    QFile &file_;
    const qint64 cut_;     // where the bytes Qt does not read start ...
    const qint64 removed_; // ... and how many there are
    std::uint8_t patched_[kPatchedEnd] = {};
};

} // namespace

QColor ColorToQColor(TColor color)
{
    if (color & clSystemColor) {
        const QPalette palette = QGuiApplication::palette();
        return palette.color(QPalette::Active, systemRole(color & 0xFF));
    }
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

TColor QColorToColor(const QColor &color)
{
    return static_cast<TColor>(color.red()) | (static_cast<TColor>(color.green()) << 8)
           | (static_cast<TColor>(color.blue()) << 16);
}

TBitmap::TBitmap(QImage image)
    : image_(std::move(image))
{}

TBitmap::TBitmap(int width, int height, TPixelFormat format)
{
    if (width > 0 && height > 0) {
        image_ = QImage(width, height, qtFormat(format));
        image_.fill(0);
    }
}

TPixelFormat TBitmap::PixelFormat() const
{
    switch (image_.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        return TPixelFormat::pf1bit;
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
        return TPixelFormat::pf8bit;
    case QImage::Format_RGB555:
        return TPixelFormat::pf15bit;
    case QImage::Format_RGB16:
        return TPixelFormat::pf16bit;
    case QImage::Format_BGR888:
        return TPixelFormat::pf24bit;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return TPixelFormat::pf32bit;
    default:
        return TPixelFormat::pfDevice;
    }
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    const QImage::Format target = qtFormat(format);
    if (!image_.isNull() && image_.format() != target)
        image_ = image_.convertToFormat(target);
}

void TBitmap::SetSize(int width, int height)
{
    if (width <= 0 || height <= 0) {
        image_ = QImage();
        return;
    }
    if (image_.width() == width && image_.height() == height)
        return;
    const QImage::Format format = image_.isNull() ? QImage::Format_BGR888 : image_.format();
    QImage resized(width, height, format);
    if (format == QImage::Format_Indexed8 || format == QImage::Format_Mono)
        resized.setColorTable(image_.colorTable());
    resized.fill(0);
    image_ = std::move(resized);
}

void TBitmap::LoadFromFile(const std::string &path, const std::atomic<bool> *stop)
{
    // QImageReader only says "Unable to read image data" for a missing file; the
    // system's own reason is worth more to the user. Qt reads the file opened
    // here: a name that is not UTF-8 stays as it is, and a FIFO put in its
    // place cannot block the reader.
    std::string reason;
    const int fd = win32::OpenInputFile(path, &reason);
    if (fd < 0)
        throw EInvalidGraphic::forFile(path, reason);
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw EInvalidGraphic::forFile(path, file.errorString().toStdString());
    }
    struct stat st
    {};
    std::uint8_t header[win32::kBitmapMasksEnd] = {};
    Claim claim;
    ssize_t got = -1;
    if (::fstat(fd, &st) == 0 && (got = ::pread(fd, header, sizeof header, 0)) >= 0
        && readClaim(header, static_cast<long long>(st.st_size), claim)) {
        // Qt calls a header that claims more than 2^28 pixels not valid.
        if (claim.width > kMaxSide || claim.height > kMaxSide
            || claim.width * claim.height > kMaxPixels)
            throw EInvalidGraphic::forFile(path, "it is too large (" + std::to_string(claim.width)
                                                     + " x " + std::to_string(claim.height)
                                                     + " pixels)");
        // Qt's reader keeps the rows of a cut file that it got and leaves the
        // rest black; the framework's reader fails on the short read.
        if (!storedPixelsFit(claim, static_cast<long long>(st.st_size)))
            throw EInvalidGraphic::forFile(path, "Stream read error");
        // Masks the movie cannot read are refused here too, rather than listed
        // (Qt reads some of them, others as black) for a movie that fails.
        if (!win32::BitmapMasksReadable(header, static_cast<std::size_t>(got)))
            throw EInvalidGraphic::forFile(path, win32::kBitmapMasksUnreadable);
    }

    QIODevice *source = &file;
    std::optional<InfoHeaderView> view;
    if (got > 0
        && InfoHeaderView::Wanted(header, static_cast<std::size_t>(got),
                                  static_cast<long long>(st.st_size))) {
        view.emplace(file, header);
        if (!view->open(QIODevice::ReadOnly))
            throw EInvalidGraphic::forFile(path, view->errorString().toStdString());
        source = &*view;
    }
    std::optional<StoppableView> stoppable;
    if (stop) {
        stoppable.emplace(*source, *stop);
        if (!stoppable->open(QIODevice::ReadOnly))
            throw EInvalidGraphic::forFile(path, stoppable->errorString().toStdString());
        source = &*stoppable;
    }
    QImageReader reader(source, "bmp");
    reader.setDecideFormatFromContent(false);
    // Qt's reader leaves the pixels that a run-length coded bitmap skips as
    // the memory it got held them: they start as colour 0 of the palette (or
    // black), so that the picture is the same every time it is read. Qt reads
    // into a picture of the right size and format as it stands, and then does
    // not hold it to its own allocation limit (128 MB), which would refuse a
    // photo of 48 megapixels that the movie shows. The limits above bound the
    // picture instead: at most four bytes a pixel, and a bitmap whose pixels
    // are stored plainly has been measured against the file, so only a
    // run-length coded one (a byte a pixel) can claim more than its file holds.
    QImage image;
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    if (size.width() > 0 && size.height() > 0 && format != QImage::Format_Invalid) {
        image = BlankImage(size, format);
        if (image.isNull())
            throw EInvalidGraphic::forFile(path, "there is not enough memory to read it");
    }
    if (!reader.read(&image))
        image = QImage();
    if (stop && stop->load(std::memory_order_relaxed))
        throw ELoadStopped();
    if (image.isNull()) {
        const std::string reason = reader.error() == QImageReader::InvalidDataError
                                           || reader.error() == QImageReader::UnknownError
                                       ? "Bitmap image is not valid"
                                       : reader.errorString().toStdString();
        throw EInvalidGraphic::forFile(path, reason);
    }
    image_ = std::move(image);
}

TPicture::TPicture(const TPicture &other)
    : graphic_(other.graphic_ ? std::make_unique<TBitmap>(*other.graphic_) : nullptr)
{}

TPicture &TPicture::operator=(const TPicture &other)
{
    if (this != &other)
        Assign(&other);
    return *this;
}

void TPicture::SetGraphic(const TBitmap *graphic)
{
    graphic_ = graphic ? std::make_unique<TBitmap>(*graphic) : nullptr;
    Changed();
}

void TPicture::Assign(const TPicture *source)
{
    SetGraphic(source ? source->Graphic() : nullptr);
}

void TPicture::Changed()
{
    if (OnChange)
        OnChange();
}

} // namespace forms
