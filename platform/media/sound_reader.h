// Sound tracks decoded for playing: one track after another as interleaved
// 16-bit stereo at one rate, whatever each file holds, from any position.
// Every track is opened once, when it is checked to be a plain file, and read
// through that descriptor afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace media {

class SoundReader
{
public:
    static constexpr int kRate = 48000;
    static constexpr int kChannels = 2;

    // Opens every track; raises std::runtime_error naming the first one that
    // cannot be read, and why.
    explicit SoundReader(const std::vector<std::string> &tracks);
    ~SoundReader();
    SoundReader(const SoundReader &) = delete;
    SoundReader &operator=(const SoundReader &) = delete;

    // The tracks' length together, in sample frames at kRate.
    std::int64_t Length() const;
    // Goes to `frame` sample frames from the start of the first track; beyond the
    // end, to the end.
    void Seek(std::int64_t frame);
    // Up to `frames` sample frames into `out` (kChannels values each); fewer only
    // at the end of the last track. A track that breaks off counts as ended.
    std::size_t Read(std::int16_t *out, std::size_t frames);

private:
    class Track;
    std::vector<std::unique_ptr<Track>> tracks_;
    std::vector<std::int64_t> starts_; // where each track begins, in sample frames
    std::size_t current_ = 0;
};

} // namespace media
