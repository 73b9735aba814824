// The colour converter that intelligent connect puts between pins that do not
// agree on a picture format. A picture that is the same object as the one
// before it is not converted again: the converted picture is handed on once
// more. Converted pictures live in pooled buffers, reused as the encoder lets
// them go.
//
// Cross-fades are blended in the output format when it is planar with 8 bits a
// sample (the YUV formats of the MPEG encoders): the converted pictures of the
// last few script frames are kept by identity (a held slide is one frame
// object, and a fade blends the frames of the two held slides), and a fade frame
// is the blend of their planes with the engine's own integer weights and
// rounding. Its 24-bit RGB pixels are then never made. Blending after the
// conversion instead of before it moves a sample by at most one level, a chroma
// sample very rarely by two (the conversion is linear up to its rounding): about
// one fade sample in four moves by one, one in half a million chroma samples by
// two, in a slide show of photos.
#include "platform/avs/kernels.h"
#include "platform/media/detail/filters.h"

#include <deque>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace media::detail {

namespace {

constexpr int kAlign = 64;

class ColourConverter final : public BaseFilter
{
public:
    ColourConverter()
        : BaseFilter(u"Color Space Converter")
    {
        input_ = addInputPin(u"Input", 256, 4);
        output_ = addOutputPin(u"XForm Out");
    }

    bool acceptsInput(const InputPin &, const MediaType &type) const override
    {
        bool full;
        return type.isUncompressedVideo() && type.width > 0 && type.height > 0
               && sws_isSupportedInput(PixelLayout(type.pixelFormat, &full));
    }

    std::optional<MediaType> agreeOutput(const OutputPin &, const MediaType &wish) const override
    {
        bool full;
        if (!input_->isConnected() || !wish.isUncompressedVideo()
            || !sws_isSupportedOutput(PixelLayout(wish.pixelFormat, &full)))
            return std::nullopt;
        MediaType in = input_->type();
        if ((wish.width && wish.width != in.width) || (wish.height && wish.height != in.height))
            return std::nullopt;
        MediaType out = in;
        out.pixelFormat = wish.pixelFormat;
        return out;
    }

    HRESULT prepare(std::string *reason) override
    {
        Finish();
        if (!input_->isConnected() || !output_->isConnected())
            return S_OK;
        in_ = input_->type();
        out_ = output_->type();
        bool inFull, outFull;
        const AVPixelFormat from = PixelLayout(in_.pixelFormat, &inFull);
        const AVPixelFormat to = PixelLayout(out_.pixelFormat, &outFull);
        // swscale's fast BGR to YUV 4:2:0 path is four times quicker than the
        // exact one and as good for limited-range levels, but ignores full-range
        // ones: those take the exact path.
        const bool fullRangeYuv
            = outFull && !(av_pix_fmt_desc_get(to)->flags & AV_PIX_FMT_FLAG_RGB);
        const int flags = SWS_BICUBIC | (fullRangeYuv ? SWS_ACCURATE_RND : 0);
        scaler_.reset(sws_getContext(in_.width, in_.height, from, out_.width, out_.height, to,
                                     flags, nullptr, nullptr, nullptr));
        if (!scaler_) {
            *reason = "Could not convert pictures from " + Name(in_.pixelFormat) + " to "
                      + Name(out_.pixelFormat);
            return E_FAIL;
        }
        const int *coefficients = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(scaler_.get(), coefficients, inFull, coefficients, outFull, 0,
                                 1 << 16, 1 << 16);
        bytes_ = av_image_get_buffer_size(out_.pixelFormat, out_.width, out_.height, kAlign);
        pool_.reset(av_buffer_pool_init(bytes_, nullptr));
        blendable_ = in_.pixelFormat == AV_PIX_FMT_BGR24 && Blendable(out_.pixelFormat);
        if (bytes_ <= 0 || !pool_)
            return E_OUTOFMEMORY;
        return S_OK;
    }

    void Start() override
    {
        if (input_->isConnected())
            startThread([this] { stream(); });
    }

    void Finish() override
    {
        scaler_.reset();
        // The pool goes for good once the last picture made from it is gone.
        pool_.reset();
    }

private:
    static std::string Name(AVPixelFormat format)
    {
        const char *name = av_get_pix_fmt_name(format);
        return name ? name : "an unknown format";
    }

    PPicture convert(const AVFrame &source)
    {
        FramePtr frame = newOutputFrame();
        if (!frame)
            return nullptr;
        sws_scale(scaler_.get(), source.data, source.linesize, 0, in_.height, frame->data,
                  frame->linesize);
        return std::make_shared<const Picture>(std::move(frame));
    }

    FramePtr newOutputFrame()
    {
        FramePtr frame = NewFrame();
        frame->buf[0] = av_buffer_pool_get(pool_.get());
        if (!frame->buf[0])
            return nullptr;
        av_image_fill_arrays(frame->data, frame->linesize, frame->buf[0]->data, out_.pixelFormat,
                             out_.width, out_.height, kAlign);
        frame->format = out_.pixelFormat;
        frame->width = out_.width;
        frame->height = out_.height;
        return frame;
    }

    // Whether converted pictures can be blended sample by sample: planar, one
    // byte a sample, no palette.
    static bool Blendable(AVPixelFormat format)
    {
        const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(format);
        if (!d || !(d->flags & AV_PIX_FMT_FLAG_PLANAR)
            || (d->flags
                & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL
                   | AV_PIX_FMT_FLAG_RGB)))
            return false;
        for (int c = 0; c < d->nb_components; ++c)
            if (d->comp[c].depth != 8 || d->comp[c].step != 1 || d->comp[c].shift != 0)
                return false;
        return true;
    }

    PPicture blend(const AVFrame &a, const AVFrame &b, const avs::Frame::Blend &how)
    {
        FramePtr frame = newOutputFrame();
        if (!frame)
            return nullptr;
        const avs::kernels::Blend weights(how.weightA, how.weightB);
        const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(out_.pixelFormat);
        for (int p = 0; p < 4 && frame->data[p]; ++p) {
            const bool chroma = p == 1 || p == 2;
            const int rows = chroma ? AV_CEIL_RSHIFT(out_.height, d->log2_chroma_h) : out_.height;
            const int bytes = av_image_get_linesize(out_.pixelFormat, out_.width, p);
            for (int y = 0; y < rows; ++y)
                weights.row(a.data[p] + static_cast<std::ptrdiff_t>(y) * a.linesize[p],
                            b.data[p] + static_cast<std::ptrdiff_t>(y) * b.linesize[p],
                            frame->data[p] + static_cast<std::ptrdiff_t>(y) * frame->linesize[p],
                            bytes);
        }
        return std::make_shared<const Picture>(std::move(frame));
    }

    // The script frame in the output format: kept from before, blended from the
    // two frames of a fade, or converted. Null when out of memory.
    PPicture fromEngine(const avs::PFrame &frame, int depth)
    {
        for (const Kept &k : kept_)
            if (k.engine.lock() == frame)
                return k.converted;
        const avs::Frame::Blend *how = frame->blend();
        if (blendable_ && how && depth < kMaxBlendDepth) {
            const PPicture a = fromEngine(how->a, depth + 1);
            const PPicture b = a ? fromEngine(how->b, depth + 1) : nullptr;
            return b ? blend(a->frame(), b->frame(), *how) : nullptr;
        }
        PPicture out = convert(Picture(frame).frame());
        if (out && !how) {
            kept_.push_front({frame, out});
            if (kept_.size() > kKept)
                kept_.pop_back();
        }
        return out;
    }

    void stream()
    {
        PPicture lastIn, lastOut;
        while (auto sample = take(*input_)) {
            if (sample->endOfStream) {
                kept_.clear();
                endOfStream();
                return;
            }
            if (!scaler_) // nothing downstream: the pictures go nowhere
                continue;
            if (sample->picture != lastIn) {
                lastIn = sample->picture;
                try {
                    const avs::PFrame &engine = lastIn->engineFrame();
                    lastOut = engine ? fromEngine(engine, 0) : convert(lastIn->frame());
                } catch (const std::bad_alloc &) {
                    lastOut = nullptr;
                }
                if (!lastOut) {
                    kept_.clear();
                    context().ErrorAbort(E_OUTOFMEMORY, "Out of memory");
                    return;
                }
            }
            sample->picture = lastOut;
            if (!output_->Deliver(std::move(*sample)))
                break;
        }
        kept_.clear();
    }

    // Converted script frames kept for later fades: the two slides of a fade
    // (the slide shows' fades never overlap; any other fade is only converted
    // again). Each more is 3 MB at 1920 x 1080.
    static constexpr std::size_t kKept = 2;
    // A fade of fades of fades…: beyond this the blend is made in RGB first.
    static constexpr int kMaxBlendDepth = 8;

    // The script frame is known by a weak reference: its pixels (twice the size
    // of the converted ones) go as soon as the script and the stream let it go,
    // and an expired reference matches no frame made later at the same place.
    struct Kept
    {
        std::weak_ptr<const avs::Frame> engine;
        PPicture converted;
    };

    InputPin *input_;
    OutputPin *output_;
    MediaType in_, out_;
    SwsPtr scaler_;
    BufferPoolPtr pool_;
    int bytes_ = 0;
    bool blendable_ = false;
    std::deque<Kept> kept_; // the stream thread's own
};

} // namespace

ComPtr<BaseFilter> MakeColourConverter()
{
    return MakeCom<ColourConverter>();
}

} // namespace media::detail
