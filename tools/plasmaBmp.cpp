// Writes a deterministic "blurred plasma" picture as a 24-bit bottom-up BMP file, row by row
// (memory grows with the width only): a coarse diamond-square plasma per channel, smoothly
// interpolated to the full size, with a little fine texture on top.
//
//   plasmaBmp <width> <height> <seed> <out.bmp>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kGrid = 257; // coarse plasma points per side (2^8 + 1)

struct Random {
    std::uint64_t state;
    std::uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state >> 33);
    }
    double unit() { return next() / 2147483648.0 - 1.0; } // -1 .. 1
};

std::vector<double> diamondSquare(Random& random) {
    std::vector<double> g(kGrid * kGrid, 0.0);
    auto at = [&](int x, int y) -> double& { return g[static_cast<std::size_t>(y * kGrid + x)]; };
    at(0, 0) = random.unit();
    at(kGrid - 1, 0) = random.unit();
    at(0, kGrid - 1) = random.unit();
    at(kGrid - 1, kGrid - 1) = random.unit();
    double amplitude = 1.0;
    for (int step = kGrid - 1; step > 1; step /= 2, amplitude *= 0.55) {
        const int half = step / 2;
        for (int y = half; y < kGrid; y += step) {
            for (int x = half; x < kGrid; x += step) {
                at(x, y) = (at(x - half, y - half) + at(x + half, y - half) +
                            at(x - half, y + half) + at(x + half, y + half)) /
                               4 +
                           amplitude * random.unit();
            }
        }
        for (int y = 0; y < kGrid; y += half) {
            for (int x = (y / half) % 2 == 0 ? half : 0; x < kGrid; x += step) {
                double sum = 0;
                int n = 0;
                if (x >= half) {
                    sum += at(x - half, y);
                    ++n;
                }
                if (x + half < kGrid) {
                    sum += at(x + half, y);
                    ++n;
                }
                if (y >= half) {
                    sum += at(x, y - half);
                    ++n;
                }
                if (y + half < kGrid) {
                    sum += at(x, y + half);
                    ++n;
                }
                at(x, y) = sum / n + amplitude * random.unit();
            }
        }
    }
    return g;
}

// Smooth (cosine-weighted bilinear) sample of the grid at u, v in 0 .. 1.
double sample(const std::vector<double>& g, double u, double v) {
    const double fx = u * (kGrid - 1);
    const double fy = v * (kGrid - 1);
    const int x0 = std::min(static_cast<int>(fx), kGrid - 2);
    const int y0 = std::min(static_cast<int>(fy), kGrid - 2);
    const double tx = (1 - std::cos((fx - x0) * M_PI)) / 2;
    const double ty = (1 - std::cos((fy - y0) * M_PI)) / 2;
    auto at = [&](int x, int y) { return g[static_cast<std::size_t>(y * kGrid + x)]; };
    const double top = at(x0, y0) * (1 - tx) + at(x0 + 1, y0) * tx;
    const double bottom = at(x0, y0 + 1) * (1 - tx) + at(x0 + 1, y0 + 1) * tx;
    return top * (1 - ty) + bottom * ty;
}

void put32(std::FILE* f, std::uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 24)};
    std::fwrite(b, 1, 4, f);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <width> <height> <seed> <out.bmp>\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    Random random{std::strtoull(argv[3], nullptr, 10) * 2654435761ull + 1};
    std::FILE* out = std::fopen(argv[4], "wb");
    if (width < 1 || height < 1 || out == nullptr) {
        std::fprintf(stderr, "bad arguments\n");
        return 2;
    }
    const std::vector<double> planes[3] = {diamondSquare(random), diamondSquare(random),
                                           diamondSquare(random)};
    const std::int64_t rowBytes = (std::int64_t{width} * 3 + 3) / 4 * 4;
    const std::int64_t fileSize = 54 + rowBytes * height;
    std::fwrite("BM", 1, 2, out);
    put32(out, static_cast<std::uint32_t>(fileSize));
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(width));
    put32(out, static_cast<std::uint32_t>(height));
    put32(out, 1 | (24u << 16));
    put32(out, 0);
    put32(out, static_cast<std::uint32_t>(rowBytes * height));
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    std::vector<unsigned char> row(static_cast<std::size_t>(rowBytes), 0);
    for (int stored = 0; stored < height; ++stored) {
        const double v = 1.0 - (stored + 0.5) / height; // bottom-up: stored row 0 is the bottom
        for (int x = 0; x < width; ++x) {
            const double u = (x + 0.5) / width;
            for (int c = 0; c < 3; ++c) {
                const double value = 128 + 70 * sample(planes[c], u, v);
                row[static_cast<std::size_t>(3 * x + (2 - c))] =
                    static_cast<unsigned char>(std::lround(std::fmin(255, std::fmax(0, value))));
            }
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
