#include "app/job/script_writer.h"

#include "app/job/app_define.h"
#include "app/job/text_file.h"
#include "platform/forms/sysutils.h"
#include "platform/win32/files.h"

#include <numeric>

namespace quillon {

namespace {

void appendLine(std::string &script, const std::string &line)
{
    script += line;
    script += "\r\n";
}

std::string p(std::size_t i)
{
    return "p" + std::to_string(i);
}

std::string number(long long n)
{
    return std::to_string(n);
}

// The expressions that size a photo's clip for the frame. The frame shows
// W × H pixels of sample aspect n:d, that is a display of (W × n / d) × H;
// a photo's pixels are square.
class Fitting
{
public:
    explicit Fitting(OutputSize frame)
        : Fitting(frame, SampleAspectFor(frame))
    {}

    Fitting(OutputSize frame, SampleAspect sar)
        : frame_(frame)
        , sar_(sar)
    {
        // The display height in frame pixel widths, H × d / n, and the display
        // width in pixel heights, W × n / d, as reduced fractions.
        heightInWidths_ = reduced(static_cast<long long>(frame.height) * sar.den, sar.num);
        widthInHeights_ = reduced(static_cast<long long>(frame.width) * sar.num, sar.den);
        // The display's width over its height, W × n / (H × d).
        aspect_ = reduced(static_cast<long long>(frame.width) * sar.num,
                          static_cast<long long>(frame.height) * sar.den);
    }

    std::string width() const { return number(frame_.width); }
    std::string height() const { return number(frame_.height); }

    // A frame `factor` times smaller each way, its pixels of the same shape.
    Fitting shrunk(int factor) const
    {
        return Fitting({std::max(1, frame_.width / factor), std::max(1, frame_.height / factor)},
                       sar_);
    }
    // Strong enough that nothing of the background draws the eye from the photo.
    int blurSigma() const { return std::max(1, std::max(frame_.width, frame_.height) / 30); }

    // The clip's size once it stands whole in the frame (letterbox), or once
    // it covers the frame (crop), its proportions kept on the display.
    std::string fittedWidth(const std::string &clip) const
    {
        return "Min(" + width() + "," + atLeastOne(scaled(clip, "Width", "Height", heightInWidths_))
               + ")";
    }
    std::string fittedHeight(const std::string &clip) const
    {
        return "Min(" + height() + ","
               + atLeastOne(scaled(clip, "Height", "Width", widthInHeights_)) + ")";
    }
    // The part of the clip that shows once it covers the frame (crop): the
    // whole of one side, and as much of the other as gives the display's
    // proportions. Cut out first and then resized, no picture on the way is
    // larger than the clip or the frame, however long a panorama is.
    std::string shownWidth(const std::string &clip) const
    {
        return "Min(Width(" + clip + ")," + atLeastOne(times("Height(" + clip + ")", aspect_))
               + ")";
    }
    std::string shownHeight(const std::string &clip) const
    {
        return "Min(Height(" + clip + "),"
               + atLeastOne(times("Width(" + clip + ")", {aspect_.den, aspect_.num})) + ")";
    }

private:
    struct Fraction
    {
        long long num, den;
    };

    static Fraction reduced(long long num, long long den)
    {
        const long long g = std::gcd(num, den);
        return {num / g, den / g};
    }

    // Round(side × other side of the frame / other side of the clip).
    static std::string scaled(const std::string &clip, const char *side, const char *other,
                              Fraction factor)
    {
        std::string divisor = std::string(other) + "(" + clip + ")";
        if (factor.den != 1)
            divisor = "(" + divisor + "*" + number(factor.den) + ")";
        return std::string("Round(") + side + "(" + clip + ")*" + number(factor.num) + ".0/"
               + divisor + ")";
    }

    // Round(value × factor).
    static std::string times(const std::string &value, Fraction factor)
    {
        if (factor.den == 1)
            return value + "*" + number(factor.num);
        return "Round(" + value + "*" + number(factor.num) + ".0/" + number(factor.den) + ")";
    }

    static std::string atLeastOne(const std::string &value) { return "Max(1," + value + ")"; }

    OutputSize frame_;
    SampleAspect sar_;
    Fraction heightInWidths_{};
    Fraction widthInHeights_{};
    Fraction aspect_{};
};

// The lines that turn slide i's photo into a frame-sized clip.
void appendFit(std::string &script, std::size_t i, MovieOptions::Fit fit, const Fitting &frame)
{
    const std::string c = p(i);
    const std::string W = frame.width(), H = frame.height();
    const auto resize = [&](const std::string &to, const std::string &from, const std::string &w,
                            const std::string &h) {
        appendLine(script, to + "=BicubicResize(" + from + "," + w + "," + h + ")");
    };
    // The middle of `from` that has the shape of `to` on the display: as much
    // cut off one side as off the other, so the middle stays the middle (one
    // pixel more of the photo is kept where the rest does not halve).
    const auto centredCrop = [&](const std::string &clip, const std::string &from,
                                 const Fitting &to) {
        const std::string x = "(Width(" + from + ")-" + to.shownWidth(from) + ")/2";
        const std::string y = "(Height(" + from + ")-" + to.shownHeight(from) + ")/2";
        appendLine(script, clip + "=Crop(" + from + "," + x + "," + y + ",-" + x + ",-" + y + ")");
    };
    // Where a fitted clip stands: centred, the odd pixel of a band at the right
    // or the bottom.
    const std::string left = "(" + W + "-Width(" + c + "))/2";
    const std::string top = "(" + H + "-Height(" + c + "))/2";
    switch (fit) {
    case MovieOptions::Fit::Stretch:
        resize(c, c, W, H);
        return;
    case MovieOptions::Fit::Letterbox:
        resize(c, c, frame.fittedWidth(c), frame.fittedHeight(c));
        appendLine(script, c + "=AddBorders(" + c + "," + left + "," + top + ",(" + W + "+1-Width("
                               + c + "))/2,(" + H + "+1-Height(" + c + "))/2)");
        return;
    case MovieOptions::Fit::Crop:
        centredCrop(c, c, frame);
        resize(c, c, W, H);
        return;
    case MovieOptions::Fit::Blur: {
        // The background is made from the fitted photo, which is decoded only
        // once, and blurred at a quarter of the frame's size: blurred, the
        // detail it lacks does not show, and the blur costs a sixteenth.
        const std::string b = c + "_b";
        const Fitting quarter = frame.shrunk(4);
        resize(c, c, frame.fittedWidth(c), frame.fittedHeight(c));
        centredCrop(b, c, quarter);
        resize(b, b, quarter.width(), quarter.height());
        appendLine(script, b + "=GaussianBlur(" + b + "," + number(quarter.blurSigma()) + ")");
        resize(b, b, W, H);
        appendLine(script, c + "=Overlay(" + b + "," + c + "," + left + "," + top + ")");
        return;
    }
    }
}

} // namespace

bool PathFitsScript(const std::string &path)
{
    return path.find_first_of("\"\r\n") == std::string::npos;
}

std::string UnusablePhotoMessage(const std::string &path)
{
    return "The photo \"" + path
           + "\" cannot be used: its name contains a double quote or a line break.";
}

std::string BuildScript(const std::vector<std::string> &photos, int standard, int resolution,
                        const std::string &intervalText, const MovieOptions &movie)
{
    const OutputSize size = MovieFrameSize(standard, resolution, movie);
    const std::string wh = std::to_string(size.width) + "," + std::to_string(size.height);
    const std::size_t n = photos.size();
    const int fps = movie.framesPerSecond;
    const std::string second = number(fps);
    // The engine turns a photo upright by itself; only the choice not to is written.
    const std::string source = movie.autoRotate ? ")" : ", auto_rotate=false)";
    const Fitting frame(size);

    std::string script;
    for (std::size_t i = 0; i < n; ++i) {
        if (!PathFitsScript(photos[i]))
            throw forms::Exception(UnusablePhotoMessage(photos[i]));
        // The slide length is worked out in 32 bits, as the interval box holds it.
        const int frames = static_cast<int>(static_cast<unsigned>(forms::StrToInt(intervalText))
                                            * static_cast<unsigned>(fps));
        appendLine(script, p(i) + "=ImageSource(\"" + photos[i] + "\", 1,1," + second + source);
        appendFit(script, i, movie.fit, frame);
        appendLine(script, p(i) + "_t=Loop(" + p(i) + "," + second + ")");
        appendLine(script, p(i) + "=Loop(" + p(i) + "," + std::to_string(frames) + ")");
    }
    for (std::size_t i = 0; i + 1 < n; ++i)
        appendLine(script, "t" + std::to_string(i) + "=Dissolve(" + p(i) + "_t," + p(i + 1) + "_t,"
                               + second + ")");
    std::string all = "all=";
    for (std::size_t i = 0; i < n; ++i) {
        all += p(i);
        if (i + 1 < n)
            all += "+t" + std::to_string(i) + "+";
    }
    appendLine(script, all);
    appendLine(script, "all=BicubicResize(all," + wh + ")");
    appendLine(script, "return all");
    return script;
}

void WriteScript(const std::vector<std::string> &photos, int standard, int resolution,
                 const std::string &intervalText, const MovieOptions &movie)
{
    const std::string script = BuildScript(photos, standard, resolution, intervalText, movie);
    const std::string path = win32::FixedScriptPath();
    if (path.empty())
        throw forms::Exception(win32::TempFolderProblem());
    SaveTextFile(path, script);
}

} // namespace quillon
