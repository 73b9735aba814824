// Colours, bitmaps and pictures of the component framework.
//
// A TBitmap is a QImage underneath, so copies share their pixels until one of
// them is written (as the framework's bitmaps share their handle). The 24-bit
// layout is the one Windows DIBs use: bytes blue, green, red, rows top-down and
// padded to a multiple of 4 bytes (QImage::Format_BGR888 keeps exactly that).
#pragma once

#include <QColor>
#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace forms {

// 0x00BBGGRR, or a system colour: 0x80000000 | the system colour index.
using TColor = std::uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clSystemColor = 0x80000000;
constexpr TColor clActiveCaption = clSystemColor | 2;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clBtnFace = clSystemColor | 15;

// System colours come from the application's palette.
QColor ColorToQColor(TColor color);
TColor QColorToColor(const QColor &color);

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// TBitmap::LoadFromFile gave up the file because its stop flag was set.
struct ELoadStopped
{};

class TBitmap
{
public:
    TBitmap() = default;
    explicit TBitmap(QImage image);
    // A black bitmap; 24-bit unless told otherwise.
    TBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf24bit);

    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    bool Empty() const { return image_.isNull(); }

    TPixelFormat PixelFormat() const;
    // Converts the pixels into the new format; an empty bitmap stays empty.
    void SetPixelFormat(TPixelFormat format);
    // Keeps the format; the new pixels are black. 0 in either direction empties it.
    void SetSize(int width, int height);

    int BytesPerLine() const { return static_cast<int>(image_.bytesPerLine()); }
    std::uint8_t *ScanLine(int y) { return image_.scanLine(y); }
    const std::uint8_t *ScanLine(int y) const { return image_.constScanLine(y); }

    // Reads a Windows bitmap file. Raises EInvalidGraphic with the reason when
    // the file cannot be opened or is not a readable bitmap, or is larger than
    // the limits below; with `stop` given, ELoadStopped once it is set (the
    // file is read a few kilobytes at a time, and looked at between them).
    void LoadFromFile(const std::string &path, const std::atomic<bool> *stop = nullptr);

    // The largest bitmap that LoadFromFile reads: the limits of the movie's own
    // picture reader. A header that claims more is refused before anything is
    // allocated for it.
    static constexpr int kMaxSide = 32767;
    static constexpr long long kMaxPixels = 1LL << 28;

    const QImage &Image() const { return image_; }

    bool operator==(const TBitmap &other) const { return image_ == other.image_; }

private:
    QImage image_;
};

// A picture holds one graphic or none. Writes copy the graphic (cheaply, the
// pixels are shared until written) and tell OnChange.
class TPicture
{
public:
    TPicture() = default;
    TPicture(const TPicture &other);
    TPicture &operator=(const TPicture &other);

    // Null when the picture holds no graphic.
    const TBitmap *Graphic() const { return graphic_.get(); }
    bool HasGraphic() const { return graphic_ != nullptr; }
    // Null empties the picture.
    void SetGraphic(const TBitmap *graphic);
    // Copies the other picture's graphic; null empties the picture.
    void Assign(const TPicture *source);

    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }

    std::function<void()> OnChange;

private:
    void Changed();

    std::unique_ptr<TBitmap> graphic_;
};

} // namespace forms
