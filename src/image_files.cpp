/* image_files.cpp - the programs' PNG and PGM files (image_files.h). */
#include "image_files.h"

#include "wsq.h"


#if !defined(WSQ_NO_PNG)
#include <png.h>
#include <zlib.h>
#endif

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <new>

#if !defined(WSQ_NO_PNG)

namespace {

/* libpng reports a failure by calling report_png_error, which keeps its
 * message and jumps back to the setjmp of write_png. No frame that the jump
 * leaves holds a C++ object with a destructor. */
void report_png_error(png_structp png, png_const_charp message)
{
    std::snprintf((char *)png_get_error_ptr(png), png_message_size, "%s", message);
    png_longjmp(png, 1);
}

/* A warning changes nothing that is written: none is shown. */
void ignore_png_warning(png_structp, png_const_charp) {}

/* libpng's own writer reports "Write Error"; this one says why. */
void write_png_bytes(png_structp png, png_bytep bytes, size_t count)
{
    if (std::fwrite(bytes, 1, count, (std::FILE *)png_get_io_ptr(png)) != count)
        png_error(png, std::strerror(errno));
}

}  // namespace

bool write_png(std::FILE *out, const std::uint8_t *pixels, int width, int height, char *why)
{
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, why, report_png_error, ignore_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(why, png_message_size, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, write_png_bytes, nullptr);
    /* The fastest deflate: on fingerprints, half the default level's time for 13% more bytes. */
    png_set_compression_level(png, Z_BEST_SPEED);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, pixels + (size_t)y * width);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool read_png(const std::uint8_t *data, std::size_t size, gray_image *image, std::string *why)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, data, size)) {
        *why = png.message;
        return false;
    }
    bool color = png.format & PNG_FORMAT_FLAG_COLOR;
    png.format = color ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    std::vector<std::uint8_t> read;
    try {
        read.resize(PNG_IMAGE_SIZE(png));
    } catch (const std::bad_alloc &) {
        png_image_free(&png);
        *why = "out of memory";
        return false;
    }
    if (!png_image_finish_read(&png, nullptr, read.data(), 0, nullptr)) {
        *why = png.message;
        return false;
    }
    image->width = (int)png.width;
    image->height = (int)png.height;
    size_t count = (size_t)png.width * png.height;
    if (color) {
        image->pixels.resize(count);
        wsq_gray_from_color(image->pixels.data(), read.data(), count, 3);
    } else {
        image->pixels = std::move(read);
    }
    return true;
}

#else

/* A build without libpng knows PNG files but neither reads nor writes them. */
const char png_not_built[] = "PNG is not built into this program (libpng was missing when it was built)";

bool write_png(std::FILE *, const std::uint8_t *, int, int, char *why)
{
    std::snprintf(why, png_message_size, "%s", png_not_built);
    return false;
}

bool read_png(const std::uint8_t *, std::size_t, gray_image *, std::string *why)
{
    *why = png_not_built;
    return false;
}

#endif

void write_pgm(std::FILE *out, const std::uint8_t *pixels, int width, int height)
{
    write_pgm_head(out, width, height);
    std::fwrite(pixels, 1, (size_t)width * height, out);
}

void write_pgm_head(std::FILE *out, int width, int height)
{
    std::fprintf(out, "P5\n%d %d\n255\n", width, height);
}

bool is_png(const std::uint8_t *data, std::size_t size)
{
    return size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0;
}

bool is_pgm(const std::uint8_t *data, std::size_t size)
{
    return size >= 2 && data[0] == 'P' && data[1] == '5';
}


namespace {

/* A PGM header number after white space and comments. */
bool pgm_number(const std::uint8_t *data, std::size_t size, std::size_t *at, long *value)
{
    while (*at < size && (std::strchr(" \t\r\n", data[*at]) || data[*at] == '#')) {
        if (data[*at] == '#')
            while (*at < size && data[*at] != '\n')
                ++*at;
        else
            ++*at;
    }
    size_t start = *at;
    *value = 0;
    while (*at < size && data[*at] >= '0' && data[*at] <= '9' && *value < 1000000)
        *value = *value * 10 + (data[(*at)++] - '0');
    return *at > start;
}

}  // namespace

bool read_pgm(const std::uint8_t *data, std::size_t size, gray_image *image, std::string *why)
{
    size_t at = 2;
    long width, height, maximum;
    if (!pgm_number(data, size, &at, &width) || !pgm_number(data, size, &at, &height) ||
        !pgm_number(data, size, &at, &maximum) || at >= size) {
        *why = "a PGM header that does not read as width, height and maximum";
        return false;
    }
    if (maximum != 255 || width < 1 || height < 1) {
        *why = "a PGM image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels of maximum " +
               std::to_string(maximum) + ": only 8-bit gray (maximum 255) is read";
        return false;
    }
    size_t count = (size_t)width * (size_t)height;
    if (size - at - 1 < count) {
        *why = "a PGM image shorter than its " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
        return false;
    }
    image->width = (int)width;
    image->height = (int)height;
    image->pixels.assign(data + at + 1, data + at + 1 + count);
    return true;
}
