// What the media tests share: a graph built step by step the way the renderer
// builds it, a WAV writer, and an AVI prober and decoder on libavformat.
#pragma once

#include "platform/avs/avs.h"
#include "platform/media/compressors.h"
#include "platform/media/dshow.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mediatest {

// A PCM WAV file of a sine tone, after `silence` seconds of silence (of the
// `seconds` in all), in the channels from `soundingFrom` on (the others silent).
void WriteWav(const std::string &path, int sampleRate, int channels, double seconds,
              double silence = 0, int soundingFrom = 0);

// A sine tone made by the ffmpeg command in the format that the name's extension
// says (".mp3", ".flac", ".opus"...), coded with `codec` when it is given.
void MakeTone(const std::string &path, double seconds, int sampleRate, int channels,
              const std::string &codec = "");

struct StreamInfo
{
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codec = AV_CODEC_ID_NONE;
    std::string tag; // the FourCC as text; "" for 0
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};    // the stream's own rate, also where frames last longer
    AVRational sampleAspect{0, 1}; // as the container says
    AVRational codedAspect{0, 1};  // as the stream's headers (or the container) say
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;
    AVColorSpace colourSpace = AVCOL_SPC_UNSPECIFIED; // the YUV matrix the stream says it uses
    std::int64_t packets = 0; // the coded chunks read from the file (empty ones are not read)
    std::int64_t keyPackets = 0;
    // Video: the frames a player shows at the stream's rate, by the packets'
    // timestamps and durations: an empty chunk, or a packet that lasts longer,
    // is a picture shown again.
    std::int64_t frames = 0;
    double end = 0;                      // when the last packet ends, in seconds
    std::vector<std::int64_t> keyFrames; // video: the frame numbers of the key frames
    double seconds = 0;                  // the stream's duration as the header says, when it does
    std::int64_t headerLength = 0;       // the stream header's length, in frames or audio blocks
    std::int64_t audioSamples = 0;       // PCM audio: samples per channel in the file
};

struct AviInfo
{
    std::string format;
    std::vector<StreamInfo> streams;
    const StreamInfo *video() const;
    const StreamInfo *audio() const;
};

// Opens and reads the whole file; raises std::runtime_error when libavformat
// cannot.
AviInfo ProbeAvi(const std::string &path);

// The sound of the file's first sound stream as a player plays it, channel by
// channel, as floats.
struct Sound
{
    int sampleRate = 0;
    // When the first sample plays, as the timestamp of its frame says.
    double start = 0;
    std::vector<std::vector<float>> channels;
    double seconds() const
    {
        return channels.empty() ? 0 : double(channels[0].size()) / sampleRate;
    }
    // The root mean square of the samples of all channels from `from` to `to` seconds.
    double level(double from, double to) const;
};
Sound DecodeSound(const std::string &path);

// Frame `n` of the file's video stream as 24-bit BGR, width × 3 bytes a row: as a
// player shows it, the last decoded picture whose timestamp is not after n.
std::vector<std::uint8_t> DecodeFrame(const std::string &path, std::int64_t n);

// Every frame of the file's video stream as a player shows it at a constant
// rate, 24-bit BGR as DecodeFrame gives them, from frame 0 to the end of the
// stream (the header's length, or the end of the last packet).
std::vector<std::vector<std::uint8_t>> DecodeAllFrames(const std::string &path);

// Frame `n` as a player shows it after seeking there: libavformat's seek to the
// key frame at or before n, then decoding on to n.
std::vector<std::uint8_t> SeekToFrame(const std::string &path, std::int64_t n);

// Frame `n` of the file's video stream as the decoder gives it: its first three
// planes, tightly packed.
struct DecodedPlanes
{
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width[3] = {};
    int height[3] = {};
    std::vector<std::uint8_t> plane[3];
};
DecodedPlanes DecodePlanes(const std::string &path, std::int64_t n);

// Mean absolute difference per channel between two BGR pictures of one size.
double MeanDifference(const std::vector<std::uint8_t> &a, const std::vector<std::uint8_t> &b);

// A picture of the engine as tightly packed BGR rows.
std::vector<std::uint8_t> Packed(const avs::Frame &frame);

// The steps of the render, by hand, with the calls the renderer makes. Each
// step returns the HRESULT that the renderer looks at.
class RenderGraph
{
public:
    RenderGraph();
    ~RenderGraph();

    HRESULT addSource(const std::u16string &path); // "Source"
    HRESULT addSource(IBaseFilter *filter);        // a source made elsewhere
    bool addCompressor(int index);                 // "Compressor"; false when none
    // builder + SetOutputFileName
    HRESULT setOutput(const std::u16string &path, const GUID &type = MEDIASUBTYPE_Avi);
    HRESULT connectSourceToCompressor();
    HRESULT connectCompressorToMux();
    HRESULT addSound(const std::u16string &path); // "Music source" + Render
    HRESULT run(bool withoutClock = true);
    // Waits in steps of `stepMs` until the event code is not 0; returns it and
    // the positions read after every wait.
    LONG waitForEnd(std::vector<LONGLONG> *positions = nullptr, LONG stepMs = 100);
    HRESULT stop();
    std::string errorReason();

    // Everything above in order, as a normal render does; the first failure ends it.
    HRESULT render(const std::u16string &script, int compressor, const std::u16string &output,
                   const std::u16string &sound = u"");
    // The same from a clip made in the test, into a file of `type`, without sound:
    // S_OK once the run completed; errorReason() tells why it did not.
    HRESULT render(avs::PClip clip, int compressor, const std::u16string &output,
                   const GUID &type = MEDIASUBTYPE_Avi);

    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> source, compressor, mux;
    ComPtr<ICaptureGraphBuilder> builder;
    ComPtr<IFileSinkFilter> sink;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IMediaSeeking> seeking;
};

// The n-th pin of `filter` with `direction`, as the renderer's lookup finds it.
ComPtr<IPin> PinOf(IBaseFilter *filter, PIN_DIRECTION direction, int index = 0);

// The compressor at `index` of the category, found the way the renderer walks
// the monikers; null when there is none.
ComPtr<IBaseFilter> CompressorAt(int index);

// The position in the compressor category of the entry with FFmpeg encoder
// `key` ("mpeg4", "ffv1", ...), or -1 when this FFmpeg lacks it.
int IndexOf(const std::string &key);

// The picture's aspect as the stream's own headers say it (ignoring the
// container), by decoding its first frame; 0/1 when they do not say.
AVRational CodedSampleAspect(const std::string &path);

// The file's pictures as GStreamer shows them at 25 frames a second
// (filesrc ! decodebin ! videoconvert ! videorate), 24-bit BGR as DecodeFrame
// gives them, and the pixel-aspect-ratio of its caps ("10/11"). `ran` is false
// when gst-launch-1.0 is not installed.
struct GstView
{
    bool ran = false;
    int status = -1;
    std::string err;
    std::string pixelAspect;
    std::vector<std::vector<std::uint8_t>> frames;
};
GstView PlayWithGstreamer(const std::string &path, const std::string &scratch, int width,
                          int height);

// The file type, the name's extension and the first container (in the order
// AVI, MP4, Matroska, WebM) that carries the entry.
const GUID &SubtypeOf(media::Container container);
const char *ExtensionOf(media::Container container);
media::Container FirstContainerOf(const media::CompressorEntry &entry);

// The key of the category's entry at `index` as a test's name may spell it
// ("libvpx_vp9").
std::string CompressorTestName(std::size_t index);

// The names of the filters in the graph, in its order.
std::vector<std::u16string> FilterNames(IGraphBuilder *graph);

} // namespace mediatest
