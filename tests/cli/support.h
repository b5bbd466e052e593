// Shared helpers of the end-to-end tests of wsq1: files, bundled and made
// images, the texts wsq1 writes, a reader of the streams it produces, and
// the test fixture that runs it in a directory of its own.
#pragma once

#include "run.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace cli {

/* ---- Files ---------------------------------------------------------------- */

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
bool file_exists(const std::string &path);

/* ---- Images: 8-bit samples, row after row -------------------------------- */

struct BundledImage {
    std::string name;
    int width = 0, height = 0;
    std::string path() const;  // NAME.raw in tests/data
    std::string pixels() const;
    std::string size_option() const;  // "-rWIDTH,HEIGHT"
};

const std::vector<BundledImage> &bundled_images();  // as listed in MANIFEST.tsv
const BundledImage &bundled(const std::string &name);

std::string noise_image(int width, int height, unsigned seed = 1);
std::string two_level_image(int width, int height);            // as many 0 as 255 pixels
std::string ramp_image(int width, int height);                 // a gentle diagonal ramp
std::string wave_image(int width, int height, double period);  // a product of sines
std::string crop(const std::string &pixels, int width, int x, int y, int w, int h);

/* ---- Texts ---------------------------------------------------------------- */

extern const std::string usage_text;
std::string fatal_line(const std::string &message);
std::string warning_line(const std::string &message);
std::string mention_line(const std::string &message);

// What standard error holds after the three banner lines; "<no banner>"
// when it does not begin with the banner.
std::string past_banner(const std::string &err);
std::vector<std::string> lines(const std::string &text);    // newlines dropped
std::string last_line(const std::string &text);             // with its newline
std::vector<std::string> mentions(const std::string &log);  // the " <> " lines
// The first line of `text` that begins with `start` (without its newline),
// or "" when there is none.
std::string line_starting(const std::string &text, const std::string &start);

struct Summary {
    int number = 0;
    std::string input, output;
    long bytes = 0;
    std::string compression;  // as printed, "%5.1f"
};
std::vector<Summary> summaries(const std::string &log);

std::string hex(const std::string &bytes);  // "FF A0 ..." (upper case)
std::string format(const char *fmt, ...);

/* ---- WSQ streams ---------------------------------------------------------- */

struct Segment {
    unsigned marker = 0;  // the code byte after FF
    std::string bytes;    // the whole segment, marker included
    std::string coded;    // after a SOB: its entropy-coded data as stored
};

struct ImageStream {
    std::string bytes;  // SOI to EOI
    std::vector<Segment> segments;
    // The nth segment with the marker; an empty segment (marker 0) if none.
    const Segment *find(unsigned marker, int nth = 0) const;
    std::vector<unsigned> markers() const;
};

// Splits back-to-back streams into images and segments. Returns an empty
// text, or what is wrong and where.
std::string parse_streams(const std::string &stream, std::vector<ImageStream> &images);

unsigned byte_at(const std::string &bytes, size_t at);
unsigned be16(const std::string &bytes, size_t at);
double fix24(const std::string &bytes, size_t at);

// The table bodies of a DHT segment by table index; empty text or a flaw.
std::string huffman_tables(const Segment &dht, std::map<int, std::string> &tables);

// How many quantized coefficients a block's stored coded data stands for,
// decoded with the table body `table`; -1 with `error` set on a flaw (a
// missing codeword, a bad symbol, padding that is not 1-bits).
long coded_coefficients(const std::string &table, const std::string &coded, std::string &error);

// Number of coefficients of each of the 64 subbands of a rows x cols image.
std::vector<long> subband_sizes(int rows, int cols);

/* ---- Fixture -------------------------------------------------------------- */

class Wsq1Test : public ::testing::Test {
protected:
    // Runs wsq1 in this test's directory.
    Outcome wsq1(const std::vector<std::string> &args, const RunOptions &options = {}) const;
    // Writes `pixels` to `name` and runs wsq1 with "-rW,H", `options`, `name`.
    Outcome encode(const std::string &pixels, int width, int height,
                   const std::vector<std::string> &options = {},
                   const std::string &name = "in.raw") const;
    // Parses a stream, failing the test on any flaw.
    std::vector<ImageStream> parsed(const std::string &stream) const;

    std::string path(const std::string &name) const { return dir.path() + "/" + name; }
    std::string read(const std::string &name) const { return read_file(path(name)); }
    void write(const std::string &name, const std::string &bytes) const
    {
        write_file(path(name), bytes);
    }
    bool exists(const std::string &name) const { return file_exists(path(name)); }

    TempDir dir;
};

}  // namespace cli
