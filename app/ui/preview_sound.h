// The sound of a preview: the show's sound tracks played from a position, ending
// as the movie's sound ends (cut where the pictures end with a short fade-out,
// kept, or the tracks repeated). Without a sound device the preview is silent.
#pragma once

#include "app/job/movie_options.h"

#include <QIODevice>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QAudioSink;

namespace media {
class SoundReader;
}

namespace quillon {

// The samples the sound device takes, as the movie's sound track has them.
class TSoundFeed : public QIODevice
{
public:
    // Raises the reader's error for a track that cannot be read.
    TSoundFeed(const std::vector<std::string> &Tracks, MovieOptions::SoundEnd End,
               double ShowSeconds);
    ~TSoundFeed() override;

    // The next sample read is the one at `Seconds` into the show.
    void Seek(double Seconds);
    // Sample frames (16-bit stereo at Rate()) up to the next `Frames`; fewer at
    // the end of the sound.
    std::size_t ReadFrames(std::int16_t *Out, std::size_t Frames);
    static int Rate();

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    std::unique_ptr<media::SoundReader> FReader;
    MovieOptions::SoundEnd FEnd;
    std::int64_t FShowFrames; // the pictures' length in sample frames
    std::int64_t FFadeFrames; // the fade-out at the cut
    std::int64_t FAt = 0;     // the next sample frame, from the show's start
};

class TPreviewSound
{
public:
    // Null when there are no tracks; raises the reader's error for a track that
    // cannot be read.
    static std::unique_ptr<TPreviewSound> Make(const std::vector<std::string> &Tracks,
                                               MovieOptions::SoundEnd End, double ShowSeconds);
    ~TPreviewSound();

    void Start(double Seconds);
    void Stop();
    // False when the machine has no sound device: the show plays silently.
    bool Audible() const { return FSink != nullptr; }

private:
    TPreviewSound() = default;

    std::unique_ptr<TSoundFeed> FFeed;
    std::unique_ptr<QAudioSink> FSink;
};

} // namespace quillon
