#include "platform/media/sound_reader.h"

#include "platform/media/detail/ffmpeg.h"
#include "platform/media/detail/held_file.h"
#include "platform/win32/files.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace media {

using namespace detail;

class SoundReader::Track
{
public:
    explicit Track(const std::string &path)
        : path_(path)
    {
        std::string why;
        const int fd = win32::OpenInputFile(path, &why);
        if (fd < 0)
            fail(why);
        // Closed with the track, also when it cannot be read.
        file_ = std::make_unique<const HeldFile>(fd);
        OpenSound sound;
        if (!OpenForDecoding(file_->openName(), path_, &sound, &why))
            throw std::runtime_error(why);
        input_ = std::move(sound.input);
        decoder_ = std::move(sound.decoder);
        stream_ = sound.stream;
        const AVFormatContext *raw = input_.get();
        const AVStream *stream = raw->streams[stream_];
        if (stream->duration != AV_NOPTS_VALUE)
            length_ = av_rescale_q(stream->duration, stream->time_base, AVRational{1, kRate});
        else if (raw->duration != AV_NOPTS_VALUE)
            length_ = av_rescale(raw->duration, kRate, AV_TIME_BASE);
        startTs_ = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        packet_ = NewPacket();
        frame_ = NewFrame();
        // A file whose header gives no length (a recording written as it was
        // made), or raw AAC, whose length is only a guess from the bit rate of
        // its first frames (60 s for 2 s of silence and 2 s of sound), is
        // measured by decoding it once, so that a seek lands where playing
        // straight through, as the movie does, would be. An MP3's guess is
        // left as it is: exact for a constant bit rate, and a file of varying
        // rate has a header that counts its frames; decoding an hour of it
        // here would hold the window for seconds.
        const bool guessed = raw->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE
                             && std::strcmp(raw->iformat->name, "aac") == 0;
        if (length_ <= 0 || guessed)
            length_ = measured();
    }

    std::int64_t length() const { return length_; }

    void seek(std::int64_t at)
    {
        const AVStream *stream = input_->streams[stream_];
        const std::int64_t ts
            = startTs_ + av_rescale_q(at, AVRational{1, kRate}, stream->time_base);
        avformat_seek_file(input_.get(), stream_, INT64_MIN, ts, ts, 0);
        avcodec_flush_buffers(decoder_.get());
        resampler_.reset();
        placed_ = false;
        pending_.clear();
        taken_ = 0;
        ended_ = false;
        flushed_ = false;
        target_ = at;
    }

    std::size_t read(std::int16_t *out, std::size_t frames)
    {
        std::size_t done = 0;
        while (done < frames) {
            const std::size_t ready = pending_.size() / kChannels - taken_;
            if (ready > 0) {
                const std::size_t n = std::min(ready, frames - done);
                std::memcpy(out + done * kChannels, pending_.data() + taken_ * kChannels,
                            n * kChannels * sizeof(std::int16_t));
                taken_ += n;
                done += n;
                continue;
            }
            if (ended_ || !decodeMore())
                break;
        }
        return done;
    }

private:
    std::int64_t measured()
    {
        std::vector<std::int16_t> scratch(std::size_t{4096} * kChannels);
        std::int64_t frames = 0;
        while (const std::size_t got = read(scratch.data(), 4096))
            frames += static_cast<std::int64_t>(got);
        seek(0);
        return frames;
    }

    [[noreturn]] void fail(const std::string &why) const
    {
        throw std::runtime_error("Cannot play the sound file \"" + path_ + "\": " + why);
    }

    // Decodes until new samples wait in pending_; false at the end of the track.
    // A damaged packet is passed over, as the movie passes over it.
    bool decodeMore()
    {
        pending_.clear();
        taken_ = 0;
        int refusalsInARow = 0;
        while (pending_.empty()) {
            int ret = avcodec_receive_frame(decoder_.get(), frame_.get());
            if (ret == 0) {
                convert(frame_.get());
                av_frame_unref(frame_.get());
                continue;
            }
            if (ret == AVERROR_EOF) {
                if (!flushed_ && resampler_)
                    convert(nullptr);
                flushed_ = true;
                ended_ = pending_.empty();
                return !ended_;
            }
            if (RefusedForItsData(ret) && ++refusalsInARow <= kMostRefusalsInARow)
                continue;
            if (ret != AVERROR(EAGAIN)) {
                ended_ = true;
                return false;
            }
            refusalsInARow = 0;
            ret = av_read_frame(input_.get(), packet_.get());
            if (ret < 0) {
                avcodec_send_packet(decoder_.get(), nullptr);
                continue;
            }
            if (packet_->stream_index == stream_)
                ret = avcodec_send_packet(decoder_.get(), packet_.get());
            av_packet_unref(packet_.get());
            if (ret < 0 && ret != AVERROR(EAGAIN) && !RefusedForItsData(ret)) {
                ended_ = true;
                return false;
            }
        }
        return true;
    }

    // Resamples a decoded frame (null: what the resampler still holds) into
    // pending_, leaving out what lies before the position sought. A frame of
    // another format, rate or layout than the ones before it (two recordings
    // joined) gets a resampler of its own, once the old one has given up what
    // it still held.
    void convert(const AVFrame *frame)
    {
        if (frame && resampler_ && !from_.Fits(*frame)) {
            resample(nullptr);
            resampler_.reset();
        }
        if (frame && !resampler_) {
            if (frame->ch_layout.nb_channels <= 0 || !from_.Take(*frame)
                || !(resampler_ = from_.NewResampler(kChannels, AV_SAMPLE_FMT_S16, kRate))) {
                ended_ = true;
                return;
            }
            if (!placed_) {
                // Where the first frame after a seek stands decides how much of
                // it lies before the target; later ones follow on from it.
                const AVStream *stream = input_->streams[stream_];
                const std::int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts - startTs_ : 0;
                position_ = av_rescale_q(pts, stream->time_base, AVRational{1, kRate});
                placed_ = true;
            }
        }
        if (resampler_)
            resample(frame);
    }

    void resample(const AVFrame *frame)
    {
        const int room = swr_get_out_samples(resampler_.get(), frame ? frame->nb_samples : 0);
        if (room <= 0)
            return;
        const std::size_t before = pending_.size();
        pending_.resize(before + static_cast<std::size_t>(room) * kChannels);
        std::uint8_t *outPlanes[1] = {reinterpret_cast<std::uint8_t *>(pending_.data() + before)};
        const int made
            = swr_convert(resampler_.get(), outPlanes, room,
                          frame ? const_cast<const std::uint8_t **>(frame->extended_data) : nullptr,
                          frame ? frame->nb_samples : 0);
        pending_.resize(before + static_cast<std::size_t>(std::max(made, 0)) * kChannels);
        const std::int64_t start = position_;
        position_ += std::max(made, 0);
        if (start < target_) {
            const std::size_t skip = static_cast<std::size_t>(
                std::min<std::int64_t>(target_ - start, std::max(made, 0)));
            pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(before),
                           pending_.begin()
                               + static_cast<std::ptrdiff_t>(before + skip * kChannels));
        }
    }

    const std::string path_;
    std::unique_ptr<const HeldFile> file_; // read through by input_, so it goes after it
    InputContextPtr input_;
    CodecContextPtr decoder_;
    SwrPtr resampler_;
    SoundShape from_; // what resampler_ was made for
    PacketPtr packet_;
    FramePtr frame_;
    int stream_ = -1;
    std::int64_t startTs_ = 0;
    std::int64_t length_ = 0;
    std::int64_t position_ = 0; // of the next sample the resampler gives, in kRate frames
    std::int64_t target_ = 0;   // samples before this are left out
    std::vector<std::int16_t> pending_;
    std::size_t taken_ = 0;
    bool ended_ = false;
    bool flushed_ = false;
    bool placed_ = false; // position_ known since the last seek
};

SoundReader::SoundReader(const std::vector<std::string> &tracks)
{
    std::int64_t start = 0;
    for (const std::string &path : tracks) {
        tracks_.push_back(std::make_unique<Track>(path));
        starts_.push_back(start);
        start += tracks_.back()->length();
    }
    starts_.push_back(start);
}

SoundReader::~SoundReader() = default;

std::int64_t SoundReader::Length() const
{
    return starts_.back();
}

void SoundReader::Seek(std::int64_t frame)
{
    frame = std::clamp<std::int64_t>(frame, 0, Length());
    current_ = 0;
    while (current_ + 1 < tracks_.size() && frame >= starts_[current_ + 1])
        ++current_;
    if (current_ < tracks_.size())
        tracks_[current_]->seek(frame - starts_[current_]);
}

std::size_t SoundReader::Read(std::int16_t *out, std::size_t frames)
{
    std::size_t done = 0;
    while (done < frames && current_ < tracks_.size()) {
        done += tracks_[current_]->read(out + done * kChannels, frames - done);
        if (done < frames) {
            if (++current_ < tracks_.size())
                tracks_[current_]->seek(0);
        }
    }
    return done;
}

} // namespace media
