#include "media_support.h"
#include "test_clip.h"

#include "platform/media/compressors.h"
#include "testsupport.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>

namespace mediatest {

namespace {

void Put16(std::ofstream &out, std::uint16_t v)
{
    const char b[2] = {char(v & 0xFF), char(v >> 8)};
    out.write(b, 2);
}

void Put32(std::ofstream &out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

struct InputCloser
{
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

Input OpenInput(const std::string &path)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + path);
    Input input(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0)
        throw std::runtime_error("cannot read " + path);
    return input;
}

std::string TagText(std::uint32_t tag)
{
    if (!tag)
        return {};
    std::string text;
    for (int i = 0; i < 4; ++i)
        text.push_back(char((tag >> (8 * i)) & 0xFF));
    return text;
}

} // namespace

void WriteWav(const std::string &path, int sampleRate, int channels, double seconds, double silence,
              int soundingFrom)
{
    const std::uint32_t frames = static_cast<std::uint32_t>(std::lround(sampleRate * seconds));
    const auto quiet = static_cast<std::uint32_t>(std::lround(sampleRate * silence));
    const std::uint32_t bytes = frames * channels * 2;
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    Put32(out, 36 + bytes);
    out.write("WAVEfmt ", 8);
    Put32(out, 16);
    Put16(out, 1); // PCM
    Put16(out, channels);
    Put32(out, sampleRate);
    Put32(out, sampleRate * channels * 2);
    Put16(out, channels * 2);
    Put16(out, 16);
    out.write("data", 4);
    Put32(out, bytes);
    for (std::uint32_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            Put16(out,
                  i < quiet || c < soundingFrom
                      ? 0
                      : static_cast<std::uint16_t>(static_cast<std::int16_t>(
                          8000 * std::sin(2 * M_PI * 440.0 * (c + 1) * (i - quiet) / sampleRate))));
}

namespace {

// With a point whatever the locale (std::to_string follows LC_NUMERIC).
std::string Decimal(double value)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string("0");
}

} // namespace

void MakeTone(const std::string &path, double seconds, int sampleRate, int channels,
              const std::string &codec)
{
    std::vector<std::string> args = {"-v",
                                     "error",
                                     "-y",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "sine=frequency=440:sample_rate=" + std::to_string(sampleRate)
                                         + ":duration=" + Decimal(seconds),
                                     "-ac",
                                     std::to_string(channels)};
    if (!codec.empty())
        args.insert(args.end(), {"-c:a", codec});
    args.push_back(path);
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    const auto made = testsupport::RunProgram("/usr/bin/ffmpeg", args, folder);
    if (made.status != 0)
        throw std::runtime_error("ffmpeg could not make " + path + ": " + made.err);
}

const StreamInfo *AviInfo::video() const
{
    for (const auto &s : streams)
        if (s.type == AVMEDIA_TYPE_VIDEO)
            return &s;
    return nullptr;
}

const StreamInfo *AviInfo::audio() const
{
    for (const auto &s : streams)
        if (s.type == AVMEDIA_TYPE_AUDIO)
            return &s;
    return nullptr;
}

AviInfo ProbeAvi(const std::string &path)
{
    Input input = OpenInput(path);
    AviInfo info;
    info.format = input->iformat->name;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream *st = input->streams[i];
        StreamInfo s;
        s.type = st->codecpar->codec_type;
        s.codec = st->codecpar->codec_id;
        s.tag = TagText(st->codecpar->codec_tag);
        s.width = st->codecpar->width;
        s.height = st->codecpar->height;
        s.frameRate = st->r_frame_rate;
        s.sampleAspect = st->sample_aspect_ratio;
        s.codedAspect = st->codecpar->sample_aspect_ratio;
        s.sampleRate = st->codecpar->sample_rate;
        s.channels = st->codecpar->ch_layout.nb_channels;
        s.bitsPerSample = st->codecpar->bits_per_coded_sample;
        s.colourSpace = st->codecpar->color_space;
        if (st->duration != AV_NOPTS_VALUE)
            s.seconds = st->duration * av_q2d(st->time_base);
        s.headerLength = st->nb_frames;
        info.streams.push_back(s);
    }
    AVPacket *packet = av_packet_alloc();
    while (av_read_frame(input.get(), packet) >= 0) {
        StreamInfo &s = info.streams[packet->stream_index];
        ++s.packets;
        const AVStream *st = input->streams[packet->stream_index];
        const std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ts != AV_NOPTS_VALUE)
            s.end = std::max(s.end, (ts + packet->duration) * av_q2d(st->time_base));
        if (s.type == AVMEDIA_TYPE_VIDEO && st->r_frame_rate.num > 0) {
            const AVRational frameBase = av_inv_q(st->r_frame_rate);
            const std::int64_t frame = av_rescale_q(ts, st->time_base, frameBase);
            const std::int64_t lasts = av_rescale_q(packet->duration, st->time_base, frameBase);
            s.frames = std::max(s.frames, frame + std::max<std::int64_t>(lasts, 1));
            if (packet->flags & AV_PKT_FLAG_KEY)
                s.keyFrames.push_back(frame);
        }
        if (packet->flags & AV_PKT_FLAG_KEY)
            ++s.keyPackets;
        const AVCodecParameters *par = input->streams[packet->stream_index]->codecpar;
        if (s.type == AVMEDIA_TYPE_AUDIO && par->block_align > 0)
            s.audioSamples += packet->size / par->block_align;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return info;
}

namespace {

// Decodes the file's video from frame `from` (seeking there first when it is
// not 0) and hands `use` each frame number with the picture a player shows
// then, until `use` returns false or the stream's length is reached.
void DecodeShown(const std::string &path, std::int64_t from,
                 const std::function<bool(std::int64_t, const AVFrame &)> &use)
{
    Input input = OpenInput(path);
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        throw std::runtime_error("no video in " + path);
    const AVStream *st = input->streams[index];
    const AVCodecParameters *par = st->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> decoder(
        avcodec_alloc_context3(codec), [](AVCodecContext *c) { avcodec_free_context(&c); });
    avcodec_parameters_to_context(decoder.get(), par);
    decoder->thread_count = 1;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        throw std::runtime_error("cannot decode " + path);
    const AVRational frameBase = av_inv_q(st->r_frame_rate);
    std::int64_t length = st->nb_frames; // AVI's header; others end with their last packet
    if (from > 0
        && av_seek_frame(input.get(), index, av_rescale_q(from, frameBase, st->time_base),
                         AVSEEK_FLAG_BACKWARD)
               < 0)
        throw std::runtime_error("cannot seek in " + path);

    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    AVFrame *shown = av_frame_alloc();
    bool any = false;
    bool done = false;
    std::int64_t next = from; // the next frame number to hand out
    // A player shows each picture from its timestamp until the next one's.
    auto take = [&]() {
        while (!done && avcodec_receive_frame(decoder.get(), frame) >= 0) {
            const std::int64_t at
                = av_rescale_q(frame->best_effort_timestamp, st->time_base, frameBase);
            for (; any && next < at && !done; ++next)
                done = !use(next, *shown);
            av_frame_unref(shown);
            av_frame_ref(shown, frame);
            any = true;
            av_frame_unref(frame);
        }
    };
    while (!done && av_read_frame(input.get(), packet) >= 0) {
        if (packet->stream_index == index) {
            length = std::max(
                length, av_rescale_q(packet->pts + packet->duration, st->time_base, frameBase));
            avcodec_send_packet(decoder.get(), packet);
            take();
        }
        av_packet_unref(packet);
    }
    if (!done) {
        avcodec_send_packet(decoder.get(), nullptr);
        take();
    }
    // The last picture goes on to the end of the stream.
    for (; any && next < length && !done; ++next)
        done = !use(next, *shown);
    av_frame_free(&shown);
    av_frame_free(&frame);
    av_packet_free(&packet);
}

void DecodeNth(const std::string &path, std::int64_t n,
               const std::function<void(const AVFrame &)> &use, bool seek = false)
{
    bool found = false;
    DecodeShown(path, seek ? n : 0, [&](std::int64_t at, const AVFrame &frame) {
        if (at < n)
            return true;
        found = true;
        use(frame);
        return false;
    });
    if (!found)
        throw std::runtime_error("no frame " + std::to_string(n) + " in " + path);
}

std::vector<std::uint8_t> ToBgr(const AVFrame &frame)
{
    const int w = frame.width, h = frame.height;
    std::vector<std::uint8_t> result(std::size_t(w) * h * 3);
    SwsContext *sws = sws_getContext(w, h, AVPixelFormat(frame.format), w, h, AV_PIX_FMT_BGR24,
                                     SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    std::uint8_t *dst[4] = {result.data()};
    int lines[4] = {w * 3};
    sws_scale(sws, frame.data, frame.linesize, 0, h, dst, lines);
    sws_freeContext(sws);
    return result;
}

} // namespace

std::vector<std::uint8_t> DecodeFrame(const std::string &path, std::int64_t n)
{
    std::vector<std::uint8_t> result;
    DecodeNth(path, n, [&](const AVFrame &frame) { result = ToBgr(frame); });
    return result;
}

std::vector<std::uint8_t> SeekToFrame(const std::string &path, std::int64_t n)
{
    std::vector<std::uint8_t> result;
    DecodeNth(
        path, n, [&](const AVFrame &frame) { result = ToBgr(frame); }, true);
    return result;
}

std::vector<std::vector<std::uint8_t>> DecodeAllFrames(const std::string &path)
{
    std::vector<std::vector<std::uint8_t>> frames;
    DecodeShown(path, 0, [&](std::int64_t, const AVFrame &frame) {
        frames.push_back(ToBgr(frame));
        return true;
    });
    return frames;
}

DecodedPlanes DecodePlanes(const std::string &path, std::int64_t n)
{
    DecodedPlanes result;
    DecodeNth(path, n, [&](const AVFrame &frame) {
        result.format = AVPixelFormat(frame.format);
        const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(result.format);
        for (int p = 0; p < 3 && frame.data[p]; ++p) {
            const bool chroma = p > 0;
            const int w = chroma ? AV_CEIL_RSHIFT(frame.width, d->log2_chroma_w) : frame.width;
            const int h = chroma ? AV_CEIL_RSHIFT(frame.height, d->log2_chroma_h) : frame.height;
            result.width[p] = w;
            result.height[p] = h;
            for (int y = 0; y < h; ++y)
                result.plane[p].insert(result.plane[p].end(),
                                       frame.data[p] + std::ptrdiff_t(y) * frame.linesize[p],
                                       frame.data[p] + std::ptrdiff_t(y) * frame.linesize[p] + w);
        }
    });
    return result;
}

Sound DecodeSound(const std::string &path)
{
    Input input = OpenInput(path);
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        throw std::runtime_error("no sound in " + path);
    const AVCodecParameters *par = input->streams[index]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> decoder(
        avcodec_alloc_context3(codec), [](AVCodecContext *c) { avcodec_free_context(&c); });
    avcodec_parameters_to_context(decoder.get(), par);
    decoder->pkt_timebase = input->streams[index]->time_base;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        throw std::runtime_error("cannot decode the sound of " + path);
    Sound sound;
    sound.sampleRate = decoder->sample_rate;
    sound.channels.resize(static_cast<std::size_t>(decoder->ch_layout.nb_channels));
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto take = [&] {
        while (avcodec_receive_frame(decoder.get(), frame) >= 0) {
            if (sound.channels[0].empty() && frame->best_effort_timestamp != AV_NOPTS_VALUE)
                sound.start = double(frame->best_effort_timestamp)
                              * av_q2d(input->streams[index]->time_base);
            const auto format = AVSampleFormat(frame->format);
            const bool planar = av_sample_fmt_is_planar(format);
            const int channels = frame->ch_layout.nb_channels;
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < frame->nb_samples; ++i) {
                    const int at = planar ? i : i * channels + c;
                    const std::uint8_t *data = frame->extended_data[planar ? c : 0];
                    float v = 0;
                    switch (av_get_packed_sample_fmt(format)) {
                    case AV_SAMPLE_FMT_FLT:
                        v = reinterpret_cast<const float *>(data)[at];
                        break;
                    case AV_SAMPLE_FMT_S16:
                        v = reinterpret_cast<const std::int16_t *>(data)[at] / 32768.0f;
                        break;
                    case AV_SAMPLE_FMT_S32:
                        v = float(reinterpret_cast<const std::int32_t *>(data)[at] / 2147483648.0);
                        break;
                    default:
                        throw std::runtime_error("unexpected sample format in " + path);
                    }
                    sound.channels[std::size_t(c)].push_back(v);
                }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(input.get(), packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder.get(), packet) >= 0)
            take();
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder.get(), nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&packet);
    return sound;
}

double Sound::level(double from, double to) const
{
    double sum = 0;
    std::size_t count = 0;
    for (const auto &channel : channels)
        for (auto i = std::size_t(std::max(0.0, from * sampleRate));
             i < std::min(channel.size(), std::size_t(to * sampleRate)); ++i, ++count)
            sum += double(channel[i]) * channel[i];
    return count ? std::sqrt(sum / double(count)) : 0;
}

double MeanDifference(const std::vector<std::uint8_t> &a, const std::vector<std::uint8_t> &b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

std::vector<std::uint8_t> Packed(const avs::Frame &frame)
{
    std::vector<std::uint8_t> result(std::size_t(frame.width()) * frame.height() * 3);
    for (int y = 0; y < frame.height(); ++y)
        std::copy_n(frame.row(y), frame.width() * 3,
                    result.data() + std::size_t(y) * frame.width() * 3);
    return result;
}

ComPtr<IPin> PinOf(IBaseFilter *filter, PIN_DIRECTION direction, int index)
{
    ComPtr<IPin> found;
    if (!filter)
        return found;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put())))
        return found;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_DIRECTION d = PIN_DIRECTION(3);
        pin->QueryDirection(&d);
        if (d == direction && index-- == 0)
            return pin;
    }
    return found;
}

AVRational CodedSampleAspect(const std::string &path)
{
    Input input = OpenInput(path);
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        throw std::runtime_error("no video in " + path);
    const AVCodecParameters *par = input->streams[index]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> decoder(
        avcodec_alloc_context3(codec), [](AVCodecContext *c) { avcodec_free_context(&c); });
    avcodec_parameters_to_context(decoder.get(), par);
    decoder->sample_aspect_ratio = AVRational{0, 1};
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        throw std::runtime_error("cannot decode " + path);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    AVRational aspect{0, 1};
    bool got = false;
    while (!got && av_read_frame(input.get(), packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder.get(), packet) >= 0)
            got = avcodec_receive_frame(decoder.get(), frame) >= 0;
        av_packet_unref(packet);
    }
    if (!got && avcodec_send_packet(decoder.get(), nullptr) >= 0)
        got = avcodec_receive_frame(decoder.get(), frame) >= 0;
    if (got)
        aspect = frame->sample_aspect_ratio;
    av_frame_free(&frame);
    av_packet_free(&packet);
    return aspect;
}

GstView PlayWithGstreamer(const std::string &path, const std::string &scratch, int width,
                          int height)
{
    GstView view;
    std::string gst;
    for (const char *dir : {"/usr/bin/", "/usr/local/bin/"})
        if (testsupport::Exists(std::string(dir) + "gst-launch-1.0")) {
            gst = std::string(dir) + "gst-launch-1.0";
            break;
        }
    if (gst.empty())
        return view;
    view.ran = true;
    const std::string raw = scratch + "gst.bgr";
    const auto outcome = testsupport::RunProgramWithin(
        gst,
        {"-v", "filesrc", "location=" + path, "!", "decodebin", "!", "videoconvert", "!",
         "videorate", "!", "video/x-raw,format=BGR,framerate=25/1", "!", "filesink",
         "location=" + raw},
        scratch, 60);
    view.status = outcome.status;
    view.err = outcome.err;
    const std::string caps = "pixel-aspect-ratio=(fraction)";
    if (const auto at = outcome.out.rfind(caps); at != std::string::npos)
        view.pixelAspect = outcome.out.substr(
            at + caps.size(),
            outcome.out.find_first_not_of("0123456789/", at + caps.size()) - at - caps.size());
    const std::string bytes = testsupport::Exists(raw) ? testsupport::ReadFile(raw) : "";
    const std::size_t frameBytes = std::size_t(width) * height * 3;
    for (std::size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes)
        view.frames.emplace_back(bytes.begin() + at, bytes.begin() + at + frameBytes);
    std::remove(raw.c_str());
    return view;
}

const GUID &SubtypeOf(media::Container container)
{
    switch (container) {
    case media::Container::Mp4:
        return MEDIASUBTYPE_Mp4;
    case media::Container::Matroska:
        return MEDIASUBTYPE_Matroska;
    case media::Container::WebM:
        return MEDIASUBTYPE_WebM;
    case media::Container::Avi:
        break;
    }
    return MEDIASUBTYPE_Avi;
}

const char *ExtensionOf(media::Container container)
{
    static const char *const kExtensions[] = {"avi", "mp4", "mkv", "webm"};
    return kExtensions[static_cast<int>(container)];
}

media::Container FirstContainerOf(const media::CompressorEntry &entry)
{
    for (auto c : {media::Container::Avi, media::Container::Mp4, media::Container::Matroska,
                   media::Container::WebM})
        if (media::ContainerCarries(c, entry))
            return c;
    return media::Container::Avi;
}

std::string CompressorTestName(std::size_t index)
{
    std::string name = media::VideoCompressorCategory()[index].key;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
}

ComPtr<IBaseFilter> CompressorAt(int index)
{
    ComPtr<IBaseFilter> filter;
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(media::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ICreateDevEnum, devices.PutVoid())))
        return filter;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, monikers.Put(), 0))
        || !monikers)
        return filter;
    monikers->Reset();
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
        if (index-- != 0)
            continue;
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid());
        break;
    }
    return filter;
}

int IndexOf(const std::string &key)
{
    const auto &category = media::VideoCompressorCategory();
    for (std::size_t i = 0; i < category.size(); ++i)
        if (category[i].key == key)
            return static_cast<int>(i);
    return -1;
}

std::vector<std::u16string> FilterNames(IGraphBuilder *graph)
{
    std::vector<std::u16string> names;
    ComPtr<IEnumFilters> filters;
    graph->EnumFilters(filters.Put());
    ComPtr<IBaseFilter> f;
    while (filters->Next(1, f.Put(), nullptr) == S_OK) {
        FILTER_INFO info;
        f->QueryFilterInfo(&info);
        if (info.pGraph)
            info.pGraph->Release();
        names.emplace_back(info.achName);
    }
    return names;
}

RenderGraph::RenderGraph()
{
    media::CoInitialize(nullptr);
    media::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder,
                            graph.PutVoid());
}

RenderGraph::~RenderGraph()
{
    if (control)
        control->Stop();
}

HRESULT RenderGraph::addSource(const std::u16string &path)
{
    return graph->AddSourceFilter(path.c_str(), u"Source", source.Put());
}

HRESULT RenderGraph::addSource(IBaseFilter *filter)
{
    source = ComPtr<IBaseFilter>(filter);
    return graph->AddFilter(filter, u"Source");
}

bool RenderGraph::addCompressor(int index)
{
    compressor = CompressorAt(index);
    if (!compressor)
        return false;
    graph->AddFilter(compressor.Get(), u"Compressor");
    return true;
}

HRESULT RenderGraph::setOutput(const std::u16string &path, const GUID &type)
{
    HRESULT hr = media::CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_ALL,
                                         IID_ICaptureGraphBuilder, builder.PutVoid());
    if (SUCCEEDED(hr))
        hr = builder->SetFiltergraph(graph.Get());
    if (SUCCEEDED(hr))
        hr = builder->SetOutputFileName(&type, path.c_str(), mux.Put(), sink.Put());
    return hr;
}

HRESULT RenderGraph::connectSourceToCompressor()
{
    return graph->Connect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                          PinOf(compressor.Get(), PINDIR_INPUT).Get());
}

HRESULT RenderGraph::connectCompressorToMux()
{
    return graph->Connect(PinOf(compressor.Get(), PINDIR_OUTPUT).Get(),
                          PinOf(mux.Get(), PINDIR_INPUT).Get());
}

HRESULT RenderGraph::addSound(const std::u16string &path)
{
    ComPtr<IBaseFilter> music;
    HRESULT hr = graph->AddSourceFilter(path.c_str(), u"Music source", music.Put());
    if (!music)
        return FAILED(hr) ? hr : E_FAIL;
    return graph->Render(PinOf(music.Get(), PINDIR_OUTPUT).Get());
}

HRESULT RenderGraph::run(bool withoutClock)
{
    graph.As(&control);
    graph.As(&events);
    graph.As(&seeking);
    if (withoutClock) {
        ComPtr<IMediaFilter> filter;
        graph.As(&filter);
        filter->SetSyncSource(nullptr);
    }
    return control->Run();
}

LONG RenderGraph::waitForEnd(std::vector<LONGLONG> *positions, LONG stepMs)
{
    LONG code = 0;
    while (code == 0) {
        code = 0;
        events->WaitForCompletion(stepMs, &code);
        LONGLONG position = 0;
        seeking->GetCurrentPosition(&position);
        if (positions)
            positions->push_back(position);
    }
    return code;
}

HRESULT RenderGraph::stop()
{
    return control->Stop();
}

std::string RenderGraph::errorReason()
{
    ComPtr<IGraphErrorInfo> info;
    std::string text;
    HRESULT code;
    if (SUCCEEDED(graph.As(&info)))
        info->GetErrorReason(&code, &text);
    return text;
}

HRESULT RenderGraph::render(const std::u16string &script, int compressorIndex,
                            const std::u16string &output, const std::u16string &sound)
{
    HRESULT hr = addSource(script);
    if (FAILED(hr))
        return hr;
    if (!addCompressor(compressorIndex))
        return E_FAIL;
    if (FAILED(hr = setOutput(output)) || FAILED(hr = connectSourceToCompressor())
        || FAILED(hr = connectCompressorToMux()))
        return hr;
    if (!sound.empty() && FAILED(hr = addSound(sound)))
        return hr;
    if (FAILED(hr = run()))
        return hr;
    waitForEnd();
    return stop();
}

HRESULT RenderGraph::render(avs::PClip clip, int compressorIndex, const std::u16string &output,
                            const GUID &type)
{
    HRESULT hr = addSource(ClipSource(std::move(clip)).Get());
    if (FAILED(hr))
        return hr;
    if (!addCompressor(compressorIndex))
        return E_FAIL;
    if (FAILED(hr = setOutput(output, type)) || FAILED(hr = connectSourceToCompressor())
        || FAILED(hr = connectCompressorToMux()) || FAILED(hr = run()))
        return hr;
    const LONG code = waitForEnd();
    hr = stop();
    return code == EC_COMPLETE ? hr : E_FAIL;
}

} // namespace mediatest

// Read by ThreadSanitizer at start-up; the same list as tsan-suppressions.txt
// beside this file, which other programs of the render path can be run with.
extern "C" __attribute__((visibility("default"))) const char *__tsan_default_suppressions()
{
    return "race:av_image_copy_to_buffer\nrace:av_image_copy_plane\n";
}
