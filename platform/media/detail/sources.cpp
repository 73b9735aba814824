// The two sources: a slide-show script evaluated by the script engine, and an
// audio file read by libavformat.
#include "platform/media/detail/filters.h"
#include "platform/media/detail/held_file.h"

#include "platform/avs/avs.h"
#include "platform/avs/demuxers.h"
#include "platform/win32/files.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace media::detail {

namespace {

// The six frame sizes of the NTSC and PAL choices are television frames, which
// show at 4:3 whatever their pixel counts; every other size has square pixels.
AVRational SampleAspectOf(int width, int height)
{
    static constexpr struct
    {
        int width, height;
    } kTelevision[] = {{720, 480}, {352, 480}, {352, 240}, {720, 576}, {352, 576}, {352, 288}};
    for (const auto &tv : kTelevision)
        if (tv.width == width && tv.height == height) {
            AVRational sar{1, 1};
            av_reduce(&sar.num, &sar.den, 4LL * height, 3LL * width, INT_MAX);
            return sar;
        }
    return {1, 1};
}

bool EndsWithNoCase(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size()
           && std::equal(suffix.rbegin(), suffix.rend(), text.rbegin(), [](char a, char b) {
                  return std::tolower(static_cast<unsigned char>(a))
                         == std::tolower(static_cast<unsigned char>(b));
              });
}

// The frames of the clip are made by several threads at once (the engine
// allows it, and a photo change or a cross-fade frame is real work), a bounded
// window ahead of the frame being delivered; they are handed on strictly in
// order by the filter's own thread.
class ScriptSource final : public BaseFilter
{
public:
    explicit ScriptSource(avs::PClip clip)
        : BaseFilter(u"Script source")
        , clip_(std::move(clip))
        , info_(clip_->GetVideoInfo())
        , picturesAhead_(picturesAhead())
    {
        output_ = addOutputPin(u"Video");
    }

    std::vector<MediaType> outputTypes(const OutputPin &) const override
    {
        MediaType t;
        t.major = Major::Video;
        t.pixelFormat = AV_PIX_FMT_BGR24;
        t.width = info_.width;
        t.height = info_.height;
        t.frameRate = rate();
        t.frameCount = info_.frameCount;
        t.sampleAspect = SampleAspectOf(info_.width, info_.height);
        return {t};
    }

    REFERENCE_TIME duration() const override
    {
        return ToReferenceTime(info_.frameCount, av_inv_q(rate()));
    }

    void Start() override
    {
        if (!output_->isConnected())
            return;
        {
            std::lock_guard lock(fetchMutex_);
            window_.clear();
            ahead_.clear();
            pictures_ = 0;
            first_ = 0;
            epoch_ = 1;
            working_ = 0;
            stopped_ = false;
        }
        stopFlag_ = false;
        startThread([this] { stream(); });
    }

private:
    // Frames are made up to kWindow ahead of the one being delivered, and on up
    // to kFarWindow while the frames made ahead hold at most kPicturesAhead
    // pictures of their own. Held frames are one picture however many they are,
    // and a cross-fade frame has no pixels of its own until somebody reads them,
    // so the fetchers reach the next photos and decode them while the encoder
    // still works on the current slide and its fade, and memory stays bounded
    // for any script.
    //
    // Fetchers do not wait for one another: a frame that needs a photo another
    // fetcher is decoding is skipped for now (the engine says Busy), so the
    // next fetcher goes on to the photo after it, and two photos are decoded at
    // once. A skipped frame is tried again once a fetch has made something new.
    //
    // Large frames bound both in bytes: the pictures made ahead within
    // kAheadBytes (at least two, so that a cross-fade's far photo is ready),
    // and the photos decoded at once within kDecodeBytes, each taking about
    // three frames' worth while it is made (the decoded photo, its resized
    // copy and the framed picture). At television sizes that is the six
    // pictures and one fetcher a core; at 1920 x 1080 two pictures and one
    // fetcher, which is 40 MB less and no slower, the encoder being the work
    // there.
    static constexpr std::int64_t kWindow = 16;
    static constexpr std::int64_t kFarWindow = 768;
    static constexpr int kPicturesAhead = 6;
    static constexpr std::int64_t kAheadBytes = 16 << 20;
    static constexpr std::int64_t kDecodeBytes = 24 << 20;
    static constexpr int kMaxFetchers = 4;

    std::int64_t frameBytes() const
    {
        return std::max<std::int64_t>(std::int64_t{info_.width} * 3 * info_.height, 1);
    }

    int picturesAhead() const
    {
        return static_cast<int>(
            std::clamp<std::int64_t>(kAheadBytes / frameBytes(), 2, kPicturesAhead));
    }

    int fetchers() const
    {
        const std::int64_t cores = std::clamp<std::int64_t>(UsableCores(), 1, kMaxFetchers);
        return static_cast<int>(
            std::clamp<std::int64_t>(kDecodeBytes / (3 * frameBytes()), 1, cores));
    }

    struct Ahead
    {
        int slots = 0;        // slots of the window that hold the frame
        bool picture = false; // it has pixels of its own
    };

    struct Slot
    {
        enum class State { Empty, Taken, Ready } state = State::Empty;
        std::uint64_t skipped = 0; // the epoch in which the frame was found busy
        avs::PFrame frame;
        HRESULT error = S_OK;
        std::string reason;
    };

    void aborted() override
    {
        {
            std::lock_guard lock(fetchMutex_);
            stopped_ = true;
        }
        // After stopped_, so that a photo given up for it is never delivered
        // as a failure.
        stopFlag_ = true;
        fetchCv_.notify_all();
    }

    AVRational rate() const
    {
        return AVRational{static_cast<int>(info_.fpsNumerator),
                          static_cast<int>(info_.fpsDenominator)};
    }

    // With a clock the script plays in real time; without one it goes as fast
    // as the filters downstream take its frames.
    bool waitUntil(REFERENCE_TIME streamTime)
    {
        IReferenceClock *clock = context().Clock();
        if (!clock)
            return true;
        const REFERENCE_TIME due = context().ClockStart() + streamTime;
        for (;;) {
            if (isAborted())
                return false;
            REFERENCE_TIME now = 0;
            if (FAILED(clock->GetTime(&now)) || now >= due)
                return true;
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::min<REFERENCE_TIME>((due - now) / 10, 10000)));
        }
    }

    // The frame a fetcher should make next: the first one of the window that
    // nobody has and that was not found busy since a fetch last made something
    // new, to be made without waiting for other fetchers. When there is none and no
    // fetcher is at work, the frame to deliver next, waiting for whoever makes
    // what it needs. False when there is nothing to do now.
    bool pickLocked(std::int64_t *n, bool *wait)
    {
        for (std::size_t i = 0; i < window_.size(); ++i) {
            const std::int64_t frame = first_ + static_cast<std::int64_t>(i);
            if (frame >= info_.frameCount
                || (static_cast<std::int64_t>(i) >= kWindow && pictures_ >= picturesAhead_))
                break;
            Slot &slot = window_[i];
            if (slot.state != Slot::State::Empty || slot.skipped == epoch_)
                continue;
            slot.state = Slot::State::Taken;
            *n = frame;
            *wait = false;
            return true;
        }
        if (working_ == 0 && first_ < info_.frameCount
            && window_.front().state == Slot::State::Empty) {
            window_.front().state = Slot::State::Taken;
            *n = first_;
            *wait = true;
            return true;
        }
        return false;
    }

    // A fetching thread: makes frames of the window and leaves each (or why it
    // could not be made) in its slot.
    void fetch()
    {
        // A photo being decoded when the run stops is given up, not finished.
        avs::StopOn stopOn(&stopFlag_);
        std::unique_lock lock(fetchMutex_);
        for (;;) {
            std::int64_t n = 0;
            bool wait = false;
            fetchCv_.wait(lock, [&] { return stopped_ || pickLocked(&n, &wait); });
            if (stopped_)
                return;
            const std::uint64_t epoch = epoch_;
            ++working_;
            lock.unlock();
            Slot made;
            bool busy = false;
            try {
                if (wait) {
                    made.frame = clip_->GetFrame(n);
                } else {
                    avs::NoWait noWait;
                    made.frame = clip_->GetFrame(n);
                }
            } catch (const avs::Busy &) {
                busy = true;
            } catch (const std::bad_alloc &) {
                made.error = E_OUTOFMEMORY;
                made.reason = "Out of memory";
            } catch (const std::exception &e) {
                made.error = E_FAIL;
                made.reason = e.what();
            }
            lock.lock();
            --working_;
            // Only a frame not in the window yet (a photo decoded, a fade made)
            // or an error can be what a skipped frame was waiting for; another
            // of the held frames around it cannot.
            if (!busy && (!made.frame || !ahead_.count(made.frame.get())))
                ++epoch_;
            // The slot is still there: only a ready frame is delivered, and Start
            // waits for the fetchers of an earlier run.
            Slot &slot = window_[static_cast<std::size_t>(n - first_)];
            if (busy) {
                slot.state = Slot::State::Empty;
                slot.skipped = epoch;
            } else {
                enterLocked(made.frame);
                made.state = Slot::State::Ready;
                slot = std::move(made);
            }
            fetchCv_.notify_all();
        }
    }

    void enterLocked(const avs::PFrame &frame)
    {
        if (!frame)
            return;
        Ahead &a = ahead_[frame.get()];
        if (a.slots++ == 0 && frame->hasPixels()) {
            a.picture = true;
            ++pictures_;
        }
    }

    void leaveLocked(const avs::PFrame &frame)
    {
        if (!frame)
            return;
        auto it = ahead_.find(frame.get());
        if (it == ahead_.end() || --it->second.slots > 0)
            return;
        if (it->second.picture)
            --pictures_;
        ahead_.erase(it);
    }

    // Frame n once it is made; false when the run stops first.
    bool await(std::int64_t n, Slot *slot)
    {
        std::unique_lock lock(fetchMutex_);
        fetchCv_.wait(lock,
                      [&] { return stopped_ || window_.front().state == Slot::State::Ready; });
        if (stopped_)
            return false;
        *slot = std::move(window_.front());
        leaveLocked(slot->frame);
        window_.pop_front();
        window_.emplace_back();
        first_ = n + 1;
        lock.unlock();
        fetchCv_.notify_all();
        return true;
    }

    void stream()
    {
        {
            std::lock_guard lock(fetchMutex_);
            window_.resize(kFarWindow);
        }
        const int workers = fetchers();
        std::vector<std::thread> fetchers;
        for (int i = 0; i < workers; ++i)
            fetchers.emplace_back([this] {
                nameThread();
                fetch();
            });
        deliver();
        aborted(); // lets the fetchers go, whichever way delivering ended
        for (auto &t : fetchers)
            t.join();
    }

    void deliver()
    {
        const AVRational base = av_inv_q(rate());
        const avs::Frame *lastFrame = nullptr;
        PPicture picture;
        for (std::int64_t n = 0; n < info_.frameCount; ++n) {
            Slot slot;
            if (isAborted() || !await(n, &slot))
                return;
            if (FAILED(slot.error)) {
                context().ErrorAbort(slot.error, slot.reason);
                return;
            }
            if (slot.frame.get() != lastFrame) {
                try {
                    picture = std::make_shared<const Picture>(slot.frame);
                } catch (const std::bad_alloc &) {
                    context().ErrorAbort(E_OUTOFMEMORY, "Out of memory");
                    return;
                }
                lastFrame = slot.frame.get();
            }
            Sample sample;
            sample.picture = picture;
            sample.index = n;
            sample.start = ToReferenceTime(n, base);
            sample.stop = ToReferenceTime(n + 1, base);
            if (!waitUntil(sample.start) || !output_->Deliver(std::move(sample)))
                return;
        }
        endOfStream();
    }

    const avs::PClip clip_;
    const avs::VideoInfo info_;
    const int picturesAhead_; // the bound on pictures_ beyond kWindow
    OutputPin *output_;

    std::mutex fetchMutex_;
    std::condition_variable fetchCv_;
    std::deque<Slot> window_; // frames first_ .. first_ + kFarWindow - 1
    std::unordered_map<const avs::Frame *, Ahead> ahead_; // the frames in the window
    int pictures_ = 0;                                    // of them, those with pixels of their own
    std::int64_t first_ = 0;
    std::uint64_t epoch_ = 1; // counts the fetches that made something new
    int working_ = 0;         // fetchers making a frame
    bool stopped_ = false;
    std::atomic<bool> stopFlag_{false}; // stopped_ for the decoders, read without the lock
};

class AudioSource final : public BaseFilter
{
public:
    AudioSource(std::string path, std::shared_ptr<const HeldFile> file, const AVStream &stream)
        : BaseFilter(u"Audio source")
        , path_(std::move(path))
        , file_(std::move(file))
        , timeBase_(stream.time_base)
    {
        AVCodecParameters *copy = avcodec_parameters_alloc();
        if (!copy || avcodec_parameters_copy(copy, stream.codecpar) < 0) {
            avcodec_parameters_free(&copy);
            throw std::bad_alloc();
        }
        parameters_.reset(copy, [](AVCodecParameters *p) { avcodec_parameters_free(&p); });
        if (stream.duration != AV_NOPTS_VALUE)
            duration_ = ToReferenceTime(stream.duration, stream.time_base);
        if (IsPcm(copy->codec_id) && copy->block_align > 0 && copy->sample_rate > 0)
            pcmBlock_ = copy->block_align;
        output_ = addOutputPin(u"Output");
    }

    std::vector<MediaType> outputTypes(const OutputPin &) const override
    {
        MediaType t;
        t.major = Major::Audio;
        t.codec = parameters_->codec_id;
        t.audio = parameters_;
        return {t};
    }

    const AVCodecParameters *streamParameters(const OutputPin &,
                                              AVRational *timeBase) const override
    {
        if (timeBase)
            *timeBase = timeBase_;
        return parameters_.get();
    }

    REFERENCE_TIME duration() const override { return duration_; }

    HRESULT prepare(std::string *reason) override
    {
        input_.reset();
        if (!output_->isConnected())
            return S_OK;
        // Opened afresh for every run, so that every run reads from the start.
        AVFormatContext *raw = nullptr;
        int ret = avs::OpenInputAlone(&raw, file_->openName().c_str());
        if (ret >= 0) {
            input_.reset(raw);
            ret = avformat_find_stream_info(raw, nullptr);
        }
        if (ret >= 0)
            ret = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (ret < 0) {
            input_.reset();
            *reason = "Cannot read the sound file \"" + path_ + "\": " + AvError(ret);
            return AvErrorToHresult(ret);
        }
        streamIndex_ = ret;
        return S_OK;
    }

    void Start() override
    {
        if (input_)
            startThread([this] { stream(); });
    }

    void Finish() override { input_.reset(); }

private:
    void stream()
    {
        const AVStream *stream = input_->streams[streamIndex_];
        const AVRational base = stream->time_base;
        const std::int64_t first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        std::int64_t next = 0;
        for (;;) {
            if (isAborted())
                return;
            PacketPtr packet = NewPacket();
            const int ret = av_read_frame(input_.get(), packet.get());
            if (ret == AVERROR_EOF)
                break;
            if (ret < 0) {
                context().ErrorAbort(AvErrorToHresult(ret), "Cannot read the sound file \"" + path_
                                                                + "\": " + AvError(ret));
                return;
            }
            if (packet->stream_index != streamIndex_)
                continue;
            // A PCM file cut within a block: the part block goes, as a player
            // leaves it out; copied into a movie it made a packet no player
            // could decode.
            if (pcmBlock_ > 0 && packet->size % pcmBlock_ != 0) {
                packet->size -= packet->size % pcmBlock_;
                if (packet->size == 0)
                    continue;
                packet->duration = av_rescale_q(packet->size / pcmBlock_,
                                                AVRational{1, parameters_->sample_rate}, base);
            }
            std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts - first : next;
            packet->pts = packet->dts = ts;
            next = ts + packet->duration;
            Sample sample;
            sample.timeBase = base;
            sample.start = ToReferenceTime(ts, base);
            sample.stop = ToReferenceTime(ts + packet->duration, base);
            sample.packet = std::move(packet);
            if (!output_->Deliver(std::move(sample)))
                return;
        }
        endOfStream();
    }

    const std::string path_;
    const std::shared_ptr<const HeldFile> file_;
    const AVRational timeBase_;
    std::shared_ptr<const AVCodecParameters> parameters_;
    REFERENCE_TIME duration_ = 0;
    OutputPin *output_;
    InputContextPtr input_;
    int streamIndex_ = -1;
    int pcmBlock_ = 0; // the bytes of a sample of every channel, for PCM
};

HRESULT OpenScriptSource(const std::string &path, ComPtr<BaseFilter> *filter, std::string *reason)
{
    try {
        avs::PClip clip = avs::OpenScript(path);
        const avs::VideoInfo &info = clip->GetVideoInfo();
        if (info.width <= 0 || info.height <= 0 || info.fpsNumerator == 0
            || info.fpsDenominator == 0 || info.fpsNumerator > INT32_MAX
            || info.fpsDenominator > INT32_MAX || info.frameCount < 0) {
            *reason = "The script \"" + path + "\" does not describe a video clip";
            return VFW_E_INVALIDMEDIATYPE;
        }
        *filter = MakeClipSource(std::move(clip));
        return S_OK;
    } catch (const std::bad_alloc &) {
        *reason = "Out of memory";
        return E_OUTOFMEMORY;
    } catch (const std::exception &e) {
        *reason = e.what();
        return E_FAIL;
    }
}

HRESULT OpenAudioSource(const std::string &path, std::shared_ptr<const HeldFile> file,
                        ComPtr<BaseFilter> *filter, std::string *reason)
{
    AVFormatContext *raw = nullptr;
    int ret = avs::OpenInputAlone(&raw, file->openName().c_str());
    if (ret < 0) {
        *reason = "Cannot open \"" + path + "\": " + AvError(ret);
        return VFW_E_UNKNOWN_FILE_TYPE;
    }
    InputContextPtr input(raw);
    if ((ret = avformat_find_stream_info(raw, nullptr)) < 0) {
        *reason = "Cannot read \"" + path + "\": " + AvError(ret);
        return VFW_E_UNKNOWN_FILE_TYPE;
    }
    ret = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (ret < 0) {
        *reason = "\"" + path + "\" has no sound";
        return VFW_E_UNSUPPORTED_STREAM;
    }
    const AVCodecParameters &shape = *raw->streams[ret]->codecpar;
    if (*reason = SoundShapeRefusal(path, shape.sample_rate, shape.ch_layout.nb_channels);
        !reason->empty())
        return VFW_E_UNSUPPORTED_STREAM;
    try {
        *filter = MakeCom<AudioSource>(path, std::move(file), *raw->streams[ret]);
    } catch (const std::bad_alloc &) {
        *reason = "Out of memory";
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

} // namespace

ComPtr<BaseFilter> MakeClipSource(avs::PClip clip)
{
    return MakeCom<ScriptSource>(std::move(clip));
}

std::shared_ptr<const HeldFile> HoldInputFile(const std::string &path, HRESULT *hr,
                                              std::string *reason)
{
    std::string why;
    const int fd = win32::OpenInputFile(path, &why);
    if (fd < 0) {
        const int error = errno;
        *reason = "Cannot open \"" + path + "\": " + why;
        *hr = error == ENOENT ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) : ErrnoToHresult(error);
        return nullptr;
    }
    *hr = S_OK;
    return std::make_shared<const HeldFile>(fd);
}

HRESULT OpenSourceFilter(const std::string &path, ComPtr<BaseFilter> *filter, std::string *reason)
{
    HRESULT hr = S_OK;
    auto file = HoldInputFile(path, &hr, reason);
    if (!file)
        return hr;
    if (EndsWithNoCase(path, ".avs"))
        return OpenScriptSource(path, filter, reason);
    return OpenAudioSource(path, std::move(file), filter, reason);
}

} // namespace media::detail
