// The fixture of the end-to-end tests of unwsq: runs it, and wsq1 to make
// its inputs, in a directory of the test's own.
#pragma once

#include "support.h"

#include <filesystem>
#include <set>
#include <stdexcept>

namespace cli {

class UnwsqTest : public Wsq1Test {
protected:
    Outcome unwsq(const std::vector<std::string> &args, const RunOptions &options = {}) const
    {
        return run(UNWSQ_PATH, args, dir.path(), options);
    }

    // Encodes `image` at `rate` bits per pixel into `name`; returns its bytes.
    std::string encode_image(const BundledImage &image, const std::string &name,
                             const std::string &rate = "0.75") const
    {
        Outcome made = wsq1({image.size_option(), "-Z" + rate, "-o" + name, image.path()});
        EXPECT_EQ(made.status, 0) << made.err;
        return read(name);
    }
};

}  // namespace cli
