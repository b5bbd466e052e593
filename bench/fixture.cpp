#include "fixture.h"

#include "images.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace wsqbench {

namespace {

[[noreturn]] void inconsistent(int side, const char *what)
{
    std::fprintf(stderr, "wsq bench: %dx%d fixture: %s\n", side, side, what);
    std::exit(1);
}

}  // namespace

const fixture &square_fixture(int side)
{
    static std::map<int, std::unique_ptr<fixture>> made;
    std::unique_ptr<fixture> &slot = made[side];
    if (slot)
        return *slot;
    slot.reset(new fixture);
    fixture &f = *slot;
    f.width = f.height = side;
    f.pixels = fingerprint_mosaic(side, side);
    f.trace = trace_encoder(f.pixels.data(), side, side);
    if (encode(f.pixels.data(), side, side) != f.trace.stream)
        inconsistent(side, "the traced stages give another stream than encode_image()");
    const std::vector<ui8> &stream = f.trace.stream;
    if (!f.decoded.decode(stream.data(), stream.size()))
        inconsistent(side, f.decoded.error().c_str());
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        if (f.decoded.coded(b) != f.trace.coded[b])
            inconsistent(side, "the coded data read back differs from the coded data written");
    ui8 *pixels = nullptr;
    wsqinfo info;
    wsqerror error;
    if (wsqdecode(&pixels, &info, &error, stream.data(), stream.size(),
                  WSQ_DEFAULT_MAX_PIXELS) != WSQ_OK)
        inconsistent(side, error.message);
    bool same = std::memcmp(pixels, f.decoded.pixels(), (size_t)side * (size_t)side) == 0;
    freevoid(pixels);
    if (!same)
        inconsistent(side, "the staged decoder and wsqdecode() give different pixels");
    return f;
}

}  // namespace wsqbench
