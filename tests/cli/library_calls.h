// Files and the library's decoder, as the tests of whole streams use them.
#pragma once

#include "wsq.h"

#include <fstream>
#include <sstream>
#include <string>

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// What wsq_decode made of a stream: its status and error, and the pixels of
// a success (never empty: an image has at least 32 x 32).
struct decoding {
    int status;
    wsq_error error;
    std::string pixels;
};

inline decoding decode(const std::string &stream, int threads = 1,
                       size_t max_pixels = WSQ_DEFAULT_MAX_PIXELS, int reduce = 1)
{
    wsq_decode_options options;
    wsq_decode_defaults(&options);
    options.threads = threads;
    options.max_pixels = max_pixels;
    options.reduce = reduce;
    uint8_t *pixels = nullptr;
    wsq_info info;
    decoding d{};
    d.status = wsq_decode(&pixels, &info, &d.error, (const uint8_t *)stream.data(), stream.size(), &options);
    if (pixels)
        d.pixels.assign((const char *)pixels,
                        (size_t)WSQ_REDUCED_SIZE(info.width, reduce) * WSQ_REDUCED_SIZE(info.height, reduce));
    wsq_free(pixels);
    return d;
}
