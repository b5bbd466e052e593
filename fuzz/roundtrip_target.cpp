// Fuzz target: an encode-decode round trip through the library. The fuzzer's
// bytes are
//   byte 0, 1   width and height: 32 + the byte modulo 160 (32 to 191 each)
//   byte 2, 3   the bit rate in 1/4096 bits per pixel, big-endian (0 to 16)
//   byte 4, 5   the scanner calibrations A and B
//   the rest    the pixels, row after row; a short input is completed with
//               white, as the encoder program completes a short file
// wsq_encode must either refuse the image for a reason it documents (too
// small, flat, a bit rate it cannot honour), returning nothing, or write a
// stream that it writes again byte for byte from the same input, and that
// wsq_decode reads back with the stated dimensions and calibrations.
#include "check.h"

#include <algorithm>
#include <vector>

namespace {

struct encoded {
    int status;
    std::vector<ui8> stream;
    wsq_error error;
};

encoded encode(const std::vector<ui8> &pixels, int width, int height,
               const wsq_encode_options &options)
{
    encoded e;
    ui8 *stream = nullptr;
    size_t size = 0;
    e.status = wsq_encode(&stream, &size, &e.error, pixels.data(), pixels.size(), width, height,
                          &options);
    FUZZ_CHECK(e.status == e.error.status);
    FUZZ_CHECK((e.status == WSQ_OK) == (stream != nullptr));
    if (stream)
        e.stream.assign(stream, stream + size);
    wsq_free(stream);
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const ui8 *data, size_t size)
{
    if (size < 6)
        return 0;
    int width = 32 + data[0] % 160, height = 32 + data[1] % 160;
    wsq_encode_options options;
    wsq_encode_defaults(&options);
    options.bitrate = (data[2] << 8 | data[3]) / 4096.0;
    options.black = data[4];
    options.white = data[5];
    std::vector<ui8> pixels((size_t)width * height, 255);
    std::copy(data + 6, data + std::min(size, 6 + pixels.size()), pixels.begin());

    encoded first = encode(pixels, width, height, options);
    if (first.status != WSQ_OK) {
        FUZZ_CHECK(one_of(first.status, {WSQ_ERR_IMAGE, WSQ_ERR_BITRATE}));
        FUZZ_CHECK(first.error.message[0] != '\0');
        return 0;
    }
    FUZZ_CHECK(encode(pixels, width, height, options).stream == first.stream);
    decoded d = decode_and_check(first.stream.data(), first.stream.size());
    if (d.status != WSQ_OK)
        std::fprintf(stderr, "round trip: %s at byte %zu: %s\n", wsq_strerror(d.status),
                     d.error.offset, d.error.message);
    FUZZ_CHECK(d.status == WSQ_OK);
    FUZZ_CHECK(d.info.width == width && d.info.height == height);
    FUZZ_CHECK(d.info.black == options.black && d.info.white == options.white);
    FUZZ_CHECK(d.info.stream_bytes == first.stream.size());
    return 0;
}
