// The clips that scripts are made of, and what the clips of one script share.
// Each Make function checks its arguments as the script function does and
// raises Error with the function's name and what is wrong.
#pragma once

#include "platform/avs/avs.h"
#include "platform/avs/cache.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace avs {

// The frame cache, the scalers and the scratch buffers of one script.
class Environment
{
public:
    explicit Environment(std::size_t cacheBudget = FrameCache::kDefaultBudget);
    ~Environment();
    Environment(const Environment &) = delete;
    Environment &operator=(const Environment &) = delete;

    FrameCache &cache() { return cache_; }

    // A picture that cannot be read when the script is opened (gone, damaged)
    // fails the frames that show it, when they are asked for, instead of the
    // opening of the script: a player shows the rest of the show.
    bool picturesFailWhenShown = false;

    struct Pools;
    Pools &pools() { return *pools_; }

private:
    FrameMemoryUser memoryUser_;
    FrameCache cache_;
    std::unique_ptr<Pools> pools_;
};

using PEnvironment = std::shared_ptr<Environment>;

// Clips are at most this long: frame numbers stay within a signed 32-bit
// integer, as the script language's own numbers do.
constexpr std::int64_t kMaxFrames = 2147483647;
// How many clips a frame request may pass through on its way down; deeper
// chains would need more stack than a streaming thread has.
constexpr int kMaxDepth = 2000;

struct Rational
{
    std::uint32_t num = 25;
    std::uint32_t den = 1;
};

// The rate of `fps` frames per second as a fraction; raises Error for a rate
// that is not a positive number.
Rational RateFromFps(const std::string &function, double fps);

// A still picture shown for end − start + 1 frames, every frame the same Frame.
// The file's header is read now; its pixels when the first frame is asked for.
// With `upright` a JPEG is turned and mirrored as its orientation tag says.
PClip MakeImageSource(const PEnvironment &env, const std::string &path, std::int64_t start,
                      std::int64_t end, Rational fps, bool upright = true);

struct Crop
{
    double left = 0;
    double top = 0;
    double width = 0; // 0 or less: measured from the right edge
    double height = 0;
};

// Exactly width × height, with libswscale's bicubic filter (b, c). A picture
// straight from ImageSource that is made smaller is decoded at the smallest
// DCT-scaled size that still covers the target; so is one cut out of it (by
// `crop` or by a Crop clip), the cut's edges then within half a pixel of the
// decoded picture. Same size and no cropping gives the clip itself.
PClip MakeBicubicResize(const PEnvironment &env, const PClip &child, std::int64_t width,
                        std::int64_t height, double b = 1.0 / 3, double c = 1.0 / 3,
                        Crop crop = {});

// Frames start to end played `times` times (a negative count: as often as a clip
// may be long), the rest as they are.
PClip MakeLoop(const PClip &child, std::int64_t times, std::int64_t start, std::int64_t end);

// The clips one after the other, each pair overlapping by `overlap` frames in a
// linear cross-fade. The k-th frame of an overlap (from 0) is
// (overlap − k)/(overlap + 1) of the first clip and (k + 1)/(overlap + 1) of
// the second, so neither end of the fade is a plain copy.
PClip MakeDissolve(const PEnvironment &env, const std::vector<PClip> &clips, std::int64_t overlap);

// The clips end to end. `name` is the function that the error messages name.
PClip MakeSplice(const std::vector<PClip> &clips, const std::string &name = "Splice");

// MakeSplice one clip at a time: add() checks each clip as MakeSplice would and
// raises the same errors at the clip that causes them; make() is then the
// splice of every clip added, and raises only when none was. Splicing a + b + c + ... pairwise
// copied the growing list of parts once per clip, which a show of thousands of photos felt as
// seconds.
class SpliceBuilder
{
public:
    explicit SpliceBuilder(std::string name = "Splice");
    void add(const PClip &clip);
    PClip make();

private:
    void addPart(const PClip &part);

    std::string name_;
    PClip first_;
    std::vector<PClip> kept_;
    std::vector<std::int64_t> starts_;
    std::int64_t total_ = 0;
    int deepest_ = 0;
};

// --- framing a picture: borders, cutting, blurring, laying one over another ---

// The picture with bands of `colour` (0xRRGGBB) added on each side.
PClip MakeAddBorders(const PEnvironment &env, const PClip &child, std::int64_t left,
                     std::int64_t top, std::int64_t right, std::int64_t bottom,
                     std::int64_t colour = 0);

// The width × height area from (left, top); a width or height of 0 or less
// counts from the right or bottom edge, as (-right, -bottom). The whole picture
// gives the clip itself.
PClip MakeCrop(const PEnvironment &env, const PClip &child, std::int64_t left, std::int64_t top,
               std::int64_t width, std::int64_t height);

// A Gaussian blur of standard deviation `sigma` pixels (three box blurs in
// each direction, the edges extended); 0 gives the clip itself.
PClip MakeGaussianBlur(const PEnvironment &env, const PClip &child, double sigma);

// `overlay` laid over `base` with its top left corner at (x, y), cut to the
// base's frame. The result has the base's size and length; past its own end
// the overlay shows its last frame.
PClip MakeOverlay(const PEnvironment &env, const PClip &base, const PClip &overlay, std::int64_t x,
                  std::int64_t y);

} // namespace avs
