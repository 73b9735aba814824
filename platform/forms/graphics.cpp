#include "platform/forms/graphics.h"

#include "platform/forms/errors.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QPalette>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

void TBitmap::LoadFromFile(const std::string &path)
{
    // QImageReader only says "Unable to read image data" for a missing file; the
    // system's own reason is worth more to the user.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EInvalidGraphic::forFile(path, std::strerror(errno));
    struct stat st
    {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    if (folder)
        throw EInvalidGraphic::forFile(path, std::strerror(EISDIR));

    QImageReader reader(QString::fromStdString(path), "bmp");
    reader.setDecideFormatFromContent(false);
    QImage image = reader.read();
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
