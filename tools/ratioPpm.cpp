// Writes the shading-ratio image of two bitmaps as a binary PPM file (the picture that
// `qmjpeg -i` encodes), so that other encoders can be timed on the same pixels.
//
//   ratioPpm <source.bmp> <final.bmp> <out.ppm>
#include "tool/bmpLoader.h"
#include "tool/shadingRatio.h"

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <source.bmp> <final.bmp> <out.ppm>\n", argv[0]);
        return 2;
    }
    QimImgT<Rgba8> source;
    QimImgT<Rgba8> finalImage;
    source.create(0, 0, false, false, 0.0);
    finalImage.create(0, 0, false, false, 0.0);
    if (!loadBmpFile(argv[1], source) || !loadBmpFile(argv[2], finalImage) ||
        source.width() != finalImage.width() || source.height() != finalImage.height() ||
        source.width() == 0 || source.height() == 0) {
        std::fprintf(stderr, "cannot load two bitmaps of one size\n");
        return 1;
    }
    QimImgT<Rgba8> ratio;
    ratio.create(source.width(), source.height(), true, false, 0.0);
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr || !computeShadingRatio(source, finalImage, ratio)) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    std::fprintf(out, "P6\n%d %d\n255\n", ratio.width(), ratio.height());
    std::vector<unsigned char> row(static_cast<std::size_t>(ratio.width()) * 3);
    for (int y = 0; y < ratio.height(); ++y) {
        const auto* pixel = reinterpret_cast<const unsigned char*>(ratio.imageData()) +
                            static_cast<std::size_t>(y) * ratio.widthStep();
        for (int x = 0; x < ratio.width(); ++x) {
            row[3 * x] = pixel[4 * x];
            row[3 * x + 1] = pixel[4 * x + 1];
            row[3 * x + 2] = pixel[4 * x + 2];
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
