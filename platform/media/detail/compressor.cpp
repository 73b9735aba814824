// A video compressor: one FFmpeg encoder behind an input pin that takes the
// encoder's picture format and an output pin that carries the compressed
// stream with the entry's FourCC.
#include "platform/media/detail/filters.h"
#include "platform/media/detail/recipes.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>

namespace media::detail {

namespace {

class VideoCompressor final : public EncoderFilter
{
public:
    VideoCompressor(const CompressorEntry &entry, const Recipe &recipe, const AVCodec *codec)
        : EncoderFilter(std::u16string(entry.friendlyName.begin(), entry.friendlyName.end()))
        , entry_(entry)
        , recipe_(recipe)
        , codec_(codec)
        , settings_(ReadCompressorSettings(entry))
    {
        // Two coded-size pictures waiting: the encoder keeps its own look-ahead,
        // and at 1920 x 1080 each more is 3 MB.
        input_ = addInputPin(u"Input", 256, 2);
        output_ = addOutputPin(u"Output");
    }

    std::vector<MediaType> inputPreferences(const InputPin &) const override
    {
        MediaType wish;
        wish.major = Major::Video;
        wish.pixelFormat = recipe_.pixelFormat;
        return {wish};
    }

    bool acceptsInput(const InputPin &, const MediaType &type) const override
    {
        if (!type.isUncompressedVideo() || type.pixelFormat != recipe_.pixelFormat
            || type.width <= 0 || type.height <= 0 || type.frameRate.num <= 0
            || type.frameRate.den <= 0)
            return false;
        // Some encoders refuse some sizes (multiples of 4, limits): ask this one.
        refusal_.clear();
        return static_cast<bool>(openEncoder(ShapeOf(type, false), 1, &refusal_));
    }

    std::string inputRefusal(const InputPin &) const override { return refusal_; }

    std::vector<MediaType> outputTypes(const OutputPin &) const override
    {
        if (!input_->isConnected())
            return {};
        MediaType in = input_->type();
        MediaType out;
        out.major = Major::Video;
        out.codec = codec_->id;
        out.fourcc = entry_.fourcc;
        out.width = in.width;
        out.height = in.height;
        out.frameRate = in.frameRate;
        out.frameCount = in.frameCount;
        out.sampleAspect = in.sampleAspect;
        MediaType apart = out;
        apart.globalHeader = true;
        return {out, apart};
    }

    HRESULT prepare(std::string *reason) override
    {
        Finish();
        if (!input_->isConnected())
            return S_OK;
        CodecContextPtr encoder = openEncoder(shape(), UsableCores(), reason);
        if (!encoder)
            return E_FAIL;
        if (const HRESULT hr = keepEncoder(std::move(encoder)); FAILED(hr))
            return hr;
        parameters_->codec_tag = entry_.fourcc;
        return S_OK;
    }

    void Start() override
    {
        if (encoder_)
            startThread([this] { stream(); });
    }

    void Finish() override
    {
        EncoderFilter::Finish();
        lastPicture_.reset();
        lastIndex_ = -1;
        repeats_.clear();
        inEncoder_ = 0;
    }

private:
    static EncoderShape ShapeOf(const MediaType &type, bool globalHeader)
    {
        return {type.width, type.height, type.frameRate, type.sampleAspect, globalHeader};
    }

    // The shape of the connected pins.
    EncoderShape shape() const
    {
        return ShapeOf(input_->type(), output_->isConnected() && output_->type().globalHeader);
    }

    CodecContextPtr openEncoder(const EncoderShape &shape, int threads, std::string *reason) const
    {
        return OpenEncoder(entry_, settings_, shape, threads, reason);
    }

    // Why the encoder would not open for the last picture size offered.
    mutable std::string refusal_;

    // A frame that shows the picture of the frame before it is a repeat: it is
    // not encoded, and goes out as an empty packet, which the AVI file keeps as
    // an empty chunk that players take as the last picture shown again. Some
    // repeats are coded all the same:
    //   - those at the key frame positions (every keyFrameInterval frames of the
    //     movie), as key frames, so that a seek finds one as near as in a movie
    //     with every frame coded;
    //   - the last frame of a held stretch, and the last two frames of the
    //     movie: a player that resamples to a constant rate by nearest timestamp
    //     (GStreamer's videorate) would otherwise show the next picture half a
    //     stretch early and drop the end of the movie.
    // A frame is decided once the one after it is known, and, where the
    // movie's length is not known, the two after it.
    void stream()
    {
        FramePtr shell = NewFrame();
        std::deque<Sample> ahead;
        bool ended = false;
        const std::int64_t count = input_->type().frameCount;
        const std::size_t decideWith = count > 0 ? 2 : 3;
        while (!ended) {
            auto sample = take(*input_);
            if (!sample)
                return;
            if (sample->endOfStream)
                ended = true;
            else
                ahead.push_back(std::move(*sample));
            while (!ahead.empty() && (ended || ahead.size() >= decideWith)) {
                Sample front = std::move(ahead.front());
                ahead.pop_front();
                const bool nearEnd
                    = (ended && ahead.size() < 2) || (count > 0 && front.index >= count - 2);
                const bool endsStretch = nearEnd || ahead.front().picture != front.picture;
                if (!handle(std::move(front), endsStretch, shell.get()))
                    return;
            }
        }
        if (encode(nullptr, lastIndex_ + 1) && drain() && deliverRepeats(INT64_MAX))
            endOfStream();
    }

    bool handle(Sample &&sample, bool endsStretch, AVFrame *shell)
    {
        const bool repeat = sample.picture == lastPicture_;
        lastPicture_ = sample.picture;
        lastIndex_ = sample.index;
        if (settings_.encodeEveryFrame)
            return encodePicture(sample, false, shell);
        const bool keyPosition = recipe_.keyFrames != KeyFrames::None
                                 && sample.index % settings_.keyFrameInterval == 0;
        if (repeat && !keyPosition && !endsStretch) {
            // It waits only behind a frame that the encoder still holds.
            repeats_.push_back(sample.index);
            return inEncoder_ > 0 || deliverRepeats(INT64_MAX);
        }
        if (keyPosition && sample.index > 0 && recipe_.forcing == KeyFrameForcing::FreshEncoder
            && !freshEncoder(sample.index))
            return false;
        return encodePicture(sample, keyPosition, shell);
    }

    bool encodePicture(const Sample &sample, bool key, AVFrame *shell)
    {
        int ref = AVERROR(ENOMEM);
        try {
            ref = av_frame_ref(shell, &sample.picture->frame());
        } catch (const std::bad_alloc &) {
        }
        if (ref < 0) {
            context().ErrorAbort(E_OUTOFMEMORY, "Out of memory");
            return false;
        }
        shell->pts = sample.index;
        if (key)
            shell->pict_type = AV_PICTURE_TYPE_I;
        // A fixed quantiser is read from each frame, not from the context.
        if (recipe_.quality == QualityScale::Quantiser)
            shell->quality = encoder_->global_quality;
        const bool sent = encode(shell, sample.index);
        av_frame_unref(shell);
        return sent && drain();
    }

    // Drains the encoder and opens it again, for an encoder that starts a key
    // frame only when it starts. The stream's format was given to the
    // multiplexer once, so the new encoder must describe it the same way.
    bool freshEncoder(std::int64_t index)
    {
        if (!encode(nullptr, index) || !drain())
            return false;
        std::string reason;
        CodecContextPtr fresh = openEncoder(shape(), UsableCores(), &reason);
        if (fresh
            && (fresh->extradata_size != parameters_->extradata_size
                || (fresh->extradata_size > 0
                    && std::memcmp(fresh->extradata, parameters_->extradata,
                                   static_cast<std::size_t>(fresh->extradata_size))
                           != 0)))
            reason = "The compressor \"" + entry_.friendlyName
                     + "\" changed its stream format at frame " + std::to_string(index);
        if (!fresh || !reason.empty()) {
            context().ErrorAbort(E_FAIL, reason);
            return false;
        }
        encoder_ = std::move(fresh);
        return true;
    }

    bool encode(const AVFrame *frame, std::int64_t index)
    {
        const int ret = avcodec_send_frame(encoder_.get(), frame);
        if (frame && ret >= 0)
            ++inEncoder_;
        if (ret < 0 && ret != AVERROR_EOF) {
            context().ErrorAbort(AvErrorToHresult(ret),
                                 "The compressor \"" + entry_.friendlyName + "\" failed on frame "
                                     + std::to_string(index) + ": " + AvError(ret));
            return false;
        }
        return true;
    }

    // Hands every packet the encoder has ready downstream, each after the
    // repeats that come before it.
    bool drain()
    {
        for (;;) {
            PacketPtr packet = NewPacket();
            const int ret = avcodec_receive_packet(encoder_.get(), packet.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return true;
            if (ret < 0) {
                context().ErrorAbort(AvErrorToHresult(ret), "The compressor \""
                                                                + entry_.friendlyName
                                                                + "\" failed: " + AvError(ret));
                return false;
            }
            --inEncoder_;
            if (!deliverRepeats(packet->pts) || !deliver(std::move(packet))
                || (inEncoder_ == 0 && !deliverRepeats(INT64_MAX)))
                return false;
        }
    }

    // The repeats before frame `index`, as empty packets.
    bool deliverRepeats(std::int64_t index)
    {
        while (!repeats_.empty() && repeats_.front() < index) {
            PacketPtr empty = NewPacket();
            empty->pts = empty->dts = repeats_.front();
            empty->duration = 1;
            repeats_.pop_front();
            if (!deliver(std::move(empty)))
                return false;
        }
        return true;
    }

    bool deliver(PacketPtr packet)
    {
        Sample sample;
        sample.timeBase = encoder_->time_base;
        sample.index = packet->pts;
        sample.start = ToReferenceTime(packet->pts, sample.timeBase);
        sample.stop = ToReferenceTime(packet->pts + std::max<std::int64_t>(packet->duration, 1),
                                      sample.timeBase);
        sample.packet = std::move(packet);
        return output_->Deliver(std::move(sample));
    }

    const CompressorEntry entry_;
    const Recipe &recipe_;
    const AVCodec *codec_;
    const CompressorSettings settings_;
    InputPin *input_;
    OutputPin *output_;
    // The stream thread's own.
    PPicture lastPicture_;
    std::int64_t lastIndex_ = -1;
    std::deque<std::int64_t> repeats_; // frames waiting for the packets before them
    int inEncoder_ = 0;                // frames sent whose packets have not come out
};

// Why an encoder cannot take pictures of this size, found before it is opened:
// FFmpeg's own refusals come as a bare error code, and libx265 3.5 writes past
// its buffers on pictures narrower or lower than 64 (an abort when the encoder
// is freed, or a heap corrupted without a word).
std::string SizeRefusal(const Recipe &recipe, int width, int height)
{
    const std::string_view encoder = recipe.encoder;
    if ((encoder == "msvideo1" || encoder == "cinepak") && (width % 4 != 0 || height % 4 != 0))
        return "the sides must be multiples of 4";
    if (encoder == "mpeg4" && (width > 8191 || height > 8191))
        return "the sides can be at most 8191";
    if ((encoder == "libx265" || encoder == "libsvtav1") && (width < 64 || height < 64))
        return "the sides must be at least 64";
    return {};
}

} // namespace

CodecContextPtr OpenEncoder(const CompressorEntry &entry, const CompressorSettings &settings,
                            const EncoderShape &shape, int threads, std::string *reason)
{
    const Recipe *recipe = RecipeFor(entry);
    const AVCodec *codec = recipe ? avcodec_find_encoder_by_name(recipe->encoder) : nullptr;
    if (!codec) {
        *reason = "There is no compressor \"" + entry.friendlyName + "\"";
        return nullptr;
    }
    const auto refuse = [&](const std::string &why) {
        *reason = "Could not open the compressor \"" + entry.friendlyName + "\" for "
                  + std::to_string(shape.width) + " x " + std::to_string(shape.height)
                  + " pictures: " + why;
        return nullptr;
    };
    if (const std::string why = SizeRefusal(*recipe, shape.width, shape.height); !why.empty())
        return refuse(why);
    CodecContextPtr c(avcodec_alloc_context3(codec));
    if (!c) {
        *reason = "Out of memory";
        return nullptr;
    }
    c->width = shape.width;
    c->height = shape.height;
    c->pix_fmt = recipe->pixelFormat;
    c->framerate = shape.frameRate;
    c->time_base = av_inv_q(shape.frameRate);
    c->sample_aspect_ratio = shape.sampleAspect;
    // The pictures are made YUV with the standard-definition matrix at every
    // size; saying so keeps players that take an unmarked large picture for
    // high definition from showing other colours.
    if (const AVPixFmtDescriptor *format = av_pix_fmt_desc_get(c->pix_fmt);
        format && !(format->flags & AV_PIX_FMT_FLAG_RGB) && format->nb_components >= 3) {
        c->colorspace = AVCOL_SPC_SMPTE170M;
        bool fullRange = false;
        PixelLayout(c->pix_fmt, &fullRange);
        if (c->color_range == AVCOL_RANGE_UNSPECIFIED)
            c->color_range = fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    }
    c->thread_count = threads;
    if (shape.globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // AVI has no timestamps, so frames go out in the order they come in; and a
    // repeat is known to follow the packet before it.
    c->max_b_frames = 0;

    switch (recipe->quality) {
    case QualityScale::Quantiser:
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = QuantiserFor(settings.quality) * FF_QP2LAMBDA;
        break;
    case QualityScale::RateFactor:
        av_opt_set_double(c->priv_data, "crf", RateFactorFor(settings.quality), 0);
        av_opt_set(c->priv_data, "preset", "fast", 0);
        break;
    case QualityScale::RateFactor63:
        // Constant quality: no bit rate to aim at.
        c->bit_rate = 0;
        av_opt_set_int(c->priv_data, "crf", RateFactor63For(settings.quality), 0);
        break;
    case QualityScale::None:
        break;
    }
    switch (recipe->keyFrames) {
    case KeyFrames::GopSize:
        c->gop_size = settings.keyFrameInterval;
        break;
    case KeyFrames::KeyIntMin:
        c->keyint_min = settings.keyFrameInterval;
        break;
    case KeyFrames::None:
        break;
    }
    switch (codec->id) {
    case AV_CODEC_ID_H264:
        av_opt_set(c->priv_data, "tune", "stillimage", 0);
        // One frame of look-ahead instead of thirty, and none buffered for the
        // look-ahead's own thread: at 1920 x 1080 about 60 MB less than with
        // ten, in the same time, and on slide shows (whose held pictures reach
        // the encoder once) a movie a sixth smaller at the same PSNR and SSIM
        // than with ten. No look-ahead at all turns the macroblock tree off,
        // which costs a sixth more bytes instead.
        av_opt_set_int(c->priv_data, "rc-lookahead", 1, 0);
        av_opt_set(c->priv_data, "x264-params", "sync-lookahead=0", 0);
        break;
    case AV_CODEC_ID_HEVC:
        // A key frame asked for is one a player can start from; the library's
        // own report on the terminal is left out.
        av_opt_set_int(c->priv_data, "forced-idr", 1, 0);
        av_opt_set(c->priv_data, "x265-params", "log-level=error", 0);
        break;
    case AV_CODEC_ID_VP9:
        av_opt_set(c->priv_data, "deadline", "good", 0);
        av_opt_set_int(c->priv_data, "cpu-used", 4, 0);
        av_opt_set_int(c->priv_data, "row-mt", 1, 0);
        break;
    case AV_CODEC_ID_AV1:
        av_opt_set_int(c->priv_data, "preset", 8, 0);
        break;
    case AV_CODEC_ID_CINEPAK:
        // A fixed number of strips and no extra codebook passes: several
        // times faster than the encoder's search, for a few percent in size.
        av_opt_set_int(c->priv_data, "max_extra_cb_iterations", 0, 0);
        av_opt_set_int(c->priv_data, "min_strips", 3, 0);
        av_opt_set_int(c->priv_data, "max_strips", 3, 0);
        break;
    case AV_CODEC_ID_FFV1:
        // Version 3 codes slices in parallel.
        av_opt_set_int(c->priv_data, "slicecrc", 1, 0);
        c->level = 3;
        break;
    default:
        break;
    }

    if (int ret = avcodec_open2(c.get(), codec, nullptr); ret < 0)
        return refuse(AvError(ret));
    return c;
}

ComPtr<BaseFilter> MakeCompressor(const CompressorEntry &entry)
{
    const Recipe *recipe = RecipeFor(entry);
    const AVCodec *codec = recipe ? avcodec_find_encoder_by_name(recipe->encoder) : nullptr;
    if (!codec)
        return nullptr;
    return MakeCom<VideoCompressor>(entry, *recipe, codec);
}

} // namespace media::detail
