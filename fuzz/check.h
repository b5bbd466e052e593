// What every fuzz target checks after decoding bytes it was handed or made:
// an error is fully reported and leaves nothing behind; a success returns
// exactly the pixels its header facts promise, the same whether the library
// allocates them or the caller does; and so does a preview at 1/2, 1/4 or 1/8
// of the size (chosen by the input's length), refused as the whole image is.
#pragma once

#include "libwsq.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

// A broken expectation is a finding: report it and abort, so that the fuzzer
// keeps the input and the replay driver fails.
#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : fuzz_failure(__FILE__, __LINE__, #condition))

[[noreturn]] inline void fuzz_failure(const char *file, int line, const char *condition)
{
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::abort();
}

// Largest image the targets decode: big enough for every seed, small enough
// that no input can make a run slow or exhaust memory.
const size_t FUZZ_MAX_PIXELS = (size_t)1 << 22;

// Where the targets leave what they read, so that no read is optimized away.
inline volatile unsigned fuzz_sink;

struct decoded {
    int status;
    wsq_info info;
    wsq_error error;
};

// A refusal is a full one: a status of the decoder, no pixels, a message.
inline void check_refusal(int status, const wsq_error &error, const ui8 *pixels, size_t size)
{
    FUZZ_CHECK(status >= WSQ_ERR_NOT_WSQ && status <= WSQ_ERR_MEMORY);
    FUZZ_CHECK(pixels == nullptr);
    FUZZ_CHECK(error.offset <= size);
    size_t length = strnlen(error.message, sizeof error.message);
    FUZZ_CHECK(length > 0 && length < sizeof error.message);
}

// Whether the whole decoding failed in the coded data of a block that a
// preview at 1/reduce does not decode (block 2 at 1/2, blocks 1 and 2 below).
inline bool failed_in_skipped_block(const decoded &whole, int reduce)
{
    int block;
    return (whole.status == WSQ_ERR_BLOCK || whole.status == WSQ_ERR_LIMIT) &&
           std::sscanf(whole.error.message, "block %d", &block) == 1 &&
           block >= (reduce == 2 ? 2 : 1);
}

// The preview at 1/reduce: refused as the whole image was, or (when the
// whole decoding failed in the coded data of a block it skips) decoded; on
// success of the reduced size, in a new buffer as in the caller's.
inline void check_preview(const ui8 *data, size_t size, const wsq_decode_options &limit,
                          const decoded &whole, int reduce)
{
    wsq_decode_options options = limit;
    options.reduce = reduce;
    ui8 *pixels = nullptr;
    wsq_info info;
    wsq_error error;
    int status = wsq_decode(&pixels, &info, &error, data, size, &options);
    FUZZ_CHECK(status == error.status);
    if (!(status == WSQ_OK && failed_in_skipped_block(whole, reduce))) {
        FUZZ_CHECK(status == whole.status);
        FUZZ_CHECK(error.offset == whole.error.offset);
    }
    if (status != WSQ_OK) {
        check_refusal(status, error, pixels, size);
        return;
    }
    size_t count = (size_t)WSQ_REDUCED_SIZE(info.width, reduce) * WSQ_REDUCED_SIZE(info.height, reduce);
    std::vector<ui8> into(count);
    FUZZ_CHECK(wsq_decode_into(into.data(), count, &info, nullptr, data, size, &options) == WSQ_OK);
    FUZZ_CHECK(std::memcmp(into.data(), pixels, count) == 0);
    wsq_free(pixels);
}

// Decodes data[0..size) with pixels and checks the result; a success reads
// every pixel, so that a buffer shorter than width x height is caught.
inline decoded decode_and_check(const ui8 *data, size_t size)
{
    decoded d;
    ui8 *pixels = nullptr;
    wsq_decode_options limit;
    wsq_decode_defaults(&limit);
    limit.max_pixels = FUZZ_MAX_PIXELS;
    d.status = wsq_decode(&pixels, &d.info, &d.error, data, size, &limit);
    FUZZ_CHECK(d.status == d.error.status);
    if (d.status != WSQ_OK) {
        check_refusal(d.status, d.error, pixels, size);
    } else {
        const wsq_info &info = d.info;
        FUZZ_CHECK(pixels != nullptr);
        FUZZ_CHECK(info.width > 0 && info.height > 0);
        size_t count = (size_t)info.width * (size_t)info.height;
        FUZZ_CHECK(count <= FUZZ_MAX_PIXELS);
        FUZZ_CHECK(info.blocks == WSQ_BLOCKS);
        FUZZ_CHECK(info.stream_bytes >= 4 && info.stream_bytes <= size);
        FUZZ_CHECK(info.stream_bytes == size ||
                   (size - info.stream_bytes >= 2 && data[info.stream_bytes] == 0xFF &&
                    data[info.stream_bytes + 1] == 0xA0));
        unsigned sum = 0;
        for (size_t i = 0; i < count; ++i)
            sum += pixels[i];
        fuzz_sink = sum;
        std::vector<ui8> into(count);
        wsq_info again;
        FUZZ_CHECK(wsq_decode_into(into.data(), count, &again, nullptr, data, size, &limit) ==
                   WSQ_OK);
        FUZZ_CHECK(std::memcmp(into.data(), pixels, count) == 0);
        wsq_free(pixels);
    }
    check_preview(data, size, limit, d, 2 << size % 3);
    // Reading only the segments checks no less than a full decoding does
    // before the blocks; a stream that decodes must also pass it unchanged,
    // and one it refuses is refused alike or passes (its flaw in coded data).
    // Past the targets' pixel limit, the facts (under the default one) are
    // not read: a flaw after a block would have them decode the blocks.
    if (d.status == WSQ_ERR_LIMIT || d.status == WSQ_ERR_MEMORY)
        return d;
    wsq_info header;
    wsq_error error;
    int status = wsq_read_info(&header, &error, data, size);
    if (d.status == WSQ_OK) {
        FUZZ_CHECK(status == WSQ_OK);
        FUZZ_CHECK(header.width == d.info.width && header.height == d.info.height);
        FUZZ_CHECK(header.stream_bytes == d.info.stream_bytes);
    } else if (status != WSQ_OK) {
        FUZZ_CHECK(status == d.status && error.offset == d.error.offset);
    }
    return d;
}

inline bool one_of(int status, std::initializer_list<int> statuses)
{
    for (int s : statuses)
        if (s == status)
            return true;
    return false;
}
