#include "app/ui/preview_sound.h"

#include "platform/media/sound_reader.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillon {

namespace {

constexpr int kChannels = media::SoundReader::kChannels;
constexpr qint64 kFrameBytes = kChannels * sizeof(std::int16_t);

} // namespace

TSoundFeed::TSoundFeed(const std::vector<std::string> &Tracks, MovieOptions::SoundEnd End,
                       double ShowSeconds)
    : FReader(std::make_unique<media::SoundReader>(Tracks))
    , FEnd(End)
    , FShowFrames(std::llround(ShowSeconds * Rate()))
    // Two seconds, or half of a shorter show, as in the movie.
    , FFadeFrames(std::min<std::int64_t>(2 * Rate(), FShowFrames / 2))
{
    open(QIODevice::ReadOnly);
}

TSoundFeed::~TSoundFeed() = default;

int TSoundFeed::Rate()
{
    return media::SoundReader::kRate;
}

void TSoundFeed::Seek(double Seconds)
{
    FAt = std::clamp<std::int64_t>(std::llround(Seconds * Rate()), 0, FShowFrames);
    const std::int64_t length = FReader->Length();
    FReader->Seek(FEnd == MovieOptions::SoundEnd::Loop && length > 0 ? FAt % length : FAt);
}

std::size_t TSoundFeed::ReadFrames(std::int16_t *Out, std::size_t Frames)
{
    // The preview ends with its pictures, whatever the sound would do after them.
    Frames = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(Frames), FShowFrames - FAt));
    std::size_t done = 0;
    bool rewound = false;
    while (done < Frames) {
        const std::size_t read = FReader->Read(Out + done * kChannels, Frames - done);
        done += read;
        if (done == Frames || FEnd != MovieOptions::SoundEnd::Loop || (rewound && read == 0))
            break;
        FReader->Seek(0);
        rewound = true;
    }
    // As in the movie, only sound that lasts to the pictures' end fades out
    // there: cut at it, or played again until it.
    const std::int64_t length = FReader->Length();
    const bool lastsToTheEnd = FEnd == MovieOptions::SoundEnd::Loop
                                   ? length > 0
                                   : FEnd == MovieOptions::SoundEnd::Cut && length >= FShowFrames;
    if (lastsToTheEnd && FFadeFrames > 0) {
        const std::int64_t fadeStart = FShowFrames - FFadeFrames;
        for (std::size_t i = 0; i < done; ++i) {
            const std::int64_t at = FAt + static_cast<std::int64_t>(i);
            if (at < fadeStart)
                continue;
            const double gain = static_cast<double>(FShowFrames - at) / FFadeFrames;
            for (int c = 0; c < kChannels; ++c) {
                std::int16_t &sample = Out[i * kChannels + c];
                sample = static_cast<std::int16_t>(std::lround(sample * gain));
            }
        }
    }
    FAt += static_cast<std::int64_t>(done);
    return done;
}

qint64 TSoundFeed::bytesAvailable() const
{
    return (FShowFrames - FAt) * kFrameBytes + QIODevice::bytesAvailable();
}

qint64 TSoundFeed::readData(char *data, qint64 maxSize)
{
    const auto frames = static_cast<std::size_t>(maxSize / kFrameBytes);
    std::vector<std::int16_t> samples(frames * kChannels);
    const std::size_t done = ReadFrames(samples.data(), frames);
    std::memcpy(data, samples.data(), done * kFrameBytes);
    return static_cast<qint64>(done) * kFrameBytes;
}

std::unique_ptr<TPreviewSound> TPreviewSound::Make(const std::vector<std::string> &Tracks,
                                                   MovieOptions::SoundEnd End, double ShowSeconds)
{
    if (Tracks.empty())
        return nullptr;
    std::unique_ptr<TPreviewSound> sound(new TPreviewSound);
    sound->FFeed = std::make_unique<TSoundFeed>(Tracks, End, ShowSeconds);
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    QAudioFormat format;
    format.setSampleRate(TSoundFeed::Rate());
    format.setChannelCount(kChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isNull() && device.isFormatSupported(format))
        sound->FSink = std::make_unique<QAudioSink>(device, format);
    return sound;
}

TPreviewSound::~TPreviewSound()
{
    Stop();
}

void TPreviewSound::Start(double Seconds)
{
    FFeed->Seek(Seconds);
    if (FSink) {
        FSink->stop();
        FSink->start(FFeed.get());
    }
}

void TPreviewSound::Stop()
{
    if (FSink)
        FSink->stop();
}

} // namespace quillon
