/* image_files.h - gray-scale image files of the programs (not of the
 * library): PNG through libpng and binary PGM, written to and read from
 * memory or an open file. */
#ifndef WSQ_IMAGE_FILES_H
#define WSQ_IMAGE_FILES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

/* Room for the reason a PNG call gives when it fails. */
const std::size_t png_message_size = 200;

/* Writes height rows of width 8-bit gray pixels as a PNG image; false after a
 * failure, with libpng's reason in why (png_message_size bytes). */
bool write_png(std::FILE *out, const std::uint8_t *pixels, int width, int height, char *why);

/* Writes them as a binary PGM image (P5, maximum 255). */
void write_pgm(std::FILE *out, const std::uint8_t *pixels, int width, int height);
/* What write_pgm writes before the pixels, which are then to follow, rows in order. */
void write_pgm_head(std::FILE *out, int width, int height);

/* 8-bit gray pixels read from an image file in memory. */
struct gray_image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
};

bool is_png(const std::uint8_t *data, std::size_t size);
bool is_pgm(const std::uint8_t *data, std::size_t size);

/* A PNG image's pixels in gray: a gray one's as they are (16-bit ones
 * reduced to 8 bits), a colour one's by the library's rule
 * (wsq_gray_from_color), alpha ignored. False with the reason in why. */
bool read_png(const std::uint8_t *data, std::size_t size, gray_image *image, std::string *why);

/* A binary PGM image of maximum 255. False with the reason in why. */
bool read_pgm(const std::uint8_t *data, std::size_t size, gray_image *image, std::string *why);

#endif
