#include "platform/jpeg/jpeg.h"

#include "platform/win32/files.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <jpeglib.h>

#include <jerror.h>

namespace jpeg {

namespace {

struct ErrorManager
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings are ignored, but for picture data that ends early: libjpeg would pad
// the missing rows with grey, and a half-grey photo is not what the user has.
// The data ends early when the file does (JWRN_JPEG_EOF) and when a marker
// comes before the data is complete (JWRN_HIT_MARKER, a file cut and closed
// again). Padding also costs the whole declared size in time: a file of a few
// hundred bytes that claims 60000 × 60000 pixels would be decoded for seconds.
void onMessage(j_common_ptr cinfo, int level)
{
    if (level < 0
        && (cinfo->err->msg_code == JWRN_JPEG_EOF || cinfo->err->msg_code == JWRN_HIT_MARKER))
        onError(cinfo);
}

} // namespace

// libjpeg reports errors by longjmp; nothing with a destructor may live between
// the setjmp and the library calls, so the C state is kept in this plain struct.
struct Decoder::State
{
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    std::FILE *file = nullptr;
    std::string path;
    Header header;
    bool created = false;
    bool started = false;

    ~State()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
        if (file)
            std::fclose(file);
    }

    [[noreturn]] void fail(const std::string &reason) const
    {
        throw Error("Cannot read the picture \"" + path + "\": " + reason);
    }
};

Decoder::Decoder(const std::string &path)
    : state_(std::make_unique<State>())
{
    State &s = *state_;
    s.path = path;
    // A FIFO or a device in the list would block for good: only plain files.
    std::string reason;
    const int fd = win32::OpenInputFile(path, &reason);
    if (fd < 0)
        s.fail(reason);
    s.file = ::fdopen(fd, "rb");
    if (!s.file) {
        const int error = errno;
        ::close(fd);
        s.fail(std::strerror(error));
    }

    s.cinfo.err = jpeg_std_error(&s.err.base);
    s.err.base.error_exit = onError;
    s.err.base.emit_message = onMessage;
    if (setjmp(s.err.jump))
        s.fail(s.err.message);
    jpeg_create_decompress(&s.cinfo);
    s.created = true;
    s.cinfo.mem->max_memory_to_use = kMemoryLimit;
    jpeg_stdio_src(&s.cinfo, s.file);
    jpeg_read_header(&s.cinfo, TRUE);

    s.header.width = static_cast<int>(s.cinfo.image_width);
    s.header.height = static_cast<int>(s.cinfo.image_height);
    s.header.components = s.cinfo.num_components;
    s.header.progressive = jpeg_has_multiple_scans(&s.cinfo);

    switch (s.cinfo.jpeg_color_space) {
    case JCS_CMYK:
    case JCS_YCCK:
        s.cinfo.out_color_space = JCS_CMYK;
        break;
    default:
        s.cinfo.out_color_space = JCS_EXT_BGR;
        break;
    }
    s.cinfo.scale_num = 8;
    s.cinfo.scale_denom = 8;
    s.cinfo.dct_method = JDCT_ISLOW;
    jpeg_calc_output_dimensions(&s.cinfo);
}

Decoder::~Decoder() = default;

const Header &Decoder::header() const
{
    return state_->header;
}

void Decoder::setMinimumOutputSize(int minWidth, int minHeight)
{
    State &s = *state_;
    if (setjmp(s.err.jump))
        s.fail(s.err.message);
    unsigned num = 8;
    if (minWidth > 0 || minHeight > 0) {
        // The smallest n/8 whose scaled size still covers the minimum.
        for (unsigned n = 1; n <= 8; ++n) {
            const long long w = (static_cast<long long>(s.cinfo.image_width) * n + 7) / 8;
            const long long h = (static_cast<long long>(s.cinfo.image_height) * n + 7) / 8;
            if (w >= minWidth && h >= minHeight) {
                num = n;
                break;
            }
        }
    }
    s.cinfo.scale_num = num;
    s.cinfo.scale_denom = 8;
    jpeg_calc_output_dimensions(&s.cinfo);
}

int Decoder::outputWidth() const
{
    return static_cast<int>(state_->cinfo.output_width);
}

int Decoder::outputHeight() const
{
    return static_cast<int>(state_->cinfo.output_height);
}

void Decoder::decode(const std::function<void(int y, const std::uint8_t *bgr)> &row)
{
    State &s = *state_;
    if (s.started)
        s.fail("the picture was already decoded");
    // Buffers are allocated before setjmp so that a longjmp cannot skip their
    // destructors; they are sized once the output size is known.
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> bgr;
    if (setjmp(s.err.jump))
        s.fail(s.err.message);
    s.started = true;
    jpeg_start_decompress(&s.cinfo);
    const int width = static_cast<int>(s.cinfo.output_width);
    const int components = s.cinfo.output_components;
    const bool cmyk = s.cinfo.out_color_space == JCS_CMYK;
    raw.resize(static_cast<std::size_t>(width) * components);
    if (cmyk)
        bgr.resize(static_cast<std::size_t>(width) * 3);
    // Adobe writes CMYK inverted, which is what nearly every CMYK JPEG holds.
    const bool inverted = s.cinfo.saw_Adobe_marker;

    while (s.cinfo.output_scanline < s.cinfo.output_height) {
        const int y = static_cast<int>(s.cinfo.output_scanline);
        JSAMPROW rows[1] = {raw.data()};
        if (jpeg_read_scanlines(&s.cinfo, rows, 1) != 1)
            s.fail("the data ends early");
        if (!cmyk) {
            row(y, raw.data());
            continue;
        }
        for (int x = 0; x < width; ++x) {
            int c = raw[x * 4], m = raw[x * 4 + 1], ye = raw[x * 4 + 2], k = raw[x * 4 + 3];
            if (!inverted)
                c = 255 - c, m = 255 - m, ye = 255 - ye, k = 255 - k;
            bgr[x * 3 + 0] = static_cast<std::uint8_t>((ye * k + 127) / 255);
            bgr[x * 3 + 1] = static_cast<std::uint8_t>((m * k + 127) / 255);
            bgr[x * 3 + 2] = static_cast<std::uint8_t>((c * k + 127) / 255);
        }
        row(y, bgr.data());
    }
    jpeg_finish_decompress(&s.cinfo);
}

Image Decoder::decodeImage(int align)
{
    Image image;
    image.width = outputWidth();
    image.height = outputHeight();
    const int a = align > 0 ? align : 1;
    image.stride = ((image.width * 3) + a - 1) / a * a;
    // The image grows with the rows that really arrive, so a file that only
    // claims a huge size fails before it has cost that much memory.
    constexpr std::size_t kUpFront = 64u << 20;
    const std::size_t full = static_cast<std::size_t>(image.stride) * image.height;
    image.pixels.reserve(std::min(full, kUpFront));
    decode([&](int y, const std::uint8_t *bgr) {
        image.pixels.resize(static_cast<std::size_t>(y + 1) * image.stride);
        std::memcpy(image.pixels.data() + static_cast<std::size_t>(y) * image.stride, bgr,
                    static_cast<std::size_t>(image.width) * 3);
    });
    return image;
}

Image DecodeFile(const std::string &path)
{
    Decoder decoder(path);
    return decoder.decodeImage();
}

} // namespace jpeg
