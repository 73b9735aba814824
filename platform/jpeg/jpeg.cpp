#include "platform/jpeg/jpeg.h"

#include "platform/win32/files.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
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

std::uint32_t read16(const std::uint8_t *p, bool little)
{
    return little ? p[0] | (p[1] << 8) : (p[0] << 8) | p[1];
}

std::uint32_t read32(const std::uint8_t *p, bool little)
{
    return little ? read16(p, true) | (read16(p + 2, true) << 16)
                  : (read16(p, false) << 16) | read16(p + 2, false);
}

// Orientation n (1 to 8) at index n - 1, as EXIF numbers them: 1 as stored, 2
// mirrored, 3 turned half round, 4 upside down mirrored, 5 mirrored on the
// diagonal, 6 to be turned a quarter clockwise, 7 the other diagonal, 8 to be
// turned a quarter anticlockwise.
constexpr Turn kTurns[8] = {
    {false, false, false}, {false, true, false}, {false, true, true}, {false, false, true},
    {true, false, false},  {true, false, true},  {true, true, true},  {true, true, false},
};

// The smallest n (of n/8) whose scaled size still covers the minimum; 8 when
// none does or no minimum is asked for.
unsigned ScaleCovering(long long width, long long height, int minWidth, int minHeight)
{
    if (minWidth <= 0 && minHeight <= 0)
        return 8;
    for (unsigned n = 1; n <= 8; ++n)
        if ((width * n + 7) / 8 >= minWidth && (height * n + 7) / 8 >= minHeight)
            return n;
    return 8;
}

} // namespace

Turn TurnOf(int orientation)
{
    return orientation >= 1 && orientation <= 8 ? kTurns[orientation - 1] : kTurns[0];
}

int OrientationFromExif(const std::uint8_t *data, std::size_t size)
{
    constexpr std::uint8_t kSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (!data || size < 6 + 8 || std::memcmp(data, kSignature, 6) != 0)
        return 1;
    const std::uint8_t *tiff = data + 6;
    const std::size_t length = size - 6;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        little = false;
    else
        return 1;
    if (read16(tiff + 2, little) != 42)
        return 1;
    const std::uint32_t ifd = read32(tiff + 4, little);
    if (ifd > length - 2)
        return 1;
    const std::uint32_t entries = read16(tiff + ifd, little);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t at = ifd + 2 + static_cast<std::size_t>(i) * 12;
        if (at + 12 > length)
            break;
        const std::uint8_t *entry = tiff + at;
        if (read16(entry, little) != 0x0112)
            continue;
        // A SHORT, one of them; its value stands in the first two bytes of the
        // value field whichever the byte order.
        if (read16(entry + 2, little) != 3 || read32(entry + 4, little) != 1)
            return 1;
        const std::uint32_t value = read16(entry + 8, little);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

// libjpeg reports errors by longjmp; nothing with a destructor may live between
// the setjmp and the library calls, so the C state is kept in this plain struct.
struct Decoder::State
{
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    // The compressed data comes from the file through a buffer of our own.
    // libjpeg's stdio source reads 4 KB at a time, and its Huffman decoder takes
    // its fast path only while the buffer holds 512 bytes for each block of the
    // next MCU (3 KB for 4:2:0): with 4 KB pieces, three MCUs in four went the
    // slow way. A read call per piece matters too: 1,300 for a photo of 5 MB.
    jpeg_source_mgr source{};
    int fd = -1;
    bool startOfFile = true;
    std::unique_ptr<JOCTET[]> buffer;
    std::string path;
    Header header;
    bool created = false;
    bool started = false;
    bool upright = false;
    // libjpeg calls the progress monitor before each piece of input it takes
    // and each output row; a set flag leaves through the error's jump.
    // Installed for progressive files only.
    jpeg_progress_mgr progress{};
    const std::atomic<bool> *stop = nullptr;
    bool stopped = false;

    int orientation() const { return upright ? header.orientation : 1; }
    bool turned() const { return TurnsOnItsSide(orientation()); }

    ~State()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
        if (fd >= 0)
            ::close(fd);
    }

    [[noreturn]] void fail(const std::string &reason, int code = 0) const
    {
        throw Error("Cannot read the picture \"" + path + "\": " + reason, code);
    }
    // After libjpeg's error: its message, marked as the machine's failure
    // when it ran out of memory.
    [[noreturn]] void failDecoding() const
    {
        fail(err.message, err.base.msg_code == JERR_OUT_OF_MEMORY ? ENOMEM : 0);
    }
};

namespace {

// The whole-picture buffers of every decode under way (see SetWholePictureBudget).
class Budget
{
public:
    static Budget &instance()
    {
        static Budget budget;
        return budget;
    }

    void take(std::size_t bytes)
    {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.wait(lock,
                      [&] { return inUse_ == 0 || bytes <= total_ - std::min(total_, inUse_); });
        --waiting_;
        inUse_ += bytes;
    }

    void give(std::size_t bytes)
    {
        {
            std::lock_guard lock(mutex_);
            inUse_ -= bytes;
        }
        changed_.notify_all();
    }

    void setTotal(std::size_t bytes)
    {
        {
            std::lock_guard lock(mutex_);
            total_ = bytes;
        }
        changed_.notify_all();
    }

    std::size_t inUse()
    {
        std::lock_guard lock(mutex_);
        return inUse_;
    }

    int waiting()
    {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t total_ = Decoder::kMemoryLimit;
    std::size_t inUse_ = 0;
    int waiting_ = 0;
};

// The coefficient arrays libjpeg allocates when the decode starts: one block of
// 64 coefficients for each 8 × 8 samples of each component, rounded up to whole
// MCUs as its coefficient controller asks for them. None for a single scan,
// which is decoded a row of MCUs at a time.
std::size_t WholePictureBytes(jpeg_decompress_struct &cinfo)
{
    if (!jpeg_has_multiple_scans(&cinfo))
        return 0;
    std::size_t bytes = 0;
    for (int i = 0; i < cinfo.num_components; ++i) {
        const jpeg_component_info &c = cinfo.comp_info[i];
        const auto roundUp
            = [](std::size_t n, std::size_t step) { return (n + step - 1) / step * step; };
        bytes += roundUp(c.width_in_blocks, static_cast<std::size_t>(c.h_samp_factor))
                 * roundUp(c.height_in_blocks, static_cast<std::size_t>(c.v_samp_factor))
                 * sizeof(JBLOCK);
    }
    return bytes;
}

// Holds a decode's share of the budget, and gives it back once libjpeg has
// freed the arrays: at the end of a decode, or by ending it on any other way out.
class BudgetShare
{
public:
    explicit BudgetShare(jpeg_decompress_struct &cinfo)
        : cinfo_(cinfo)
    {}
    ~BudgetShare()
    {
        if (share_.taken() && !finished_)
            jpeg_abort_decompress(&cinfo_);
    }
    BudgetShare(const BudgetShare &) = delete;
    BudgetShare &operator=(const BudgetShare &) = delete;

    void take(std::size_t bytes)
    {
        if (bytes != 0)
            share_.take(bytes);
    }
    void finished() { finished_ = true; }

private:
    jpeg_decompress_struct &cinfo_;
    WholePictureShare share_; // given back after the arrays are freed
    bool finished_ = false;
};

Decoder::State &StateOf(j_decompress_ptr cinfo)
{
    return *static_cast<Decoder::State *>(cinfo->client_data);
}

// As libjpeg's own file source does: an empty file is an error; data that ends
// early gets a warning (which onMessage makes an error) and an end marker, so
// that the decoder stops. A failed read counts as the end of the data.
boolean fillInput(j_decompress_ptr cinfo)
{
    Decoder::State &s = StateOf(cinfo);
    ssize_t n = -1;
    do
        n = ::read(s.fd, s.buffer.get(), Decoder::kReadBuffer);
    while (n < 0 && errno == EINTR);
    if (n <= 0) {
        if (s.startOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        s.buffer[0] = 0xFF;
        s.buffer[1] = JPEG_EOI;
        n = 2;
    }
    s.source.next_input_byte = s.buffer.get();
    s.source.bytes_in_buffer = static_cast<std::size_t>(n);
    s.startOfFile = false;
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count)
{
    jpeg_source_mgr &source = StateOf(cinfo).source;
    if (count <= 0)
        return;
    while (static_cast<std::size_t>(count) > source.bytes_in_buffer) {
        count -= static_cast<long>(source.bytes_in_buffer);
        fillInput(cinfo);
    }
    source.next_input_byte += count;
    source.bytes_in_buffer -= static_cast<std::size_t>(count);
}

} // namespace

Decoder::Decoder(const std::string &path)
    : state_(std::make_unique<State>())
{
    State &s = *state_;
    s.path = path;
    // A FIFO or a device in the list would block for good: only plain files.
    std::string reason;
    const int fd = win32::OpenInputFile(path, &reason);
    if (fd < 0) {
        // A photo that is there but cannot be opened for want of descriptors or
        // memory is the machine's failure, not the photo's.
        const int error = errno;
        s.fail(reason, error == EMFILE || error == ENFILE || error == ENOMEM ? error : 0);
    }
    s.fd = fd;
    s.buffer = std::make_unique_for_overwrite<JOCTET[]>(kReadBuffer);
    s.source.init_source = [](j_decompress_ptr) {};
    s.source.fill_input_buffer = fillInput;
    s.source.skip_input_data = skipInput;
    s.source.resync_to_restart = jpeg_resync_to_restart;
    s.source.term_source = [](j_decompress_ptr) {};

    s.cinfo.err = jpeg_std_error(&s.err.base);
    s.err.base.error_exit = onError;
    s.err.base.emit_message = onMessage;
    if (setjmp(s.err.jump))
        s.failDecoding();
    jpeg_create_decompress(&s.cinfo);
    s.created = true;
    s.cinfo.client_data = &s;
    s.cinfo.mem->max_memory_to_use = kMemoryLimit;
    s.cinfo.src = &s.source;
    jpeg_save_markers(&s.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&s.cinfo, TRUE);

    s.header.width = static_cast<int>(s.cinfo.image_width);
    s.header.height = static_cast<int>(s.cinfo.image_height);
    s.header.components = s.cinfo.num_components;
    s.header.progressive = jpeg_has_multiple_scans(&s.cinfo);
    // APP1 also carries XMP; the first EXIF block decides, as other viewers
    // take it, also when a later one says otherwise.
    for (jpeg_saved_marker_ptr m = s.cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6
            && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
            s.header.orientation = OrientationFromExif(m->data, m->data_length);
            break;
        }

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

void Decoder::setUpright(bool upright)
{
    state_->upright = upright;
}

void Decoder::setStop(const std::atomic<bool> *stop)
{
    State &s = *state_;
    s.stop = stop;
    // Only a progressive file is read whole before its first row; a
    // baseline one is given up between rows by whoever takes them, and a
    // monitor called for each of its rows cost the movie 5 % of its time.
    if (!stop || !s.header.progressive) {
        s.cinfo.progress = nullptr;
        return;
    }
    s.progress.progress_monitor = [](j_common_ptr cinfo) {
        auto &state = *static_cast<State *>(cinfo->client_data);
        if (state.stop->load(std::memory_order_relaxed)) {
            state.stopped = true;
            std::longjmp(state.err.jump, 1);
        }
    };
    s.cinfo.progress = &s.progress;
}

void Decoder::setMinimumOutputSize(int minWidth, int minHeight)
{
    State &s = *state_;
    const bool turned = s.turned();
    s.cinfo.scale_num
        = ScaleCovering(turned ? s.cinfo.image_height : s.cinfo.image_width,
                        turned ? s.cinfo.image_width : s.cinfo.image_height, minWidth, minHeight);
    s.cinfo.scale_denom = 8;
    if (setjmp(s.err.jump))
        s.failDecoding();
    jpeg_calc_output_dimensions(&s.cinfo);
}

int Decoder::outputWidth() const
{
    const jpeg_decompress_struct &c = state_->cinfo;
    return static_cast<int>(state_->turned() ? c.output_height : c.output_width);
}

int Decoder::outputHeight() const
{
    const jpeg_decompress_struct &c = state_->cinfo;
    return static_cast<int>(state_->turned() ? c.output_width : c.output_height);
}

void Decoder::decode(const std::function<void(int y, const std::uint8_t *bgr)> &row)
{
    const int orientation = state_->orientation();
    if (orientation == 1) {
        decodeStored(row);
        return;
    }
    const Turn turn = TurnOf(orientation);
    const int storedWidth = static_cast<int>(state_->cinfo.output_width);
    const std::size_t rowBytes = static_cast<std::size_t>(storedWidth) * 3;
    if (!turn.transposed && !turn.flipY) {
        std::vector<std::uint8_t> mirrored(rowBytes);
        decodeStored([&](int y, const std::uint8_t *bgr) {
            for (int x = 0; x < storedWidth; ++x)
                std::memcpy(&mirrored[static_cast<std::size_t>(storedWidth - 1 - x) * 3],
                            bgr + static_cast<std::size_t>(x) * 3, 3);
            row(y, mirrored.data());
        });
        return;
    }

    // The stored picture grows with the rows that really arrive, so a file that
    // only claims a huge size fails before it has cost that much memory.
    std::vector<std::uint8_t> stored;
    int storedHeight = 0;
    decodeStored([&](int y, const std::uint8_t *bgr) {
        stored.resize(static_cast<std::size_t>(y + 1) * rowBytes);
        std::memcpy(stored.data() + static_cast<std::size_t>(y) * rowBytes, bgr, rowBytes);
        storedHeight = y + 1;
    });
    auto storedPixel = [&](int x, int y) {
        return stored.data() + static_cast<std::size_t>(y) * rowBytes
               + static_cast<std::size_t>(x) * 3;
    };
    const int width = turn.transposed ? storedHeight : storedWidth;
    const int height = turn.transposed ? storedWidth : storedHeight;
    const std::size_t outBytes = static_cast<std::size_t>(width) * 3;
    // Upright rows of a turned picture are stored columns: a band of them is
    // gathered at once, so each stored row is read in one short run per band
    // rather than one pixel per upright row.
    constexpr int kBand = 16;
    std::vector<std::uint8_t> band(outBytes * kBand);
    for (int top = 0; top < height; top += kBand) {
        const int rows = std::min(kBand, height - top);
        if (turn.transposed) {
            for (int x = 0; x < width; ++x) {
                const int sy = turn.flipY ? storedHeight - 1 - x : x;
                for (int k = 0; k < rows; ++k) {
                    const int sx = turn.flipX ? storedWidth - 1 - (top + k) : top + k;
                    std::memcpy(&band[k * outBytes + static_cast<std::size_t>(x) * 3],
                                storedPixel(sx, sy), 3);
                }
            }
        } else {
            for (int k = 0; k < rows; ++k) {
                const int sy = turn.flipY ? storedHeight - 1 - (top + k) : top + k;
                std::uint8_t *out = &band[k * outBytes];
                if (!turn.flipX) {
                    std::memcpy(out, storedPixel(0, sy), outBytes);
                    continue;
                }
                for (int x = 0; x < width; ++x)
                    std::memcpy(out + static_cast<std::size_t>(x) * 3,
                                storedPixel(storedWidth - 1 - x, sy), 3);
            }
        }
        for (int k = 0; k < rows; ++k)
            row(top + k, &band[k * outBytes]);
    }
}

void Decoder::decodeStored(const std::function<void(int y, const std::uint8_t *bgr)> &row)
{
    State &s = *state_;
    if (s.started)
        s.fail("the picture was already decoded");
    // Buffers are allocated before setjmp so that a longjmp cannot skip their
    // destructors; they are sized once the output size is known.
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> bgr;
    BudgetShare share(s.cinfo);
    if (setjmp(s.err.jump)) {
        if (s.stopped)
            throw Stopped();
        s.failDecoding();
    }
    s.started = true;
    share.take(WholePictureBytes(s.cinfo));
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
    share.finished();
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
    image.pixels.reserve(std::min(full, kUpFront) + kImageTail);
    decode([&](int y, const std::uint8_t *bgr) {
        image.pixels.resize(static_cast<std::size_t>(y + 1) * image.stride);
        std::memcpy(image.pixels.data() + static_cast<std::size_t>(y) * image.stride, bgr,
                    static_cast<std::size_t>(image.width) * 3);
    });
    if (image.pixels.capacity() - image.pixels.size() < kImageTail)
        image.pixels.reserve(image.pixels.size() + kImageTail);
    return image;
}

Image DecodeFile(const std::string &path)
{
    Decoder decoder(path);
    return decoder.decodeImage();
}

void SetWholePictureBudget(std::size_t bytes)
{
    Budget::instance().setTotal(bytes);
}

WholePictureShare::~WholePictureShare()
{
    if (taken_)
        Budget::instance().give(bytes_);
}

void WholePictureShare::take(std::size_t bytes)
{
    if (taken_)
        return;
    Budget::instance().take(bytes);
    bytes_ = bytes;
    taken_ = true;
}

std::size_t WholePictureBytesInUse()
{
    return Budget::instance().inUse();
}

int WholePictureWaiters()
{
    return Budget::instance().waiting();
}

} // namespace jpeg
