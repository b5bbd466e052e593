// Shared helpers of the end-to-end tests: a runner of programs, files,
// bundled and made images, the texts wsq1 writes, a reader of its streams,
// and the fixture that runs wsq1 in a directory of the test's own.
#pragma once

#include "libwsq.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace cli {

/* ---- Running programs ----------------------------------------------------- */

// What a finished run wrote, and how it ended.
struct Outcome {
    std::string out;  // bytes on standard output (empty when redirected)
    std::string err;  // bytes on standard error
    int status = -1;  // exit status; -1 when a signal ended the process
};

struct RunOptions {
    std::string stdin_bytes;  // what standard input holds (else it is empty)
    std::string stdout_file;  // when set: standard output goes to this file
};

// Runs `program` with the arguments `args` (argv[1] on) in directory `cwd`:
// a child process, no shell. Each test has a directory of its own to run in,
// so tests can run side by side.
Outcome run(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
            const RunOptions &options = {});

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

/* ---- Files and images: 8-bit samples, row after row ---------------------- */

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
std::string test_data(const std::string &name);  // the file of tests/data

struct BundledImage {
    std::string name;
    int width = 0, height = 0;
    std::string path() const;  // NAME.raw in tests/data
    std::string pixels() const;
    std::string size_option() const;  // "-rWIDTH,HEIGHT"
};
const std::vector<BundledImage> &bundled_images();
const BundledImage &bundled(const std::string &name);

std::string noise_image(int width, int height, unsigned seed = 1);
std::string ramp_image(int width, int height);  // a gentle diagonal ramp
std::string crop(const std::string &pixels, int width, int x, int y, int w, int h);

/* ---- Texts ---------------------------------------------------------------- */

extern const std::string usage_text;
std::string fatal_line(const std::string &message);
std::string warning_line(const std::string &message);
std::string mention_line(const std::string &message);
// Standard error after the three banner lines, the line number of an
// assertion report replaced by "LINE"; "<no banner>" without the banner.
std::string past_banner(const std::string &err);
std::vector<std::string> lines(const std::string &text);  // newlines dropped
std::string last_line(const std::string &text);           // with its newline
bool contains(const std::string &text, const std::string &part);

struct Summary {
    int number = 0;
    std::string input, output;
    long bytes = 0;
    std::string compression;  // as printed, "%5.1f"
};
std::vector<Summary> summaries(const std::string &log);

std::string hex(const std::string &bytes);  // "FF A0 ..."
std::string format(const char *fmt, ...);

/* ---- WSQ streams ---------------------------------------------------------- */

struct Segment {
    unsigned marker = 0;  // the code byte after FF
    std::string bytes;    // the whole segment, marker included
    std::string coded;    // after a SOB: its entropy-coded data as stored
};

// Index of the nth segment with the marker; segments.size() if none.
size_t segment_index(const std::vector<Segment> &segments, unsigned marker, int nth = 0);

struct ImageStream {
    std::string bytes;  // SOI to EOI
    std::vector<Segment> segments;
    // The nth segment with the marker; an empty segment (marker 0) if none.
    const Segment *find(unsigned marker, int nth = 0) const;
};

// Splits back-to-back streams into images and segments; returns "" or what
// is wrong and where.
std::string parse_streams(const std::string &stream, std::vector<ImageStream> &images);

// The pixels wsq_decode gives for a stream, or "" after a refusal, which
// leaves its status and message in error.
std::string decoded_pixels(const std::string &stream, wsq_error &error,
                           size_t limit = WSQ_DEFAULT_MAX_PIXELS, int threads = 1);

unsigned byte_at(const std::string &bytes, size_t at);
unsigned be16(const std::string &bytes, size_t at);
double fix24(const std::string &bytes, size_t at);
// The table bodies of a DHT segment by table index; returns "" or a flaw.
std::string huffman_tables(const Segment &dht, std::map<int, std::string> &tables);
// Number of coefficients of each of the 64 subbands of a rows x cols image.
std::vector<long> subband_sizes(int rows, int cols);

/* ---- Fixture -------------------------------------------------------------- */

class Wsq1Test : public ::testing::Test {
protected:
    Outcome wsq1(const std::vector<std::string> &args, const RunOptions &options = {}) const;
    // Parses a stream, failing the test on any flaw.
    std::vector<ImageStream> parsed(const std::string &stream) const;

    std::string path(const std::string &name) const { return dir.path() + "/" + name; }
    std::string read(const std::string &name) const { return read_file(path(name)); }
    void write(const std::string &name, const std::string &bytes) const { write_file(path(name), bytes); }
    bool exists(const std::string &name) const;
    std::set<std::string> files() const;  // in the test's directory

    TempDir dir;
};

}  // namespace cli
