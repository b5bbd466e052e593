#include "support.h"

#include "libwsq.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cli {

/* ---- Running programs ----------------------------------------------------- */

namespace {

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// An unnamed file holding `bytes`. The child shares its offset, so it reads
// from the start, and what it writes is read back from the start.
std::FILE *temporary(const std::string &bytes = "")
{
    std::FILE *file = std::tmpfile();
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fflush(file) != 0)
        fail("temporary file");
    std::rewind(file);
    return file;
}

std::string contents(std::FILE *file)  // and closes it
{
    std::string bytes;
    char buffer[65536];
    std::rewind(file);
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, n);
    std::fclose(file);
    return bytes;
}

}  // namespace

Outcome run(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
            const RunOptions &options)
{
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::FILE *in = temporary(options.stdin_bytes), *out = temporary(), *err = temporary();
    int out_fd = options.stdout_file.empty()
                     ? fileno(out)
                     : ::open(options.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out_fd < 0)
        fail("open " + options.stdout_file);
    pid_t pid = ::fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {  // only async-signal-safe calls, then exec
        if (::dup2(fileno(in), 0) < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(fileno(err), 2) < 0 ||
            ::chdir(cwd.c_str()) != 0)
            ::_exit(127);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0)
        if (errno != EINTR)
            fail("waitpid");
    if (out_fd != fileno(out))
        ::close(out_fd);
    std::fclose(in);
    return {contents(out), contents(err), WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1};
}

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/wsq_cli.XXXXXX";
    if (!::mkdtemp(pattern.data()))
        fail("mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

/* ---- Files and images ----------------------------------------------------- */

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const std::string &path, const std::string &bytes)
{
    if (!std::ofstream(path, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size()))
        throw std::runtime_error("cannot write " + path);
}

std::string test_data(const std::string &name) { return std::string(WSQ_TEST_DATA) + "/" + name; }
std::string BundledImage::path() const { return test_data(name + ".raw"); }
std::string BundledImage::pixels() const { return read_file(path()); }
std::string BundledImage::size_option() const { return format("-r%d,%d", width, height); }

const std::vector<BundledImage> &bundled_images()  // as MANIFEST.tsv lists them
{
    static const std::vector<BundledImage> images = {
        {"fvc02db1_102_1", 388, 374}, {"wsq-converted", 832, 768}, {"sd04_f0001_01", 512, 512},
        {"mcc_sample_1_1", 256, 364}, {"sd04_f0001_01_crop437x391", 437, 391},
        {"fvc04db3_101_1_crop299x479", 299, 479}};
    return images;
}

const BundledImage &bundled(const std::string &name)
{
    for (const BundledImage &image : bundled_images())
        if (image.name == name)
            return image;
    throw std::runtime_error("no bundled image " + name);
}

std::string noise_image(int width, int height, unsigned seed)
{
    std::string pixels((size_t)width * height, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char &pixel : pixels) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        pixel = (char)(state >> 24);
    }
    return pixels;
}

std::string ramp_image(int width, int height)
{
    std::string pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels += (char)((x + y) * 255 / (width + height - 2));
    return pixels;
}

std::string crop(const std::string &pixels, int width, int x, int y, int w, int h)
{
    std::string out;
    for (int row = y; row < y + h; ++row)
        out += pixels.substr((size_t)row * width + x, (size_t)w);
    return out;
}

/* ---- Texts ---------------------------------------------------------------- */

const std::string usage_text =
    "Usage:  WSQ [options] [-ooutfile] [-llogfile] infile1 [ ... ]\n"
    "Options:                                    (default is shown in parentheses)\n"
    " -v | -v0 | -v1 | -v2 | -v3 | -v4 :  set verbosity level.         (-v0)\n"
    "   -v0: compress and log only fatal errors;\n"
    "   -v1: like 0, but also logs warning messages;\n"
    "   -v2: like 1, but also mentions normal events;\n"
    "   -v3: like 2, but also logs parameter values (same as -v);\n"
    "   -v4: like 3, but also logs WSQ subbands in ASCII.\n"
    " -d ==> debugging mode; write only messages to the log file.\n"
    " -rW,H ==> raw 8-bit grayscale input, width `W', height `H'.      (-r512,512)\n"
    " -c...text... ==> Include the text as a comment in the WSQ file.  (no comment)\n"
    " -SA,B ==> Use A (black) and B (white) for scanner calibrations.  (A=0, B=255)\n"
    " -Zr ==> Quantize to achieve a nominal r bits per pixel.          (r=0.75)\n"
    " -ooutfile ==> write output to the file `outfile.wsq'.            (stdout)\n"
    " -llogfile ==> log messages to `logfile.log'.                     (stderr)\n"
    " infile1 [...] ==> read input from these files in turn; use - to read stdin.\n";

std::string fatal_line(const std::string &message) { return "Error! Fatal input flaw: " + message + ".\n"; }
std::string warning_line(const std::string &message) { return "Warning! Not WSQ compliant: " + message + ".\n"; }
std::string mention_line(const std::string &message) { return " <> " + message + ".\n"; }

std::string past_banner(const std::string &err)
{
    static const std::string fixed = ">>>WSQ Encoder One image compression<<<          Sf=55297\n"
                                     "Reference: IAFIS-IC-0110v2, 16 February 1993, as amended.\n";
    static const std::regex assertion("(^|\n)wsq1\\.cpp:[0-9]+: failed assertion");
    size_t end = err.find('\n', fixed.size());  // the revision line
    if (err.compare(0, fixed.size(), fixed) != 0 || end == std::string::npos)
        return "<no banner>";
    return std::regex_replace(err.substr(end + 1), assertion, "$1wsq1.cpp:LINE: failed assertion");
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string last_line(const std::string &text)
{
    size_t end = text.size() > 1 ? text.rfind('\n', text.size() - 2) : std::string::npos;
    return end == std::string::npos ? text : text.substr(end + 1);
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

std::vector<Summary> summaries(const std::string &log)
{
    static const std::regex pattern(" \\+\\+ Compress image (\\d+):  `([^']*)' -->> `([^']*)'\n"
                                    " \\+\\+ \\((\\d+) WSQ bytes; 3 ECS's; actual compression ([ 0-9.]{5,})\\)\\.\n");
    std::vector<Summary> out;
    for (std::sregex_iterator m(log.begin(), log.end(), pattern), end; m != end; ++m)
        out.push_back({std::stoi((*m)[1]), (*m)[2], (*m)[3], std::stol((*m)[4]), (*m)[5]});
    return out;
}

std::string hex(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes)
        out += format(out.empty() ? "%02X" : " %02X", c);
    return out;
}

std::string format(const char *fmt, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

/* ---- WSQ streams ---------------------------------------------------------- */

unsigned byte_at(const std::string &bytes, size_t at) { return (unsigned char)bytes.at(at); }
unsigned be16(const std::string &bytes, size_t at) { return byte_at(bytes, at) << 8 | byte_at(bytes, at + 1); }

double fix24(const std::string &bytes, size_t at)
{
    double value = be16(bytes, at + 1);
    for (unsigned scale = byte_at(bytes, at); scale > 0; --scale)
        value /= 10;
    return value;
}

size_t segment_index(const std::vector<Segment> &segments, unsigned marker, int nth)
{
    size_t i = 0;
    for (; i < segments.size(); ++i)
        if (segments[i].marker == marker && nth-- == 0)
            break;
    return i;
}

const Segment *ImageStream::find(unsigned marker, int nth) const
{
    static const Segment none;
    size_t i = segment_index(segments, marker, nth);
    return i < segments.size() ? &segments[i] : &none;
}

std::string decoded_pixels(const std::string &stream, wsq_error &error, size_t limit, int threads)
{
    ui8 *out = nullptr;
    wsq_info info;
    wsq_decode_options options;
    wsq_decode_defaults(&options);
    options.max_pixels = limit;
    options.threads = threads;
    int status = wsq_decode(&out, &info, &error, (const ui8 *)stream.data(), stream.size(), &options);
    EXPECT_EQ(status, error.status);
    EXPECT_EQ(out != nullptr, status == WSQ_OK);
    std::string pixels = out ? std::string((const char *)out, (size_t)info.width * info.height) : "";
    wsq_free(out);
    return pixels;
}

std::string parse_streams(const std::string &s, std::vector<ImageStream> &images)
{
    images.clear();
    auto open = [&] { return !images.empty() && images.back().bytes.empty(); };  // no EOI yet
    for (size_t at = 0, start = 0; at < s.size();) {
        const std::string where = " at offset " + std::to_string(at);
        if (at + 2 > s.size() || byte_at(s, at) != 0xFF)
            return "no marker" + where;
        Segment segment{byte_at(s, at + 1), "", ""};
        size_t length = 2;
        if ((segment.marker == 0xA0) == open())
            return (open() ? "SOI inside an image" : "segment outside an image") + where;
        if (segment.marker == 0xA0) {
            images.emplace_back();
            start = at;
        } else if (segment.marker >= 0xA2 && segment.marker <= 0xA8 && segment.marker != 0xA7) {
            length = at + 4 <= s.size() ? 2 + be16(s, at + 2) : 0;
            if (length < 4 || at + length > s.size())
                return "bad segment length" + where;
        } else if (segment.marker != 0xA1) {
            return "unknown marker" + where;
        }
        segment.bytes = s.substr(at, length);
        at += length;
        if (segment.marker == 0xA3) {  // coded data up to the next marker
            size_t begin = at;
            while (at + 1 < s.size() && (byte_at(s, at) != 0xFF || byte_at(s, at + 1) == 0))
                at += byte_at(s, at) == 0xFF ? 2 : 1;
            if (at + 1 >= s.size())
                return "coded data without an end" + where;
            segment.coded = s.substr(begin, at - begin);
        }
        images.back().segments.push_back(segment);
        if (segment.marker == 0xA1)
            images.back().bytes = s.substr(start, at - start);
    }
    return open() ? "stream ends inside an image" : "";
}

std::string huffman_tables(const Segment &dht, std::map<int, std::string> &tables)
{
    tables.clear();
    const std::string &s = dht.bytes;
    for (size_t at = 4; at < s.size();) {
        size_t values = 0;
        for (size_t i = 1; i <= 16 && at + i < s.size(); ++i)
            values += byte_at(s, at + i);
        if (at + 17 + values > s.size())
            return "table cut short";
        tables[(int)byte_at(s, at)] = s.substr(at + 1, 16 + values);
        at += 17 + values;
    }
    return "";
}

std::vector<long> subband_sizes(int rows, int cols)
{
    pqf *h = makepqf(nullptr, WSQh0hbqf, -4, 4, 2), *g = makepqf(nullptr, WSQh1gbqf, -4, 2, 3);
    int xs[WSQ_SUBBANDS], ys[WSQ_SUBBANDS];
    xywp2(xs, ys, rows, cols, wsqlevels, 0, 0, h, g, h, g);
    freepqf(h);
    freepqf(g);
    std::vector<long> sizes;
    for (int block : wsqorder)
        sizes.push_back((long)xs[block] * ys[block]);
    return sizes;
}

/* ---- Fixtures ------------------------------------------------------------- */

Outcome Wsq1Test::wsq1(const std::vector<std::string> &args, const RunOptions &options) const
{
    return run(WSQ1_PATH, args, dir.path(), options);
}

std::vector<ImageStream> Wsq1Test::parsed(const std::string &stream) const
{
    std::vector<ImageStream> images;
    EXPECT_EQ(parse_streams(stream, images), "") << "stream of " << stream.size() << " bytes";
    return images;
}

bool Wsq1Test::exists(const std::string &name) const
{
    struct stat info;
    return ::lstat(path(name).c_str(), &info) == 0;
}

std::set<std::string> Wsq1Test::files() const
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        names.insert(entry.path().filename().string());
    return names;
}

}  // namespace cli
