#include "TestPictures.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vantrel::testing {

namespace {

constexpr std::size_t bytesPerPixel = PixelBuffer::bytesPerPixel;

// A small deterministic generator: the pictures must be the same on every run.
struct Lcg {
    std::uint32_t state;
    std::uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

void setPixel(std::uint8_t* row, std::int32_t x, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    auto* pixel = row + static_cast<std::size_t>(x) * bytesPerPixel;
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
    pixel[3] = 255;
}

std::shared_ptr<const PixelBuffer> copyOf(std::int32_t width, std::int32_t height,
                                          const std::vector<std::uint8_t>& background,
                                          const std::function<void(const PixelBuffer::Pixels&)>& draw) {
    return PixelBuffer::make(width, height, [&](const PixelBuffer::Pixels& pixels) {
        const auto rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
        for (std::int32_t y = 0; y < height; ++y) {
            std::memcpy(pixels.row(y), background.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
        }
        draw(pixels);
    });
}

// One glyph-sized cell of strokes in dark grey on the background, anti-aliased edges included.
void drawGlyph(const PixelBuffer::Pixels& pixels, std::int32_t left, std::int32_t top, Lcg& random) {
    constexpr std::int32_t glyphWidth = 7;
    constexpr std::int32_t glyphHeight = 12;
    const std::uint32_t shape = random.next();
    for (std::int32_t y = 0; y < glyphHeight && top + y < pixels.height; ++y) {
        for (std::int32_t x = 0; x < glyphWidth && left + x < pixels.width; ++x) {
            const bool vertical = ((shape >> (x % 5)) & 1u) != 0 && (x == 1 || x == 5);
            const bool horizontal = ((shape >> (8 + y % 6)) & 1u) != 0 && (y == 2 || y == 6 || y == 10);
            if (vertical || horizontal) {
                setPixel(pixels.row(top + y), left + x, 40, 40, 40);
            } else if (((shape >> (16 + (x + y) % 8)) & 3u) == 3u) {
                setPixel(pixels.row(top + y), left + x, 150, 150, 150);
            }
        }
    }
}

// A deterministic 32-bit hash of two coordinates and a seed.
std::uint32_t hash(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    std::uint32_t value =
        static_cast<std::uint32_t>(x) * 0x8da6b343u ^ static_cast<std::uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    value ^= value >> 13;
    value *= 0x5bd1e995u;
    value ^= value >> 15;
    return value;
}

// Smooth value noise in 0..1 with cells of `cell` pixels.
double valueNoise(double x, double y, double cell, std::uint32_t seed) {
    const double fx = x / cell;
    const double fy = y / cell;
    const auto ix = static_cast<std::int32_t>(std::floor(fx));
    const auto iy = static_cast<std::int32_t>(std::floor(fy));
    const double tx = fx - ix;
    const double ty = fy - iy;
    const auto corner = [&](std::int32_t dx, std::int32_t dy) {
        return static_cast<double>(hash(ix + dx, iy + dy, seed) & 0xffff) / 65535.0;
    };
    const double sx = tx * tx * (3 - 2 * tx);
    const double sy = ty * ty * (3 - 2 * ty);
    const double top = corner(0, 0) + (corner(1, 0) - corner(0, 0)) * sx;
    const double bottom = corner(0, 1) + (corner(1, 1) - corner(0, 1)) * sx;
    return top + (bottom - top) * sy;
}

std::uint8_t channel(double value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
}

}  // namespace

TestPattern::TestPattern(std::int32_t width, std::int32_t height)
    : width_(width), height_(height), background_(static_cast<std::size_t>(width) * height * bytesPerPixel) {
    for (std::int32_t y = 0; y < height; ++y) {
        auto* row = background_.data() + static_cast<std::size_t>(y) * width * bytesPerPixel;
        for (std::int32_t x = 0; x < width; ++x) {
            setPixel(row, x, static_cast<std::uint8_t>(static_cast<std::int64_t>(x) * 255 / width),
                     static_cast<std::uint8_t>(static_cast<std::int64_t>(y) * 255 / height), 60);
        }
    }
}

std::shared_ptr<const PixelBuffer> TestPattern::picture(std::int64_t tick) const {
    const auto barX = static_cast<std::int32_t>((tick * 8) % width_);
    return copyOf(width_, height_, background_, [&](const PixelBuffer::Pixels& pixels) {
        const auto barEnd = std::min(barX + 40, width_);
        for (std::int32_t y = 0; y < height_; ++y) {
            std::memset(pixels.row(y) + static_cast<std::size_t>(barX) * bytesPerPixel, 255,
                        static_cast<std::size_t>(barEnd - barX) * bytesPerPixel);
        }
    });
}

DesktopPicture::DesktopPicture(std::int32_t width, std::int32_t height)
    : width_(width), height_(height), background_(static_cast<std::size_t>(width) * height * bytesPerPixel) {
    // Wallpaper, then two overlapping windows with title bars, a sidebar and lines of text.
    const PixelBuffer::Pixels pixels{background_.data(), static_cast<std::size_t>(width) * bytesPerPixel, width,
                                     height};
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            setPixel(pixels.row(y), x, static_cast<std::uint8_t>(120 + y * 60 / height), 80, 50);
        }
    }
    Lcg random{12345};
    struct Window {
        double left, top, right, bottom;
    };
    for (const Window window : {Window{0.05, 0.06, 0.70, 0.90}, Window{0.45, 0.15, 0.97, 0.80}}) {
        const auto left = static_cast<std::int32_t>(window.left * width);
        const auto top = static_cast<std::int32_t>(window.top * height);
        const auto right = static_cast<std::int32_t>(window.right * width);
        const auto bottom = static_cast<std::int32_t>(window.bottom * height);
        for (std::int32_t y = top; y < bottom; ++y) {
            for (std::int32_t x = left; x < right; ++x) {
                const bool titleBar = y < top + 28;
                const bool sidebar = x < left + (right - left) / 5;
                const std::uint8_t shade = titleBar ? 225 : (sidebar ? 240 : 252);
                setPixel(pixels.row(y), x, shade, shade, shade);
            }
        }
        for (std::int32_t y = top + 40; y + 12 < bottom; y += 18) {
            std::int32_t x = left + (right - left) / 5 + 12;
            while (x + 8 < right - 12) {
                const auto wordLength = static_cast<std::int32_t>(2 + random.next() % 9);
                for (std::int32_t letter = 0; letter < wordLength && x + 8 < right - 12; ++letter, x += 8) {
                    drawGlyph(pixels, x, y, random);
                }
                x += 8;
                if (random.next() % 7 == 0) {
                    break;  // a short line, as at the end of a paragraph
                }
            }
        }
    }
}

std::shared_ptr<const PixelBuffer> DesktopPicture::picture(std::int64_t tick) const {
    return copyOf(width_, height_, background_, [&](const PixelBuffer::Pixels& pixels) {
        // A status line of 24 glyphs near the bottom left, one more typed every tick and the line
        // restarting when full, plus a blinking caret after it.
        const std::int32_t top = std::max(0, height_ - 40);
        const std::int32_t left = std::min(width_ - 1, 40);
        const auto typed = static_cast<std::int32_t>(tick % 24);
        Lcg random{static_cast<std::uint32_t>(tick / 24) * 977u + 3u};
        for (std::int32_t y = top; y < std::min(height_, top + 16); ++y) {
            for (std::int32_t x = left; x < std::min(width_, left + 24 * 8 + 8); ++x) {
                setPixel(pixels.row(y), x, 252, 252, 252);
            }
        }
        for (std::int32_t letter = 0; letter < typed; ++letter) {
            drawGlyph(pixels, left + letter * 8, top + 2, random);
        }
        if (tick % 2 == 0) {
            for (std::int32_t y = top + 1; y < std::min(height_, top + 15); ++y) {
                const auto x = left + typed * 8;
                if (x < width_) {
                    setPixel(pixels.row(y), x, 0, 0, 0);
                }
            }
        }
    });
}

std::shared_ptr<const PixelBuffer> noisePicture(std::int32_t width, std::int32_t height, std::uint32_t seed) {
    return PixelBuffer::make(width, height, [&](const PixelBuffer::Pixels& pixels) {
        Lcg random{seed};
        for (std::int32_t y = 0; y < height; ++y) {
            for (std::int32_t x = 0; x < width; ++x) {
                const auto value = random.next();
                setPixel(pixels.row(y), x, static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                         static_cast<std::uint8_t>(value >> 16));
            }
        }
    });
}

ScrollingText::ScrollingText(std::int32_t width, std::int32_t height)
    : width_(width), height_(height), pageHeight_((height / lineHeight + 64) * lineHeight) {
    page_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(pageHeight_) * bytesPerPixel, 255);
    const PixelBuffer::Pixels pixels{page_.data(), static_cast<std::size_t>(width) * bytesPerPixel, width, pageHeight_};
    Lcg random{4242};
    for (std::int32_t top = 0; top < pageHeight_; top += lineHeight) {
        // A line of words of varying length, ending anywhere.
        const auto length = static_cast<std::int32_t>(20 + random.next() % (width / 8 - 20));
        for (std::int32_t column = 0; column < length; ++column) {
            if (random.next() % 6 != 0) {
                drawGlyph(pixels, column * 8, top + 3, random);
            }
        }
    }
}

std::shared_ptr<const PixelBuffer> ScrollingText::picture(std::int64_t tick) const {
    const auto offset = static_cast<std::int32_t>((tick * linesPerTick * lineHeight) % pageHeight_);
    const auto rowBytes = static_cast<std::size_t>(width_) * bytesPerPixel;
    return PixelBuffer::make(width_, height_, [&](const PixelBuffer::Pixels& pixels) {
        for (std::int32_t y = 0; y < height_; ++y) {
            const auto source = static_cast<std::size_t>((offset + y) % pageHeight_);
            std::memcpy(pixels.row(y), page_.data() + source * rowBytes, rowBytes);
        }
    });
}

std::vector<std::uint8_t> photoLikePixels(std::int32_t width, std::int32_t height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const double low = valueNoise(x, y, 300, 1);
            const double middle = valueNoise(x, y, 60, 2);
            const double high = valueNoise(x, y, 9, 3);
            const std::uint32_t grain = hash(x, y, 4);
            // Blocks of 160x96 with a light or dark cast and a sharp border, like windows and text.
            const std::uint32_t block = hash(x / 160, y / 96, 5);
            const bool border = x % 160 < 2 || y % 96 < 2;
            const bool textRow = (block & 1) != 0 && y % 96 > 12 && (y % 12) < 8 && hash(x / 7, y / 12, 6) % 5 != 0;
            double shade = 40 * (static_cast<double>(block >> 8 & 0xff) / 255.0 - 0.5);
            if (textRow) {
                shade -= 70 * ((x % 7) < 5 ? 1 : 0);
            }
            if (border) {
                shade = -90;
            }
            auto* pixel = &pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x) * 4];
            const double noise = static_cast<double>(grain & 0x0f) - 7.5;
            pixel[0] = channel(40 + 150 * low + 40 * high + shade + noise);
            pixel[1] = channel(60 + 120 * middle + 50 * low + shade + noise);
            pixel[2] = channel(50 + 140 * (1 - low) + 40 * middle * high + shade + noise);
            pixel[3] = 0;
        }
    }
    return pixels;
}

MotionPicture::MotionPicture(std::int32_t width, std::int32_t height)
    : width_(width),
      height_(height),
      scene_(photoLikePixels(width + 2 * margin, height + 2 * margin)),
      grain_(grainPixels(width + 2 * margin, height + 2 * margin)) {}

std::pair<std::int32_t, std::int32_t> MotionPicture::panAt(std::int64_t tick) {
    constexpr double pi = 3.14159265358979323846;
    const double t = static_cast<double>(tick) / 60.0;
    const double x = margin + (margin - 2) * std::sin(2 * pi * t / 7.0);
    const double y = margin + (margin - 2) * std::sin(2 * pi * t / 5.0 + 1);
    return {static_cast<std::int32_t>(std::lround(x)), static_cast<std::int32_t>(std::lround(y))};
}

std::pair<std::int32_t, std::int32_t> MotionPicture::grainAt(std::int64_t tick) {
    const auto shake = hash(static_cast<std::int32_t>(tick), 0, 11);
    return {static_cast<std::int32_t>(shake % (2 * margin)), static_cast<std::int32_t>((shake >> 8) % (2 * margin))};
}

std::vector<std::uint8_t> MotionPicture::grainPixels(std::int32_t width, std::int32_t height) {
    std::vector<std::uint8_t> noise(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    for (std::size_t index = 0; index < noise.size(); index += 4) {
        const std::uint32_t bits = hash(static_cast<std::int32_t>(index), 0, 9);
        noise[index] = static_cast<std::uint8_t>(bits & 3);
        noise[index + 1] = static_cast<std::uint8_t>(bits >> 2 & 3);
        noise[index + 2] = static_cast<std::uint8_t>(bits >> 4 & 3);
    }
    return noise;
}

std::shared_ptr<const PixelBuffer> MotionPicture::picture(std::int64_t tick) const {
    const auto [panX, panY] = panAt(tick);
    const auto [grainX, grainY] = grainAt(tick);
    const auto stride = static_cast<std::size_t>(width_ + 2 * margin) * bytesPerPixel;
    return PixelBuffer::make(width_, height_, [&](const PixelBuffer::Pixels& pixels) {
        for (std::int32_t y = 0; y < height_; ++y) {
            const auto* scene = scene_.data() + static_cast<std::size_t>(y + panY) * stride +
                                static_cast<std::size_t>(panX) * bytesPerPixel;
            const auto* grain = grain_.data() + static_cast<std::size_t>(y + grainY) * stride +
                                static_cast<std::size_t>(grainX) * bytesPerPixel;
            auto* row = pixels.row(y);
            for (std::size_t byte = 0; byte < static_cast<std::size_t>(width_) * bytesPerPixel; ++byte) {
                row[byte] = static_cast<std::uint8_t>(scene[byte] ^ grain[byte]);
            }
        }
    });
}

double psnr(const PixelBuffer& a, const PixelBuffer& b) {
    if (a.width() != b.width() || a.height() != b.height()) {
        return 0;
    }
    double squaredError = 0;
    for (std::int32_t y = 0; y < a.height(); ++y) {
        const auto rowA = a.row(y);
        const auto rowB = b.row(y);
        for (std::size_t offset = 0; offset < rowA.size(); offset += bytesPerPixel) {
            for (std::size_t channel = 0; channel < 3; ++channel) {
                const double difference = double(rowA[offset + channel]) - double(rowB[offset + channel]);
                squaredError += difference * difference;
            }
        }
    }
    const double meanSquaredError = squaredError / (3.0 * a.width() * a.height());
    if (meanSquaredError <= 0) {
        return 100;
    }
    return 10 * std::log10(255.0 * 255.0 / meanSquaredError);
}

}  // namespace vantrel::testing
