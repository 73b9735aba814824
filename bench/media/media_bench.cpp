// What the media graph adds to the encoder, as a ratio against the encoder
// alone, measured in the same run:
//   - graph: a slide show through the DX50 compressor (colour converter,
//     encoder, AVI multiplexer, file writer) into a file. Without an argument,
//     one of the benchmark job's shape (24 pictures of 720 × 480, each held 75
//     frames, 25-frame cross-fades between them: 2375 frames) from a clip that
//     has every picture ready in memory, so that only the graph is measured;
//     with a folder of JPEG photos as argument, the slide show of those photos
//     (NTSC High, interval 3) as the script writer writes it and the script
//     engine evaluates it, so that the engine's work is in the figure too;
//   - encode-only: the same frames, already converted to the encoder's format
//     (each distinct picture once, not timed), fed to the same encoder with the
//     same settings and threads, packets dropped.
// The ratio is the cost of everything around the encoder; 1.0 is the floor.
//
//   media_bench                        the graph from pictures in memory
//   media_bench PHOTO_DIR              the graph from the photos' slide show
//   media_bench --floor PHOTO_DIR [INTERVAL [RUNS]]
//       what no render of the photos' slide show (NTSC High, interval 3 unless
//       given) can do without: one line "DECODE_CPU ENCODE_CPU ENCODE_SECONDS
//       FRAMES", the processor time of decoding every photo once with the
//       script engine's own decoder (at the size it decodes at), and of encoding
//       each distinct frame of the show once (FRAMES of them) with the
//       compressor's own encoder and settings, medians of RUNS (3) runs, for
//       bench/render/run.sh to set beside quillon-render in the same run.

#include "app/job/script_writer.h"
#include "pictures.h"
#include "platform/avs/avs.h"
#include "platform/avs/picture.h"
#include "platform/media/compressors.h"
#include "platform/media/detail/filters.h"
#include "platform/media/detail/recipes.h"
#include "platform/media/dshow.h"
#include "platform/win32/files.h"
#include "platform/win32/strings.h"
#include "testsupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 720;
constexpr int kHeight = 480;
constexpr int kPhotos = 24;
constexpr int kHold = 75;
constexpr int kFade = 25;

double Seconds(const std::function<void()> &work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Frame n of the show: which picture, and for a fade frame the two photos and
// the weight of the second.
struct Shot
{
    int picture; // index into the clip's pictures
};

class ReadyClip : public avs::Clip
{
public:
    ReadyClip()
    {
        std::vector<avs::PFrame> photos;
        for (int i = 0; i < kPhotos; ++i) {
            auto pixel = testsupport::Gradient(i);
            auto f = std::make_shared<avs::Frame>(kWidth, kHeight);
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const testsupport::Rgb c = pixel(x, y);
                    std::uint8_t *p = f->mutableRow(y) + 3 * x;
                    p[0] = c.b;
                    p[1] = c.g;
                    p[2] = c.r;
                }
            photos.push_back(f);
        }
        for (int i = 0; i < kPhotos; ++i) {
            const int held = static_cast<int>(pictures_.size());
            pictures_.push_back(photos[i]);
            for (int k = 0; k < kHold; ++k)
                order_.push_back(held);
            if (i + 1 == kPhotos)
                break;
            for (int k = 1; k <= kFade; ++k) {
                auto f = std::make_shared<avs::Frame>(kWidth, kHeight);
                for (int y = 0; y < kHeight; ++y) {
                    const std::uint8_t *a = photos[i]->row(y);
                    const std::uint8_t *b = photos[i + 1]->row(y);
                    std::uint8_t *d = f->mutableRow(y);
                    for (int x = 0; x < kWidth * 3; ++x)
                        d[x] = std::uint8_t((a[x] * (kFade + 1 - k) + b[x] * k) / (kFade + 1));
                }
                order_.push_back(static_cast<int>(pictures_.size()));
                pictures_.push_back(f);
            }
        }
        info_.width = kWidth;
        info_.height = kHeight;
        info_.frameCount = static_cast<std::int64_t>(order_.size());
    }

    const avs::VideoInfo &GetVideoInfo() const override { return info_; }
    avs::PFrame GetFrame(std::int64_t n) override { return pictures_[order_[n]]; }

    const std::vector<avs::PFrame> &pictures() const { return pictures_; }
    const std::vector<int> &order() const { return order_; }

private:
    avs::VideoInfo info_;
    std::vector<avs::PFrame> pictures_;
    std::vector<int> order_;
};

// Renders through the DX50 compressor from `clip`, or from the script when
// `clip` is null.
double RenderGraph(std::shared_ptr<avs::Clip> clip, const std::string &script,
                   const std::string &output)
{
    ComPtr<IGraphBuilder> graph;
    media::CoCreateInstance(CLSID_FilterGraph, nullptr, 7, IID_IGraphBuilder, graph.PutVoid());
    ComPtr<IBaseFilter> source;
    if (clip) {
        source = ComPtr<IBaseFilter>(media::detail::MakeClipSource(clip).Get());
        graph->AddFilter(source.Get(), u"Source");
    } else if (FAILED(graph->AddSourceFilter(win32::AnsiToWide(script).c_str(), u"Source",
                                             source.Put()))) {
        std::fprintf(stderr, "cannot open %s\n", script.c_str());
        std::exit(1);
    }
    ComPtr<IBaseFilter> compressor(
        media::detail::MakeCompressor(media::VideoCompressorCategory()[0]).Get());
    graph->AddFilter(compressor.Get(), u"Compressor");
    ComPtr<ICaptureGraphBuilder> builder;
    media::CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, 7, IID_ICaptureGraphBuilder,
                            builder.PutVoid());
    builder->SetFiltergraph(graph.Get());
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    builder->SetOutputFileName(&MEDIASUBTYPE_Avi, win32::AnsiToWide(output).c_str(), mux.Put(),
                               sink.Put());
    auto pin = [](IBaseFilter *f, PIN_DIRECTION dir) {
        ComPtr<IEnumPins> pins;
        f->EnumPins(pins.Put());
        ComPtr<IPin> p;
        while (pins->Next(1, p.Put(), nullptr) == S_OK) {
            PIN_DIRECTION d;
            p->QueryDirection(&d);
            if (d == dir)
                return p;
        }
        return ComPtr<IPin>();
    };
    graph->Connect(pin(source.Get(), PINDIR_OUTPUT).Get(),
                   pin(compressor.Get(), PINDIR_INPUT).Get());
    graph->Connect(pin(compressor.Get(), PINDIR_OUTPUT).Get(), pin(mux.Get(), PINDIR_INPUT).Get());
    ComPtr<IMediaControl> control;
    ComPtr<IMediaFilter> filter;
    ComPtr<IMediaEvent> events;
    graph.As(&control);
    graph.As(&filter);
    graph.As(&events);
    filter->SetSyncSource(nullptr);
    LONG code = 0;
    const double seconds = Seconds([&] {
        if (FAILED(control->Run()))
            std::abort();
        while (code == 0)
            events->WaitForCompletion(100, &code);
        control->Stop();
    });
    if (code != EC_COMPLETE)
        std::fprintf(stderr, "the render did not complete\n");
    return seconds;
}

// The frames of a clip as its distinct pictures and, for each frame, which
// picture it shows.
struct Frames
{
    std::vector<avs::PFrame> pictures;
    std::vector<int> order;
};

Frames AllFrames(avs::Clip &clip)
{
    Frames f;
    for (std::int64_t n = 0; n < clip.GetVideoInfo().frameCount; ++n) {
        avs::PFrame frame = clip.GetFrame(n);
        if (f.pictures.empty() || f.pictures.back() != frame)
            f.pictures.push_back(frame);
        f.order.push_back(static_cast<int>(f.pictures.size()) - 1);
    }
    return f;
}

double CpuSeconds();

// Every distinct picture of the clip in `format`, made before any clock starts.
std::vector<AVFrame *> ConvertAll(const Frames &clip, AVPixelFormat format)
{
    SwsContext *sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, kWidth, kHeight, format,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
    std::vector<AVFrame *> converted;
    for (const auto &p : clip.pictures) {
        AVFrame *f = av_frame_alloc();
        f->format = format;
        f->width = kWidth;
        f->height = kHeight;
        av_frame_get_buffer(f, 64);
        const std::uint8_t *src[1] = {p->data()};
        const int stride[1] = {p->stride()};
        sws_scale(sws, src, stride, 0, kHeight, f->data, f->linesize);
        converted.push_back(f);
    }
    sws_freeContext(sws);
    return converted;
}

// The first compressor's encoder as the compressor opens it, for pictures of
// the benchmark's size.
media::detail::CodecContextPtr FirstEncoder()
{
    const media::CompressorEntry &entry = media::VideoCompressorCategory()[0];
    std::string reason;
    media::detail::CodecContextPtr c = media::detail::OpenEncoder(
        entry, media::ReadCompressorSettings(entry), {kWidth, kHeight, AVRational{25, 1}},
        media::detail::UsableCores(), &reason);
    if (!c) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        std::exit(1);
    }
    return c;
}

// Encodes the clip's frames, every frame or each distinct one once, at their
// frame numbers; returns the wall time, and the processor time in `cpuSeconds`.
double Encode(const Frames &clip, bool distinctOnly, double *cpuSeconds)
{
    media::detail::CodecContextPtr c = FirstEncoder();
    std::vector<AVFrame *> converted = ConvertAll(clip, c->pix_fmt);
    AVFrame *shell = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    const double cpuBefore = CpuSeconds();
    const double seconds = Seconds([&] {
        auto drain = [&] {
            while (avcodec_receive_packet(c.get(), packet) >= 0)
                av_packet_unref(packet);
        };
        int last = -1;
        for (std::size_t n = 0; n < clip.order.size(); ++n) {
            if (distinctOnly && clip.order[n] == last)
                continue;
            last = clip.order[n];
            av_frame_ref(shell, converted[static_cast<std::size_t>(last)]);
            shell->pts = static_cast<std::int64_t>(n);
            shell->quality = c->global_quality;
            avcodec_send_frame(c.get(), shell);
            av_frame_unref(shell);
            drain();
        }
        avcodec_send_frame(c.get(), nullptr);
        drain();
    });
    if (cpuSeconds)
        *cpuSeconds = CpuSeconds() - cpuBefore;
    av_packet_free(&packet);
    av_frame_free(&shell);
    for (AVFrame *f : converted)
        av_frame_free(&f);
    return seconds;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::vector<std::string> PhotosIn(const char *folder)
{
    std::vector<std::string> photos;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".jpg")
            photos.push_back(std::filesystem::absolute(entry.path()).string());
    std::sort(photos.begin(), photos.end());
    if (photos.empty()) {
        std::fprintf(stderr, "no .jpg photos in %s\n", folder);
        std::exit(1);
    }
    return photos;
}

// The processor time of decoding every photo once, as the script engine decodes
// it for a frame of kWidth × kHeight, the rows dropped.
double DecodeCpu(const std::vector<std::string> &photos)
{
    class Drop : public avs::picture::Sink
    {
        void begin(int, int) override {}
        void row(int, const std::uint8_t *) override {}
    } sink;
    const double before = CpuSeconds();
    for (const std::string &photo : photos)
        avs::picture::Decode(photo, avs::picture::ReadInfo(photo, true), kWidth, kHeight, sink);
    return CpuSeconds() - before;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int FloorMain(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: media_bench --floor PHOTO_DIR [INTERVAL [RUNS]]\n");
        return 2;
    }
    testsupport::TempDir dir;
    const std::vector<std::string> photos = PhotosIn(argv[2]);
    quillon::WriteScript(photos, 0, 0, argc > 3 ? argv[3] : "3");
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    const Frames frames = AllFrames(*avs::OpenScript(win32::FixedScriptPath()));
    std::vector<double> decode, encodeCpu, encode;
    for (int round = 0; round < runs; ++round) {
        decode.push_back(DecodeCpu(photos));
        double cpu = 0;
        encode.push_back(Encode(frames, true, &cpu));
        encodeCpu.push_back(cpu);
    }
    std::printf("%.3f %.3f %.3f %zu\n", Median(decode), Median(encodeCpu), Median(encode),
                frames.pictures.size());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "--floor")
        return FloorMain(argc, argv);
    testsupport::TempDir dir;
    std::string script;
    if (argc > 1) {
        quillon::WriteScript(PhotosIn(argv[1]), 0, 0, "3");
        script = win32::FixedScriptPath();
    }
    std::shared_ptr<avs::Clip> clip;
    Frames frames;
    if (script.empty()) {
        auto ready = std::make_shared<ReadyClip>();
        frames.pictures = ready->pictures();
        frames.order = ready->order();
        clip = ready;
        std::printf("a clip with its pictures ready in memory: ");
    } else {
        const double engine = Seconds([&] { frames = AllFrames(*avs::OpenScript(script)); });
        std::printf("the photos of %s (the script engine makes the pictures, %.2f s for all "
                    "frames on one thread): ",
                    argv[1], engine);
    }
    std::printf("%zu frames, %zu distinct pictures, DX50 at quality %d\n", frames.order.size(),
                frames.pictures.size(),
                media::ReadCompressorSettings(media::VideoCompressorCategory()[0]).quality);
    const long before = PeakKilobytes();
    std::vector<double> graph, encode;
    const double cpuBefore = CpuSeconds();
    for (int round = 0; round < 3; ++round)
        graph.push_back(RenderGraph(clip, script, dir.file("movie.avi")));
    const double graphCpu = (CpuSeconds() - cpuBefore) / 3;
    const long afterGraph = PeakKilobytes();
    for (int round = 0; round < 3; ++round)
        encode.push_back(Encode(frames, false, nullptr));
    std::sort(graph.begin(), graph.end());
    std::sort(encode.begin(), encode.end());
    std::printf("encode-only %.2f s, graph %.2f s (medians of 3): graph / encode-only = %.2f\n",
                encode[1], graph[1], graph[1] / encode[1]);
    std::printf("the graph kept %.2f cores busy on average (%u here)\n", graphCpu / graph[1],
                std::thread::hardware_concurrency());
    std::printf("peak resident memory: %ld MB before the graph runs (the pictures held for "
                "the baseline included), %ld MB after them\n",
                before / 1024, afterGraph / 1024);
    return 0;
}
