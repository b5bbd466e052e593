// The fixture of the end-to-end tests of unwsq: runs it, and wsq1 to make
// its inputs, in a directory of the test's own.
#pragma once

#include "support.h"

#include <cmath>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

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

    // Names of the files in the test's directory.
    std::set<std::string> files() const
    {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    // A bundled image of odd width, odd height and width != height, so that
    // the two are never swapped unnoticed.
    static const BundledImage &odd_image()
    {
        for (const BundledImage &image : bundled_images())
            if (image.width % 2 && image.height % 2 && image.width != image.height)
                return image;
        throw std::runtime_error("no bundled image of odd width and height");
    }

    static std::string test_data(const std::string &name)
    {
        return std::string(WSQ_TEST_DATA) + "/" + name;
    }

    // Peak signal-to-noise ratio in dB of 8-bit `b` against `a` (same size).
    static double psnr(const std::string &a, const std::string &b)
    {
        double sum = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            double error = (double)(unsigned char)a[i] - (unsigned char)b[i];
            sum += error * error;
        }
        return 10 * std::log10(255.0 * 255.0 * a.size() / sum);
    }
};

}  // namespace cli
