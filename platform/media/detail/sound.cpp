// The sound of a movie: the sound track, a source that plays sound files one
// after another as one decoded stream and ends it against the pictures, and the
// audio encoder that intelligent connect puts between decoded sound and a
// multiplexer that wants it coded.
#include "platform/media/detail/filters.h"
#include "platform/media/detail/held_file.h"

#include "platform/win32/strings.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <string_view>
#include <vector>

namespace media::detail {

namespace {

struct FifoDeleter
{
    void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;

constexpr AVSampleFormat kWorkFormat = AV_SAMPLE_FMT_FLTP;
constexpr int kChunk = 4096; // samples a delivered frame holds at most
// Samples a channel that one step of resampling makes, about: what a decoded
// frame of an ordinary file makes in one step.
constexpr int kMostAtOnce = 1 << 15;
// A looped track this short (samples a channel) is played again from memory,
// and all such tracks together hold at most kReplayBudget samples.
constexpr std::int64_t kReplayLongest = 1 << 16;
constexpr std::int64_t kReplayBudget = 1 << 22;

// Sound an encoder takes: a sample that is not a number becomes silence, an
// infinite one, or one far louder than any sound, the loudest there is. AAC
// refuses the whole frame otherwise, and one such sample in a float file
// failed the movie.
constexpr float kLoudest = 1000; // 60 dB over full scale
void Tame(float *samples, int count)
{
    for (int i = 0; i < count; ++i)
        if (!(std::fabs(samples[i]) <= kLoudest))
            samples[i] = std::isnan(samples[i]) ? 0.0f : samples[i] > 0 ? 1.0f : -1.0f;
}

AVChannelLayout LayoutOf(int channels)
{
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    return layout;
}

class SoundTrack final : public BaseFilter, public ISoundTrack
{
public:
    SoundTrack()
        : BaseFilter(u"Sound track")
    {
        output_ = addOutputPin(u"Sound");
    }

    HRESULT QueryInterface(REFIID riid, void **object) override
    {
        if (object && riid == IID_ISoundTrack) {
            *object = static_cast<ISoundTrack *>(this);
            AddRef();
            return S_OK;
        }
        return BaseFilter::QueryInterface(riid, object);
    }
    ULONG AddRef() override { return BaseFilter::AddRef(); }
    ULONG Release() override { return BaseFilter::Release(); }

    HRESULT AddFile(LPCOLESTR fileName, std::string *reason) override
    {
        std::string ignored;
        if (!reason)
            reason = &ignored;
        if (!fileName)
            return E_POINTER;
        const std::string path = win32::WideToAnsi(fileName);
        HRESULT hr = S_OK;
        auto file = HoldInputFile(path, &hr, reason);
        if (!file)
            return hr;
        OpenSound sound;
        if (!OpenForDecoding(file->openName(), path, &sound, reason))
            return VFW_E_UNSUPPORTED_STREAM;
        std::lock_guard lock(tracksMutex_);
        if (output_->isConnected() && tracks_.empty())
            return VFW_E_ALREADY_CONNECTED; // the format was agreed without it
        tracks_.push_back({path, std::move(file), sound.decoder->sample_rate,
                           sound.decoder->ch_layout.nb_channels});
        return S_OK;
    }

    HRESULT SetEnd(LONG how) override
    {
        if (how != SoundEnd_Cut && how != SoundEnd_Keep && how != SoundEnd_Loop)
            return E_INVALIDARG;
        end_ = how;
        return S_OK;
    }

    std::vector<MediaType> outputTypes(const OutputPin &) const override
    {
        MediaType wish;
        wish.major = Major::Audio;
        wish.sampleFormat = kWorkFormat;
        if (auto type = agreeOutput(*output_, wish))
            return {*type};
        return {};
    }

    std::optional<MediaType> agreeOutput(const OutputPin &, const MediaType &wish) const override
    {
        std::lock_guard lock(tracksMutex_);
        if (tracks_.empty() || !wish.isDecodedAudio()
            || av_get_bytes_per_sample(wish.sampleFormat) <= 0 || wish.channels < 0
            || wish.channels > 2 || wish.sampleRate < 0)
            return std::nullopt;
        // The highest rate and the most channels of the tracks, whichever
        // comes first: a low mono track first no longer lowers the music after
        // it. Where the encoder takes no such rate, it wishes for another.
        int rate = 0;
        int channels = 0;
        for (const Track &track : tracks_) {
            rate = std::max(rate, track.rate);
            channels = std::max(channels, track.channels == 1 ? 1 : 2);
        }
        MediaType out = wish;
        if (out.sampleRate == 0)
            out.sampleRate = rate;
        if (out.channels == 0)
            out.channels = channels;
        return out;
    }

    HRESULT prepare(std::string *reason) override
    {
        Finish();
        if (!output_->isConnected())
            return S_OK;
        {
            std::lock_guard lock(tracksMutex_);
            playing_ = tracks_;
        }
        out_ = output_->type();
        replays_.assign(playing_.size(), Replay{});
        replayHeld_ = 0;
        const REFERENCE_TIME pictures = context().PicturesLength();
        if (end_ == SoundEnd_Keep || pictures <= 0) {
            total_ = -1;
            fade_ = 0;
        } else {
            total_ = av_rescale(pictures, out_.sampleRate, kReferenceTimeBase.den);
            fade_ = std::min<std::int64_t>(2LL * out_.sampleRate, total_ / 2);
        }
        tail_.reset(av_audio_fifo_alloc(kWorkFormat, out_.channels,
                                        static_cast<int>(std::max<std::int64_t>(fade_, kChunk))));
        if (!tail_)
            return E_OUTOFMEMORY;
        if (out_.sampleFormat != kWorkFormat) {
            AVChannelLayout layout = LayoutOf(out_.channels);
            SwrContext *raw = nullptr;
            if (swr_alloc_set_opts2(&raw, &layout, out_.sampleFormat, out_.sampleRate, &layout,
                                    kWorkFormat, out_.sampleRate, 0, nullptr)
                    < 0
                || swr_init(raw) < 0) {
                swr_free(&raw);
                *reason = "Could not convert the sound to its output format";
                return E_FAIL;
            }
            toOutput_.reset(raw);
        }
        return S_OK;
    }

    void Start() override
    {
        if (output_->isConnected())
            startThread([this] { stream(); });
    }

    void Finish() override
    {
        tail_.reset();
        toOutput_.reset();
        playing_.clear();
        replays_.clear();
    }

private:
    struct Track
    {
        std::string path;
        std::shared_ptr<const HeldFile> file;
        int rate;
        int channels;
    };

    // What one play of a track handed to keep(), call by call: a loop plays it
    // again rather than opening and decoding the file once more, which for a
    // track of a few samples took far longer than the pictures.
    struct Replay
    {
        bool complete = false;
        bool abandoned = false;
        std::vector<int> counts;
        std::vector<std::vector<float>> planes;
    };

    ~SoundTrack() override = default;

    enum class Played { File, End, Failed };

    void stream()
    {
        produced_ = 0;
        delivered_ = 0;
        Played played = Played::File;
        for (;;) {
            bool sounded = false;
            for (std::size_t i = 0; i < playing_.size(); ++i) {
                Replay *replay = end_ == SoundEnd_Loop ? &replays_[i] : nullptr;
                played = replay && replay->complete ? playAgain(*replay, &sounded)
                                                    : play(playing_[i], &sounded, replay);
                if (played != Played::File)
                    break;
            }
            // A loop of files without a single sample would never end.
            if (played != Played::File || end_ != SoundEnd_Loop || !sounded)
                break;
        }
        if (played == Played::Failed)
            return;
        // Cut where the pictures end, the last seconds fade out; sound that ends
        // before the pictures simply ends.
        if (!deliverTail(av_audio_fifo_size(tail_.get()), played == Played::End) || isAborted())
            return;
        endOfStream();
    }

    // Decodes the file into the tail; End once the pictures' length is reached.
    // What it hands on goes into `replay` too, while that is short enough.
    Played play(const Track &track, bool *sounded, Replay *replay)
    {
        OpenSound sound;
        std::string reason;
        if (!OpenForDecoding(track.file->openName(), track.path, &sound, &reason)) {
            context().ErrorAbort(VFW_E_UNSUPPORTED_STREAM, reason);
            return Played::Failed;
        }
        SwrPtr resampler;
        SoundShape from; // what `resampler` was made for
        FramePtr decoded = NewFrame();
        PacketPtr packet = NewPacket();
        bool input = true;
        // A file of which every packet was refused is not a silent track.
        std::int64_t samples = 0;
        // An MP4 file knows its track's length to the sample; the AAC
        // encoder's last frame is padded beyond it, a gap of some 17 ms at
        // every join and loop when played. Other files' lengths may be
        // estimates, and are not cut to.
        const AVStream &stream = *sound.input->streams[sound.stream];
        const bool exactLength = std::string_view(sound.input->iformat->name).starts_with("mov,")
                                 && stream.duration != AV_NOPTS_VALUE && stream.duration > 0;
        std::int64_t length = -1; // in samples at the first frame's rate
        int refused = 0;          // why the last packet skipped was refused
        for (;;) {
            if (isAborted())
                return Played::Failed;
            if (input) {
                int ret = av_read_frame(sound.input.get(), packet.get());
                if (ret == AVERROR_EOF) {
                    input = false;
                    ret = avcodec_send_packet(sound.decoder.get(), nullptr);
                } else if (ret < 0) {
                    return failed(track, ret);
                } else if (packet->stream_index == sound.stream) {
                    ret = avcodec_send_packet(sound.decoder.get(), packet.get());
                    av_packet_unref(packet.get());
                    // A damaged packet is skipped, as players skip it.
                    if (RefusedForItsData(ret)) {
                        refused = ret;
                        ret = 0;
                    }
                } else {
                    av_packet_unref(packet.get());
                }
                if (ret < 0 && ret != AVERROR(EAGAIN))
                    return failed(track, ret);
            }
            int refusalsInARow = 0;
            for (;;) {
                const int ret = avcodec_receive_frame(sound.decoder.get(), decoded.get());
                if (ret == AVERROR(EAGAIN))
                    break;
                if (ret == AVERROR_EOF) {
                    if (refused != 0 && samples == 0) {
                        context().ErrorAbort(VFW_E_UNSUPPORTED_STREAM,
                                             "Nothing of the sound file \"" + track.path
                                                 + "\" could be decoded: " + AvError(refused));
                        return Played::Failed;
                    }
                    // What the resampler still holds.
                    const Played flushed = resampler
                                               ? resample(resampler.get(), nullptr, sounded, replay)
                                               : Played::File;
                    if (flushed == Played::File && replay && !replay->abandoned)
                        replay->complete = true;
                    return flushed;
                }
                if (RefusedForItsData(ret) && ++refusalsInARow <= kMostRefusalsInARow) {
                    refused = ret;
                    continue;
                }
                if (ret < 0)
                    return failed(track, ret);
                if (exactLength && length < 0 && decoded->sample_rate > 0)
                    length = av_rescale_q(stream.duration, stream.time_base,
                                          AVRational{1, decoded->sample_rate});
                if (length >= 0 && samples + decoded->nb_samples > length) {
                    decoded->nb_samples
                        = static_cast<int>(std::max<std::int64_t>(length - samples, 0));
                    if (decoded->nb_samples == 0) {
                        av_frame_unref(decoded.get());
                        continue;
                    }
                }
                samples += decoded->nb_samples;
                if (!resampler || !from.Fits(*decoded)) {
                    Played flushed = resampler ? resample(resampler.get(), nullptr, sounded, replay)
                                               : Played::File;
                    if (flushed != Played::File)
                        return flushed;
                    // A file may change its shape midway, past the check when
                    // it was added.
                    if (std::string refusal = SoundShapeRefusal(track.path, decoded->sample_rate,
                                                                decoded->ch_layout.nb_channels);
                        !refusal.empty()) {
                        context().ErrorAbort(VFW_E_UNSUPPORTED_STREAM, refusal);
                        return Played::Failed;
                    }
                    if (!from.Take(*decoded)) {
                        context().ErrorAbort(E_OUTOFMEMORY, "Out of memory");
                        return Played::Failed;
                    }
                    resampler = from.NewResampler(out_.channels, kWorkFormat, out_.sampleRate);
                    if (!resampler) {
                        context().ErrorAbort(E_FAIL,
                                             "Cannot convert the sound of \"" + track.path + "\"");
                        return Played::Failed;
                    }
                }
                const Played played = resample(resampler.get(), decoded.get(), sounded, replay);
                av_frame_unref(decoded.get());
                if (played != Played::File)
                    return played;
            }
        }
    }

    Played failed(const Track &track, int ret)
    {
        context().ErrorAbort(AvErrorToHresult(ret),
                             "Cannot read the sound file \"" + track.path + "\": " + AvError(ret));
        return Played::Failed;
    }

    // Plays what an earlier play of the track handed on, in the same steps.
    Played playAgain(const Replay &replay, bool *sounded)
    {
        std::vector<void *> planes(static_cast<std::size_t>(out_.channels));
        std::size_t at = 0;
        for (const int count : replay.counts) {
            if (isAborted())
                return Played::Failed;
            for (int c = 0; c < out_.channels; ++c)
                planes[c] = const_cast<float *>(replay.planes[c].data() + at);
            if (count > 0)
                *sounded = true;
            const Played played = keep(planes.data(), count);
            if (played != Played::File)
                return played;
            at += static_cast<std::size_t>(count);
        }
        return Played::File;
    }

    void remember(Replay *replay, float *const *planes, int count)
    {
        if (!replay || replay->abandoned)
            return;
        const std::int64_t held = replay->planes.empty() ? 0 : replay->planes[0].size();
        if (held + count > kReplayLongest || replayHeld_ + count > kReplayBudget) {
            replayHeld_ -= held;
            replay->abandoned = true;
            replay->counts = {};
            replay->planes = {};
            return;
        }
        replay->planes.resize(static_cast<std::size_t>(out_.channels));
        for (int c = 0; c < out_.channels; ++c)
            replay->planes[c].insert(replay->planes[c].end(), planes[c], planes[c] + count);
        replay->counts.push_back(count);
        replayHeld_ += count;
    }

    // Resamples `frame` (null: what the resampler holds) into the tail, a
    // piece of it at a time: a frame of 65,535 samples at 1 kHz made 50
    // million a channel at 768 kHz in one go, gigabytes from a file of a few
    // kilobytes. A piece makes at most about kMostAtOnce samples, which are
    // handed on before the next is made.
    Played resample(SwrContext *resampler, const AVFrame *frame, bool *sounded, Replay *replay)
    {
        if (!frame)
            return resamplePiece(resampler, nullptr, 0, sounded, replay);
        const auto format = static_cast<AVSampleFormat>(frame->format);
        const int channels = frame->ch_layout.nb_channels;
        const bool planar = av_sample_fmt_is_planar(format);
        const std::size_t step
            = static_cast<std::size_t>(av_get_bytes_per_sample(format)) * (planar ? 1 : channels);
        const int piece = static_cast<int>(std::clamp<std::int64_t>(
            av_rescale(kMostAtOnce, frame->sample_rate, out_.sampleRate), 1, kMostAtOnce));
        std::vector<const std::uint8_t *> in(static_cast<std::size_t>(planar ? channels : 1));
        for (int at = 0; at < frame->nb_samples; at += piece) {
            for (std::size_t p = 0; p < in.size(); ++p)
                in[p] = frame->extended_data[p] + static_cast<std::size_t>(at) * step;
            const Played played = resamplePiece(
                resampler, in.data(), std::min(piece, frame->nb_samples - at), sounded, replay);
            if (played != Played::File)
                return played;
        }
        return Played::File;
    }

    Played resamplePiece(SwrContext *resampler, const std::uint8_t **in, int count, bool *sounded,
                         Replay *replay)
    {
        const int room = swr_get_out_samples(resampler, count);
        if (room <= 0)
            return Played::File;
        if (static_cast<int>(work_.size()) < out_.channels)
            work_.resize(static_cast<std::size_t>(out_.channels));
        std::vector<std::uint8_t *> planes(static_cast<std::size_t>(out_.channels));
        for (int c = 0; c < out_.channels; ++c) {
            work_[c].resize(static_cast<std::size_t>(room));
            planes[c] = reinterpret_cast<std::uint8_t *>(work_[c].data());
        }
        const int made = swr_convert(resampler, planes.data(), room, in, count);
        if (made < 0) {
            context().ErrorAbort(E_FAIL, "Cannot convert the sound: " + AvError(made));
            return Played::Failed;
        }
        if (made > 0)
            *sounded = true;
        for (int c = 0; c < out_.channels; ++c)
            Tame(work_[c].data(), made);
        remember(replay, reinterpret_cast<float *const *>(planes.data()), made);
        return keep(reinterpret_cast<void **>(planes.data()), made);
    }

    // Takes samples into the tail, cut at the pictures' length; hands on what
    // falls out of the tail's last seconds.
    Played keep(void **planes, int count)
    {
        if (total_ >= 0)
            count = static_cast<int>(std::min<std::int64_t>(count, total_ - produced_));
        if (count > 0) {
            if (av_audio_fifo_write(tail_.get(), planes, count) < count) {
                context().ErrorAbort(E_OUTOFMEMORY, "Out of memory");
                return Played::Failed;
            }
            produced_ += count;
        }
        const int over = av_audio_fifo_size(tail_.get()) - static_cast<int>(fade_);
        if (over > 0 && !deliverTail(over, false))
            return Played::Failed;
        return total_ >= 0 && produced_ >= total_ ? Played::End : Played::File;
    }

    // Hands on the first `count` samples of the tail; fading, they are the last
    // of the track and fade out to silence.
    bool deliverTail(int count, bool fading)
    {
        const int fadeLength = count;
        int done = 0;
        while (done < count) {
            const int n = std::min(kChunk, count - done);
            FramePtr work = NewFrame();
            work->format = kWorkFormat;
            work->nb_samples = n;
            work->sample_rate = out_.sampleRate;
            work->ch_layout = LayoutOf(out_.channels);
            if (av_frame_get_buffer(work.get(), 0) < 0
                || av_audio_fifo_read(tail_.get(), reinterpret_cast<void **>(work->extended_data),
                                      n)
                       < n) {
                context().ErrorAbort(E_OUTOFMEMORY, "Out of memory");
                return false;
            }
            if (fading)
                for (int c = 0; c < out_.channels; ++c) {
                    auto *s = reinterpret_cast<float *>(work->extended_data[c]);
                    for (int i = 0; i < n; ++i)
                        s[i] *= static_cast<float>(fadeLength - (done + i)) / fadeLength;
                }
            FramePtr frame = convert(std::move(work));
            if (!frame)
                return false;
            frame->pts = delivered_;
            Sample sample;
            sample.timeBase = AVRational{1, out_.sampleRate};
            sample.start = ToReferenceTime(delivered_, sample.timeBase);
            sample.stop = ToReferenceTime(delivered_ + n, sample.timeBase);
            sample.sound = std::move(frame);
            delivered_ += n;
            done += n;
            if (!output_->Deliver(std::move(sample)))
                return false;
        }
        return true;
    }

    // The samples in the output format.
    FramePtr convert(FramePtr work)
    {
        if (!toOutput_)
            return work;
        FramePtr out = NewFrame();
        out->format = out_.sampleFormat;
        out->nb_samples = work->nb_samples;
        out->sample_rate = out_.sampleRate;
        out->ch_layout = LayoutOf(out_.channels);
        if (av_frame_get_buffer(out.get(), 0) < 0
            || swr_convert(toOutput_.get(), out->extended_data, out->nb_samples,
                           const_cast<const std::uint8_t **>(work->extended_data), work->nb_samples)
                   != work->nb_samples) {
            context().ErrorAbort(E_OUTOFMEMORY, "Out of memory");
            return nullptr;
        }
        return out;
    }

    OutputPin *output_;
    mutable std::mutex tracksMutex_;
    std::vector<Track> tracks_;
    std::atomic<LONG> end_{SoundEnd_Cut};

    // One run's, fixed from prepare on.
    std::vector<Track> playing_;
    MediaType out_;
    std::int64_t total_ = -1; // samples; -1: no end
    std::int64_t fade_ = 0;
    FifoPtr tail_;    // the samples made but not handed on, at most fade_ of them
    SwrPtr toOutput_; // from the working format, when the output's differs
    std::int64_t produced_ = 0;
    std::int64_t delivered_ = 0;
    std::vector<std::vector<float>> work_;
    std::vector<Replay> replays_; // one for each of playing_ when looping
    std::int64_t replayHeld_ = 0; // samples a channel that they hold
};

// An encoder of decoded sound into the codec that a multiplexer wants.
class AudioEncoder final : public EncoderFilter
{
public:
    explicit AudioEncoder(const AVCodec *codec)
        : EncoderFilter(u"Audio encoder")
        , codec_(codec)
    {
        input_ = addInputPin(u"Input", 256, 8);
        output_ = addOutputPin(u"Output");
    }

    std::vector<MediaType> inputPreferences(const InputPin &) const override
    {
        MediaType wish;
        wish.major = Major::Audio;
        wish.sampleFormat = codec_->sample_fmts ? codec_->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        // The source's own rate first, then the common ones.
        std::vector<MediaType> wishes{wish};
        for (int rate : {48000, 44100}) {
            wish.sampleRate = rate;
            wishes.push_back(wish);
        }
        if (codec_->supported_samplerates)
            for (const int *r = codec_->supported_samplerates; *r; ++r) {
                wish.sampleRate = *r;
                wishes.push_back(wish);
            }
        return wishes;
    }

    bool acceptsInput(const InputPin &, const MediaType &type) const override
    {
        if (!type.isDecodedAudio() || type.channels < 1 || type.channels > 2
            || type.sampleRate <= 0)
            return false;
        bool format = !codec_->sample_fmts;
        for (const AVSampleFormat *f = codec_->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
            format = format || *f == type.sampleFormat;
        bool rate = !codec_->supported_samplerates;
        for (const int *r = codec_->supported_samplerates; r && *r; ++r)
            rate = rate || *r == type.sampleRate;
        return format && rate;
    }

    std::vector<MediaType> outputTypes(const OutputPin &) const override
    {
        if (!input_->isConnected())
            return {};
        MediaType out;
        out.major = Major::Audio;
        out.codec = codec_->id;
        return {out};
    }

    HRESULT prepare(std::string *reason) override
    {
        Finish();
        if (!input_->isConnected())
            return S_OK;
        const MediaType in = input_->type();
        CodecContextPtr c(avcodec_alloc_context3(codec_));
        if (!c)
            return E_OUTOFMEMORY;
        c->sample_fmt = in.sampleFormat;
        c->sample_rate = in.sampleRate;
        c->ch_layout = LayoutOf(in.channels);
        c->time_base = AVRational{1, in.sampleRate};
        // MP4, Matroska and WebM keep the codec's set-up apart from its packets.
        if (!std::string_view(codec_->name).starts_with("pcm_"))
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (codec_->id == AV_CODEC_ID_AAC)
            c->bit_rate = in.channels == 1 ? 96000 : 192000;
        else if (codec_->id == AV_CODEC_ID_OPUS)
            c->bit_rate = in.channels == 1 ? 64000 : 128000;
        if (int ret = avcodec_open2(c.get(), codec_, nullptr); ret < 0) {
            *reason = std::string("Could not open the sound encoder \"") + codec_->name
                      + "\": " + AvError(ret);
            return E_FAIL;
        }
        fifo_.reset(av_audio_fifo_alloc(c->sample_fmt, in.channels, kChunk));
        if (!fifo_)
            return E_OUTOFMEMORY;
        return keepEncoder(std::move(c));
    }

    void Start() override
    {
        if (encoder_)
            startThread([this] { stream(); });
    }

    void Finish() override
    {
        EncoderFilter::Finish();
        fifo_.reset();
    }

private:
    ~AudioEncoder() override = default;

    void stream()
    {
        const bool anySize = encoder_->frame_size <= 0
                             || (codec_->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        const int frameSize = anySize ? kChunk : encoder_->frame_size;
        std::int64_t sent = 0;
        for (;;) {
            auto sample = take(*input_);
            if (!sample)
                return;
            const bool ended = sample->endOfStream;
            if (!ended) {
                const AVFrame &in = *sample->sound;
                if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void **>(in.extended_data),
                                        in.nb_samples)
                    < in.nb_samples) {
                    context().ErrorAbort(E_OUTOFMEMORY, "Out of memory");
                    return;
                }
            }
            // Whole frames; at the end also the short last one.
            while (av_audio_fifo_size(fifo_.get()) >= frameSize
                   || (ended && av_audio_fifo_size(fifo_.get()) > 0)) {
                const int n = std::min(frameSize, av_audio_fifo_size(fifo_.get()));
                FramePtr frame = NewFrame();
                frame->format = encoder_->sample_fmt;
                frame->nb_samples = n;
                frame->sample_rate = encoder_->sample_rate;
                av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout);
                if (av_frame_get_buffer(frame.get(), 0) < 0
                    || av_audio_fifo_read(fifo_.get(),
                                          reinterpret_cast<void **>(frame->extended_data), n)
                           < n) {
                    context().ErrorAbort(E_OUTOFMEMORY, "Out of memory");
                    return;
                }
                frame->pts = sent;
                sent += n;
                if (!encode(frame.get()))
                    return;
            }
            if (ended) {
                if (encode(nullptr))
                    endOfStream();
                return;
            }
        }
    }

    bool encode(const AVFrame *frame)
    {
        int ret = avcodec_send_frame(encoder_.get(), frame);
        while (ret >= 0) {
            PacketPtr packet = NewPacket();
            ret = avcodec_receive_packet(encoder_.get(), packet.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return true;
            if (ret < 0)
                break;
            Sample sample;
            sample.timeBase = encoder_->time_base;
            sample.start = ToReferenceTime(packet->pts, sample.timeBase);
            sample.stop = ToReferenceTime(packet->pts + packet->duration, sample.timeBase);
            sample.packet = std::move(packet);
            if (!output_->Deliver(std::move(sample)))
                return false;
        }
        context().ErrorAbort(AvErrorToHresult(ret),
                             std::string("The sound encoder failed: ") + AvError(ret));
        return false;
    }

    const AVCodec *codec_;
    InputPin *input_;
    OutputPin *output_;
    FifoPtr fifo_;
};

} // namespace

ComPtr<BaseFilter> MakeSoundTrack()
{
    return MakeCom<SoundTrack>();
}

ComPtr<BaseFilter> MakeAudioEncoder(AVCodecID codec)
{
    const AVCodec *encoder = codec == AV_CODEC_ID_OPUS ? avcodec_find_encoder_by_name("libopus")
                                                       : avcodec_find_encoder(codec);
    if (!encoder)
        return nullptr;
    return MakeCom<AudioEncoder>(encoder);
}

} // namespace media::detail
