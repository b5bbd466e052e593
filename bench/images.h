// Test images for the benchmarks: the bundled fingerprints, and mosaics of
// them at any size.
#ifndef WSQ_BENCH_IMAGES_H
#define WSQ_BENCH_IMAGES_H

#include "libwsq.h"

#include <string>
#include <vector>

namespace wsqbench {

struct gray_image {
    std::string name;
    int width = 0, height = 0;
    std::vector<ui8> pixels;  // height rows of width bytes
};

// The directory of the bundled images: $WSQ_TEST_DATA if set, else the
// tests/data directory of the source tree this was built from.
std::string data_directory();

// Every image listed in MANIFEST.tsv under dir, in its order. With distinct,
// an image cut from another listed image (NAME_crop...) is left out.
std::vector<gray_image> bundled_images(const std::string &dir, bool distinct);

// Side of the square cells of a mosaic.
enum { MOSAIC_CELL = 512 };

// A width x height mosaic of MOSAIC_CELL-square cells, row by row; cell n
// holds image n modulo the number of images: the central part of a larger
// image, a smaller one repeated from the cell's top left corner. Cells cut
// by the right or bottom edge are cut short.
std::vector<ui8> mosaic(const std::vector<gray_image> &images, int width, int height);

// The distinct bundled fingerprints in mosaic order: those that fill a whole
// cell first, the smallest of them first, then the others as listed. Exits
// with a message when they cannot be read.
std::vector<gray_image> mosaic_images();

// A width x height mosaic of mosaic_images().
std::vector<ui8> fingerprint_mosaic(int width, int height);

}  // namespace wsqbench

#endif
