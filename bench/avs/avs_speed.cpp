// How fast the script engine makes frames, each figure against a baseline
// measured in the same run:
//  - a photo shown at 720 × 480 (ImageSource, then BicubicResize) against the
//    plain way: decoding the JPEG at full size and resizing it with libswscale;
//  - a photo stored on its side shown upright, against the same file shown as
//    it is stored;
//  - every frame of a slide show, and its cross-fade frames alone, against
//    encoding the same frames with FFmpeg's MPEG-4 encoder, the work the render
//    does with every frame.
// A photo's time is the median of several rounds; the slide show is one run.
//
//   avs_speed
#include "app/job/script_writer.h"
#include "platform/avs/avs.h"
#include "platform/avs/filters.h"
#include "platform/jpeg/jpeg.h"
#include "platform/win32/files.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

double medianMs(int rounds, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// With an `orientation`, the file carries that EXIF orientation tag.
void writeJpeg(const std::string &path, int width, int height, int seed, int orientation = 0)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write " + path);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (orientation) {
        const JOCTET exif[] = {
            'E', 'x', 'i', 'f',  0,    0, 'M', 'M', 0, 42, 0, 0, 0,
            8,   0,   1,   0x01, 0x12, 0, 3,   0,   0, 0,  1, 0, static_cast<JOCTET>(orientation),
            0,   0,   0,   0,    0,    0};
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif, sizeof exif);
    }
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double fx = x * 3.0 / width + seed, fy = y * 3.0 / height - seed;
            row[x * 3 + 0] = static_cast<JSAMPLE>(128 + 100 * std::sin(fx * 5) * std::cos(fy * 4));
            row[x * 3 + 1] = static_cast<JSAMPLE>(128 + 90 * std::cos(fx * 3 + fy));
            row[x * 3 + 2] = static_cast<JSAMPLE>(((x ^ y) + seed * 37) & 0xFF);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

// The plain way to show a photo at 720 × 480.
void fullDecodeAndScale(const std::string &path)
{
    const jpeg::Image image = jpeg::DecodeFile(path);
    double param[2] = {1.0 / 3, 1.0 / 3};
    SwsContext *sws
        = sws_getContext(image.width, image.height, AV_PIX_FMT_BGR24, 720, 480, AV_PIX_FMT_BGR24,
                         SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, param);
    std::vector<std::uint8_t> out(720 * 480 * 3);
    const std::uint8_t *src[4] = {image.pixels.data()};
    const int srcStride[4] = {image.stride};
    std::uint8_t *dst[4] = {out.data()};
    const int dstStride[4] = {720 * 3};
    sws_scale(sws, src, srcStride, 0, image.height, dst, dstStride);
    sws_freeContext(sws);
}

// Encodes 720 × 480 frames with FFmpeg's MPEG-4 encoder at a fixed quality,
// after turning them into the 4:2:0 pictures it takes (not timed).
class Encoder
{
public:
    Encoder()
    {
        const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        if (!codec)
            throw std::runtime_error("FFmpeg has no MPEG-4 encoder");
        ctx_ = avcodec_alloc_context3(codec);
        ctx_->width = 720;
        ctx_->height = 480;
        ctx_->time_base = AVRational{1, 25};
        ctx_->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx_->gop_size = 12;
        ctx_->thread_count = 1;
        ctx_->flags |= AV_CODEC_FLAG_QSCALE;
        ctx_->global_quality = FF_QP2LAMBDA * 5;
        if (avcodec_open2(ctx_, codec, nullptr) < 0)
            throw std::runtime_error("cannot open the MPEG-4 encoder");
        frame_ = av_frame_alloc();
        frame_->format = AV_PIX_FMT_YUV420P;
        frame_->width = 720;
        frame_->height = 480;
        av_frame_get_buffer(frame_, 0);
        packet_ = av_packet_alloc();
        sws_ = sws_getContext(720, 480, AV_PIX_FMT_BGR24, 720, 480, AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                              nullptr, nullptr, nullptr);
    }
    ~Encoder()
    {
        sws_freeContext(sws_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&ctx_);
    }

    // Milliseconds spent in the encoder.
    double encode(const avs::Frame &picture)
    {
        av_frame_make_writable(frame_);
        const std::uint8_t *src[4] = {picture.data()};
        const int srcStride[4] = {picture.stride()};
        sws_scale(sws_, src, srcStride, 0, 480, frame_->data, frame_->linesize);
        frame_->pts = pts_++;
        const auto start = std::chrono::steady_clock::now();
        avcodec_send_frame(ctx_, frame_);
        while (avcodec_receive_packet(ctx_, packet_) == 0)
            av_packet_unref(packet_);
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    }

private:
    AVCodecContext *ctx_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *packet_ = nullptr;
    SwsContext *sws_ = nullptr;
    std::int64_t pts_ = 0;
};

} // namespace

int main()
{
    std::string pattern = "/tmp/avs-speed-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return 1;
    const std::string folder = pattern;
    ::setenv("TMPDIR", folder.c_str(), 1);

    try {
        for (const auto &[w, h] : {std::pair{1024, 768}, std::pair{4000, 3000}}) {
            const std::string path = folder + "/photo" + std::to_string(w) + ".jpg";
            writeJpeg(path, w, h, 1);
            const auto env = std::make_shared<avs::Environment>();
            const double engine = medianMs(9, [&] {
                const avs::PClip photo = avs::MakeImageSource(env, path, 1, 1, {25, 1});
                avs::MakeBicubicResize(env, photo, 720, 480)->GetFrame(0);
            });
            const double plain = medianMs(9, [&] { fullDecodeAndScale(path); });
            std::printf("photo %dx%d to 720x480: engine %.2f ms, full decode + libswscale "
                        "%.2f ms, ratio %.2f\n",
                        w, h, engine, plain, engine / plain);
        }

        // A phone's portrait photo: stored on its side with orientation 6. The
        // same file shown as stored is the baseline: the same DCT scaling and
        // scaler work, without turning.
        {
            const std::string path = folder + "/turned.jpg";
            writeJpeg(path, 4000, 3000, 2, 6);
            const auto env = std::make_shared<avs::Environment>();
            auto show = [&](bool upright) {
                return medianMs(9, [&] {
                    const avs::PClip photo
                        = avs::MakeImageSource(env, path, 1, 1, {25, 1}, upright);
                    avs::MakeBicubicResize(env, photo, 720, 480)->GetFrame(0);
                });
            };
            const double asStored = show(false), upright = show(true);
            std::printf("photo 4000x3000 stored on its side, to 720x480: turned upright %.2f ms, "
                        "as stored %.2f ms, ratio %.2f\n",
                        upright, asStored, upright / asStored);
        }

        // The fits at 1920 × 1080: a 4000 × 3000 photo's slide, letterboxed and
        // over its blurred copy, against the same photo stretched.
        {
            const std::string path = folder + "/photo4000.jpg";
            auto slide = [&](quillon::MovieOptions::Fit fit) {
                quillon::MovieOptions movie;
                movie.width = 1920;
                movie.height = 1080;
                movie.fit = fit;
                quillon::WriteScript({path}, 0, 0, "1", movie);
                return medianMs(9, [&] { avs::OpenScript(win32::FixedScriptPath())->GetFrame(0); });
            };
            const double stretch = slide(quillon::MovieOptions::Fit::Stretch);
            const double letterbox = slide(quillon::MovieOptions::Fit::Letterbox);
            const double crop = slide(quillon::MovieOptions::Fit::Crop);
            const double blur = slide(quillon::MovieOptions::Fit::Blur);
            std::printf("a slide at 1920x1080 from a 4000x3000 photo: stretch %.2f ms; letterbox "
                        "%.2f ms (%.2f), crop %.2f ms (%.2f), blur %.2f ms (%.2f)\n",
                        stretch, letterbox, letterbox / stretch, crop, crop / stretch, blur,
                        blur / stretch);
        }

        // A slide show of 24 photos, 3-second slides, read from start to end as
        // the render does, each frame then encoded.
        std::vector<std::string> photos;
        for (int i = 0; i < 24; ++i) {
            photos.push_back(folder + "/show" + std::to_string(i) + ".jpg");
            writeJpeg(photos.back(), 1024, 768, i);
        }
        quillon::WriteScript(photos, 0, 0, "3");
        Encoder encoder;
        double engineAll = 0, engineFade = 0, encodeAll = 0, encodeFade = 0;
        std::int64_t fades = 0;
        const avs::PClip movie = avs::OpenScript(win32::FixedScriptPath());
        const std::int64_t frames = movie->GetVideoInfo().frameCount;
        for (std::int64_t n = 0; n < frames; ++n) {
            const auto start = std::chrono::steady_clock::now();
            const avs::PFrame f = movie->GetFrame(n);
            // A fade frame's pixels are made when first read: counted here, as
            // the engine's work, not the encoder's.
            f->data();
            const double engine = std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - start)
                                      .count();
            const double encode = encoder.encode(*f);
            engineAll += engine;
            encodeAll += encode;
            if (n % 100 >= 75) { // slides of 75 frames, then a fade of 25
                ++fades;
                engineFade += engine;
                encodeFade += encode;
            }
        }
        std::printf("slide show of 24 photos, every frame (%lld): engine %.3f ms a frame, "
                    "MPEG-4 encode %.3f ms a frame, ratio %.3f\n",
                    static_cast<long long>(frames), engineAll / frames, encodeAll / frames,
                    engineAll / encodeAll);
        std::printf("the same, cross-fade frames only (%lld): engine %.3f ms a frame, MPEG-4 "
                    "encode %.3f ms a frame, ratio %.3f\n",
                    static_cast<long long>(fades), engineFade / fades, encodeFade / fades,
                    engineFade / encodeFade);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::filesystem::remove_all(folder);
        return 1;
    }
    std::filesystem::remove_all(folder);
    return 0;
}
