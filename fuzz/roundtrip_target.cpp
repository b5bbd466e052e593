// Fuzz target: an encode-decode round trip. The fuzzer's bytes are
//   byte 0, 1   width and height: 32 + the byte modulo 160 (32 to 191 each)
//   byte 2, 3   the bit rate in 1/4096 bits per pixel, big-endian (0 to 16)
//   byte 4, 5   the scanner calibrations A and B
//   the rest    the pixels, row after row (a short input is completed with
//               white by the encoder, as from a file)
// The encoder's own pipeline (encode_image of wsq1) writes the stream into
// memory; wsqdecode must read it back with the stated dimensions.
//
// The encoder keeps its state in file-level variables and refuses an image
// by ending the process with a fatal message (exit status 1). Its source is
// compiled into this file, so its stages and state can be reached, and its
// calls of std::exit are redirected to one that throws: a refusal becomes an
// exception caught below, the next input starts from the same state, and
// the fuzzer keeps the coverage of the encoder's code (a child process per
// input would lose it). The redirection is a macro over the encoder's source
// only: every header that source includes is included before it, so the
// macro touches nothing else. Assertion reports of the library still end the
// process (exit status 2) and are findings. Refusals are legitimate only for
// what the encoder documents as unencodable: a flat image, an image too
// small for its subbands, a bit rate that cannot be honoured.
#include "check.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace wsq1_std {
using namespace std;
struct refusal {
    int status;
};
[[noreturn]] void exit(int status)
{
    throw refusal{status};
}
}  // namespace wsq1_std

namespace {
std::FILE *encoder_messages;  // what the encoder writes to standard error
}

#pragma push_macro("stderr")
#undef stderr
#define stderr encoder_messages
#define std wsq1_std
#define main wsq1_main
#include "../src/wsq1.cpp"
#undef main
#undef std
#undef stderr
#pragma pop_macro("stderr")

namespace {

bool starts_with(const std::string &text, const char *start)
{
    return text.compare(0, std::strlen(start), start) == 0;
}

// The part of the encoder's set-up that main() does once per run.
void set_up_encoder()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    set_defaults();
    build_structures();
    logfile = std::fopen("/dev/null", "w");
    FUZZ_CHECK(logfile);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const ui8 *data, size_t size)
{
    if (size < 6)
        return 0;
    set_up_encoder();
    cols = 32 + data[0] % 160;
    rows = 32 + data[1] % 160;
    bitrate = (data[2] << 8 | data[3]) / 4096.0;
    A = data[4];
    B = data[5];
    logging = 0;

    char *stream = nullptr, *messages = nullptr;
    size_t length = 0, message_length = 0;
    outfile = open_memstream(&stream, &length);
    encoder_messages = open_memstream(&messages, &message_length);
    static char nothing[1];
    infile = size > 6 ? fmemopen((void *)(data + 6), size - 6, "rb") : fmemopen(nothing, 1, "rb");
    FUZZ_CHECK(outfile && encoder_messages && infile);
    if (size == 6)
        std::fgetc(infile);  // no pixels at all
    inname = "fuzz";
    int refused = 0;
    try {
        encode_image();
    } catch (const wsq1_std::refusal &r) {
        refused = r.status;
    }
    std::fclose(infile);
    std::fclose(outfile);
    std::fclose(encoder_messages);
    std::string message(messages, message_length);
    std::free(messages);

    if (refused) {
        FUZZ_CHECK(refused == 1);
        const char *fatal = "Error! Fatal input flaw: ";
        FUZZ_CHECK(starts_with(message, fatal));
        std::string why = message.substr(std::strlen(fatal));
        FUZZ_CHECK(starts_with(why, "every pixel of fuzz has the value") ||
                   why.find("too small for the subband variances") != std::string::npos ||
                   starts_with(why, "bit rate ") ||
                   starts_with(why, "no active subbands"));
        // What was written before the refusal is no stream.
        wsqinfo info;
        wsqerror error;
        FUZZ_CHECK(wsqdecode(nullptr, &info, &error, (const ui8 *)stream, length,
                             FUZZ_MAX_PIXELS) != WSQ_OK);
    } else {
        FUZZ_CHECK(message.empty());
        FUZZ_CHECK((size_t)totalbytes == length);
        decoded d = decode_and_check((const ui8 *)stream, length);
        if (d.status != WSQ_OK)
            std::fprintf(stderr, "round trip: %s at byte %zu: %s\n", wsqstrerror(d.status),
                         d.error.offset, d.error.message);
        FUZZ_CHECK(d.status == WSQ_OK);
        FUZZ_CHECK(d.info.width == cols && d.info.height == rows);
        FUZZ_CHECK(d.info.black == A && d.info.white == B);
        FUZZ_CHECK(d.info.stream_bytes == length);
    }
    std::free(stream);
    return 0;
}
