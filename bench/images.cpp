#include "images.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef WSQ_TEST_DATA
#define WSQ_TEST_DATA "tests/data"
#endif

namespace wsqbench {

namespace {

[[noreturn]] void die(const std::string &message)
{
    std::fprintf(stderr, "wsq bench: %s\n", message.c_str());
    std::exit(1);
}

bool read_file(const std::string &path, std::vector<ui8> &bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

std::string data_directory()
{
    const char *dir = std::getenv("WSQ_TEST_DATA");
    return dir && *dir ? dir : WSQ_TEST_DATA;
}

std::vector<gray_image> bundled_images(const std::string &dir, bool distinct)
{
    std::ifstream manifest(dir + "/MANIFEST.tsv");
    if (!manifest)
        die("cannot read " + dir + "/MANIFEST.tsv");
    std::vector<gray_image> images;
    std::string line;
    std::getline(manifest, line);  // the column names
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        gray_image image;
        std::string width, height;
        if (!std::getline(fields, image.name, '\t') || !std::getline(fields, width, '\t') ||
            !std::getline(fields, height, '\t'))
            continue;
        image.width = std::atoi(width.c_str());
        image.height = std::atoi(height.c_str());
        if (image.width <= 0 || image.height <= 0)
            die("bad size in " + dir + "/MANIFEST.tsv: " + line);
        std::string path = dir + "/" + image.name + ".raw";
        if (!read_file(path, image.pixels))
            die("cannot read " + path);
        if (image.pixels.size() != (size_t)image.width * (size_t)image.height)
            die(path + " does not hold " + width + "x" + height + " pixels");
        images.push_back(std::move(image));
    }
    if (!distinct)
        return images;
    std::vector<gray_image> kept;
    for (gray_image &image : images) {
        bool cut = false;
        for (const gray_image &other : images)
            cut = cut || image.name.rfind(other.name + "_crop", 0) == 0;
        if (!cut)
            kept.push_back(std::move(image));
    }
    return kept;
}

std::vector<ui8> mosaic(const std::vector<gray_image> &images, int width, int height)
{
    std::vector<ui8> out((size_t)width * (size_t)height);
    const int cell = MOSAIC_CELL;
    int across = (width + cell - 1) / cell;
    for (int y = 0; y < height; ++y) {
        int cell_row = y / cell, v = y % cell;
        ui8 *line = &out[(size_t)y * (size_t)width];
        for (int x0 = 0; x0 < width; x0 += cell) {
            const gray_image &image = images[(size_t)(cell_row * across + x0 / cell) % images.size()];
            // A larger image gives its central part, a smaller one repeats.
            int left = image.width > cell ? (image.width - cell) / 2 : 0;
            int top = image.height > cell ? (image.height - cell) / 2 : 0;
            const ui8 *row = &image.pixels[(size_t)((top + v) % image.height) * (size_t)image.width];
            int end = x0 + cell < width ? x0 + cell : width;
            for (int x = x0; x < end; ++x)
                line[x] = row[(left + x - x0) % image.width];
        }
    }
    return out;
}

std::vector<gray_image> mosaic_images()
{
    std::vector<gray_image> images = bundled_images(data_directory(), true);
    if (images.empty())
        die("no images listed in " + data_directory() + "/MANIFEST.tsv");
    // Images that fill a whole cell first, the smallest of them first; then
    // the others in their listed order.
    auto fills = [](const gray_image &image) {
        return image.width >= MOSAIC_CELL && image.height >= MOSAIC_CELL;
    };
    std::stable_sort(images.begin(), images.end(),
                     [&](const gray_image &a, const gray_image &b) {
                         if (fills(a) != fills(b))
                             return fills(a);
                         return fills(a) && a.pixels.size() < b.pixels.size();
                     });
    return images;
}

std::vector<ui8> fingerprint_mosaic(int width, int height)
{
    static const std::vector<gray_image> images = mosaic_images();
    return mosaic(images, width, height);
}

}  // namespace wsqbench
