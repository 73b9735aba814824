#include "app/job/movie_options.h"

#include <algorithm>
#include <charconv>

namespace quillon {

namespace {

template <typename T, std::size_t N>
std::optional<T> fromWord(std::string_view word, const std::pair<const char *, T> (&words)[N])
{
    for (const auto &[text, value] : words)
        if (word == text)
            return value;
    return std::nullopt;
}

template <typename T, std::size_t N>
const char *toWord(T value, const std::pair<const char *, T> (&words)[N])
{
    for (const auto &[text, v] : words)
        if (v == value)
            return text;
    return words[0].first;
}

using Fit = MovieOptions::Fit;
using Container = MovieOptions::Container;
using SoundEnd = MovieOptions::SoundEnd;

constexpr std::pair<const char *, Fit> kFits[] = {{"stretch", Fit::Stretch},
                                                  {"letterbox", Fit::Letterbox},
                                                  {"crop", Fit::Crop},
                                                  {"blur", Fit::Blur}};
constexpr std::pair<const char *, Container> kContainers[] = {{"avi", Container::Avi},
                                                              {"mp4", Container::Mp4},
                                                              {"mkv", Container::Matroska},
                                                              {"webm", Container::WebM}};
constexpr std::pair<const char *, SoundEnd> kSoundEnds[]
    = {{"cut", SoundEnd::Cut}, {"keep", SoundEnd::Keep}, {"loop", SoundEnd::Loop}};

std::optional<int> wholeNumber(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool fitsFrame(int side)
{
    return side >= MinFrameSide && side <= MaxFrameSide && side % 2 == 0;
}

} // namespace

const char *FitWord(Fit fit)
{
    return toWord(fit, kFits);
}

std::optional<Fit> FitFromWord(std::string_view word)
{
    return fromWord(word, kFits);
}

std::optional<Container> ContainerFromWord(std::string_view word)
{
    return fromWord(word, kContainers);
}

const char *SoundEndWord(SoundEnd end)
{
    return toWord(end, kSoundEnds);
}

std::optional<SoundEnd> SoundEndFromWord(std::string_view word)
{
    return fromWord(word, kSoundEnds);
}

std::string FrameSizeText(FrameSize size)
{
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::optional<FrameSize> FrameSizeFromText(std::string_view text)
{
    constexpr std::pair<const char *, FrameSize> kNamed[]
        = {{"720p", {1280, 720}}, {"1080p", {1920, 1080}}, {"2160p", {3840, 2160}}};
    if (auto named = fromWord(text, kNamed))
        return named;
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos)
        return std::nullopt;
    const auto width = wholeNumber(text.substr(0, x));
    const auto height = wholeNumber(text.substr(x + 1));
    if (!width || !height || !fitsFrame(*width) || !fitsFrame(*height))
        return std::nullopt;
    return FrameSize{*width, *height};
}

bool IsOfferedFrameRate(int framesPerSecond)
{
    return std::find(std::begin(FrameRates), std::end(FrameRates), framesPerSecond)
           != std::end(FrameRates);
}

} // namespace quillon
