// Helpers shared by the script engine's tests: a clip made in the test whose
// frames tell their number, pixel access, and a reference Mitchell–Netravali
// resize in floating point that does not use libswscale.
#pragma once

#include "pictures.h"
#include "platform/avs/avs.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

namespace avstest {

struct Bgr
{
    int b, g, r;
};

inline Bgr PixelAt(const avs::Frame &f, int x, int y)
{
    const std::uint8_t *p = f.row(y) + x * 3;
    return {p[0], p[1], p[2]};
}

// A clip whose frame n is filled with the grey level n % 256; it counts how
// often each frame was made.
class NumberedClip : public avs::Clip
{
public:
    NumberedClip(std::int64_t frames, int width = 8, int height = 4, std::uint32_t fps = 25)
    {
        vi_.width = width;
        vi_.height = height;
        vi_.fpsNumerator = fps;
        vi_.frameCount = frames;
    }
    const avs::VideoInfo &GetVideoInfo() const override { return vi_; }
    avs::PFrame GetFrame(std::int64_t n) override
    {
        made.fetch_add(1);
        auto f = std::make_shared<avs::Frame>(vi_.width, vi_.height);
        for (int y = 0; y < vi_.height; ++y)
            for (int x = 0; x < vi_.width * 3; ++x)
                f->mutableRow(y)[x] = static_cast<std::uint8_t>(n % 256);
        return f;
    }
    std::atomic<int> made{0};

private:
    avs::VideoInfo vi_;
};

// The number that a frame of NumberedClip carries.
inline int NumberOf(const avs::PFrame &f)
{
    return f->row(0)[0];
}

// Separable resize with the two-parameter cubic of Mitchell and Netravali,
// widened by the scale factor when shrinking, sample centres aligned, edges
// repeated.
class ReferenceResize
{
public:
    ReferenceResize(double b, double c)
        : b_(b)
        , c_(c)
    {}

    // src: BGR rows of w × h; returns BGR rows of dw × dh (unrounded doubles).
    std::vector<double> run(const std::vector<std::uint8_t> &src, int w, int h, int dw,
                            int dh) const
    {
        std::vector<double> tmp(static_cast<std::size_t>(dw) * h * 3);
        std::vector<double> out(static_cast<std::size_t>(dw) * dh * 3);
        std::vector<double> line, res;
        for (int ch = 0; ch < 3; ++ch) {
            line.resize(w);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x)
                    line[x] = src[(static_cast<std::size_t>(y) * w + x) * 3 + ch];
                pass(line, dw, res);
                for (int x = 0; x < dw; ++x)
                    tmp[(static_cast<std::size_t>(y) * dw + x) * 3 + ch] = res[x];
            }
            line.resize(h);
            for (int x = 0; x < dw; ++x) {
                for (int y = 0; y < h; ++y)
                    line[y] = tmp[(static_cast<std::size_t>(y) * dw + x) * 3 + ch];
                pass(line, dh, res);
                for (int y = 0; y < dh; ++y)
                    out[(static_cast<std::size_t>(y) * dw + x) * 3 + ch] = res[y];
            }
        }
        return out;
    }

private:
    double kernel(double x) const
    {
        const double B = b_, C = c_;
        x = std::fabs(x);
        if (x < 1)
            return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B))
                   / 6;
        if (x < 2)
            return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x
                    + (8 * B + 24 * C))
                   / 6;
        return 0;
    }

    void pass(const std::vector<double> &in, int m, std::vector<double> &out) const
    {
        const int n = static_cast<int>(in.size());
        const double scale = static_cast<double>(n) / m;
        const double support = scale > 1 ? scale : 1;
        out.assign(m, 0);
        for (int i = 0; i < m; ++i) {
            const double centre = (i + 0.5) * scale - 0.5;
            double sum = 0, weights = 0;
            for (int j = static_cast<int>(std::floor(centre - 2 * support));
                 j <= static_cast<int>(std::ceil(centre + 2 * support)); ++j) {
                const double w = kernel((j - centre) / support);
                sum += w * in[std::clamp(j, 0, n - 1)];
                weights += w;
            }
            out[i] = sum / weights;
        }
    }

    double b_, c_;
};

// Largest and mean difference between a frame and reference values.
struct Difference
{
    double worst = 0;
    double mean = 0;
};

inline Difference Compare(const avs::Frame &f, const std::vector<double> &ref)
{
    Difference d;
    double sum = 0;
    for (int y = 0; y < f.height(); ++y)
        for (int x = 0; x < f.width() * 3; ++x) {
            const double r
                = std::clamp(ref[static_cast<std::size_t>(y) * f.width() * 3 + x], 0.0, 255.0);
            const double e = std::fabs(f.row(y)[x] - r);
            d.worst = std::max(d.worst, e);
            sum += e;
        }
    d.mean = sum / (static_cast<double>(f.width()) * f.height() * 3);
    return d;
}

// The pixels of a PixelFn as BGR rows.
inline std::vector<std::uint8_t> Render(const testsupport::PixelFn &pixel, int w, int h)
{
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const testsupport::Rgb c = pixel(x, y);
            std::uint8_t *p = &out[(static_cast<std::size_t>(y) * w + x) * 3];
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    return out;
}

// A smooth picture with detail in every channel, unlike the wrapping Gradient.
inline testsupport::PixelFn Photo(int seed = 0)
{
    return [seed](int x, int y) {
        const double fx = x * 0.031 + seed, fy = y * 0.027 + seed * 0.5;
        return testsupport::Rgb{
            static_cast<std::uint8_t>(128 + 100 * std::sin(fx) * std::cos(fy)),
            static_cast<std::uint8_t>(128 + 90 * std::cos(fx * 0.7 + fy)),
            static_cast<std::uint8_t>(128 + 80 * std::sin(fy * 1.3 - fx * 0.4))};
    };
}

} // namespace avstest
