#include "support.h"

#include "wsq.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace cli {

/* ---- Files ---------------------------------------------------------------- */

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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string &path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

/* ---- Images --------------------------------------------------------------- */

std::string BundledImage::path() const
{
    return std::string(WSQ_TEST_DATA) + "/" + name + ".raw";
}
std::string BundledImage::pixels() const
{
    return read_file(path());
}
std::string BundledImage::size_option() const
{
    return "-r" + std::to_string(width) + "," + std::to_string(height);
}

const std::vector<BundledImage> &bundled_images()
{
    static const std::vector<BundledImage> images = [] {
        std::vector<BundledImage> list;
        std::istringstream manifest(read_file(std::string(WSQ_TEST_DATA) + "/MANIFEST.tsv"));
        std::string line;
        std::getline(manifest, line);  // column names
        while (std::getline(manifest, line)) {
            std::istringstream fields(line);
            BundledImage image;
            std::string width, height;
            std::getline(fields, image.name, '\t');
            std::getline(fields, width, '\t');
            std::getline(fields, height, '\t');
            image.width = std::stoi(width);
            image.height = std::stoi(height);
            list.push_back(image);
        }
        return list;
    }();
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

std::string two_level_image(int width, int height)
{
    std::string pixels = noise_image(width, height, 7);
    // Each pair of samples holds one 0 and one 255, in a random order.
    for (size_t i = 0; i + 1 < pixels.size(); i += 2) {
        bool dark_first = pixels[i] & 1;
        pixels[i] = dark_first ? '\0' : '\xFF';
        pixels[i + 1] = dark_first ? '\xFF' : '\0';
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

std::string wave_image(int width, int height, double period)
{
    const double pi = 3.14159265358979323846;
    std::string pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels += (char)(int)(127.5 + 127.0 * std::sin(2 * pi * x / period) *
                                              std::sin(2 * pi * y / period));
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

std::string fatal_line(const std::string &message)
{
    return "Error! Fatal input flaw: " + message + ".\n";
}

std::string warning_line(const std::string &message)
{
    return "Warning! Not WSQ compliant: " + message + ".\n";
}

std::string mention_line(const std::string &message)
{
    return " <> " + message + ".\n";
}

std::string past_banner(const std::string &err)
{
    static const std::string fixed = ">>>WSQ Encoder One image compression<<<          Sf=55297\n"
                                     "Reference: IAFIS-IC-0110v2, 16 February 1993, as amended.\n";
    size_t end = err.find('\n', fixed.size());  // the revision line
    if (err.compare(0, fixed.size(), fixed) != 0 || end == std::string::npos)
        return "<no banner>";
    return err.substr(end + 1);
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

std::vector<std::string> mentions(const std::string &log)
{
    std::vector<std::string> out;
    for (const std::string &line : lines(log))
        if (line.rfind(" <> ", 0) == 0)
            out.push_back(line);
    return out;
}

std::string line_starting(const std::string &text, const std::string &start)
{
    for (const std::string &line : lines(text))
        if (line.rfind(start, 0) == 0)
            return line;
    return "";
}

std::vector<Summary> summaries(const std::string &log)
{
    static const std::regex pattern(
        " \\+\\+ Compress image (\\d+):  `([^']*)' -->> `([^']*)'\n"
        " \\+\\+ \\((\\d+) WSQ bytes; 3 ECS's; actual compression ([ 0-9.]{5,})\\)\\.\n");
    std::vector<Summary> out;
    for (std::sregex_iterator it(log.begin(), log.end(), pattern), end; it != end; ++it) {
        const std::smatch &m = *it;
        out.push_back({std::stoi(m[1]), m[2], m[3], std::stol(m[4]), m[5]});
    }
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

unsigned byte_at(const std::string &bytes, size_t at)
{
    return (unsigned char)bytes.at(at);
}

unsigned be16(const std::string &bytes, size_t at)
{
    return byte_at(bytes, at) << 8 | byte_at(bytes, at + 1);
}

double fix24(const std::string &bytes, size_t at)
{
    return be16(bytes, at + 1) / std::pow(10.0, byte_at(bytes, at));
}

const Segment *ImageStream::find(unsigned marker, int nth) const
{
    for (const Segment &segment : segments)
        if (segment.marker == marker && nth-- == 0)
            return &segment;
    static const Segment none;
    return &none;
}

std::vector<unsigned> ImageStream::markers() const
{
    std::vector<unsigned> out;
    for (const Segment &segment : segments)
        out.push_back(segment.marker);
    return out;
}

std::string parse_streams(const std::string &stream, std::vector<ImageStream> &images)
{
    images.clear();
    size_t at = 0, start = 0;
    bool inside = false;
    auto flaw = [&](const std::string &what) { return what + " at offset " + std::to_string(at); };
    while (at < stream.size()) {
        if (at + 2 > stream.size() || byte_at(stream, at) != 0xFF)
            return flaw("no marker");
        Segment segment;
        segment.marker = byte_at(stream, at + 1);
        size_t length = 2;
        if (segment.marker == 0xA0) {
            if (inside)
                return flaw("SOI inside an image");
            inside = true;
            start = at;
            images.emplace_back();
        } else if (!inside) {
            return flaw("segment outside an image");
        } else if (segment.marker >= 0xA2 && segment.marker <= 0xA8 && segment.marker != 0xA7) {
            if (at + 4 > stream.size() || be16(stream, at + 2) < 2 ||
                at + 2 + be16(stream, at + 2) > stream.size())
                return flaw("bad segment length");
            length += be16(stream, at + 2);
        } else if (segment.marker != 0xA1) {
            return flaw("unknown marker");
        }
        segment.bytes = stream.substr(at, length);
        at += length;
        if (segment.marker == 0xA3) {  // coded data up to the next marker
            size_t begin = at;
            while (at < stream.size() && !(byte_at(stream, at) == 0xFF && at + 1 < stream.size() &&
                                           byte_at(stream, at + 1) != 0))
                at += byte_at(stream, at) == 0xFF ? 2 : 1;
            if (at >= stream.size())
                return flaw("coded data without an end");
            segment.coded = stream.substr(begin, at - begin);
        }
        images.back().segments.push_back(segment);
        if (segment.marker == 0xA1) {
            inside = false;
            images.back().bytes = stream.substr(start, at - start);
        }
    }
    return inside ? flaw("stream ends inside an image") : "";
}

std::string huffman_tables(const Segment &dht, std::map<int, std::string> &tables)
{
    tables.clear();
    const std::string &s = dht.bytes;
    size_t at = 4;
    while (at < s.size()) {
        if (at + 17 > s.size())
            return "table counts cut short";
        size_t values = 0;
        for (size_t i = 1; i <= 16; ++i)
            values += byte_at(s, at + i);
        if (at + 17 + values > s.size())
            return "table values cut short";
        tables[(int)byte_at(s, at)] = s.substr(at + 1, 16 + values);
        at += 17 + values;
    }
    return "";
}

long coded_coefficients(const std::string &table, const std::string &coded, std::string &error)
{
    std::string data;  // the coded bytes without the 00 after each FF
    for (size_t i = 0; i < coded.size(); ++i) {
        data += coded[i];
        if (byte_at(coded, i) == 0xFF)
            ++i;
    }
    // Canonical codes: per length, the first codeword and its first value.
    long first[17] = {}, count[17] = {}, index[17] = {};
    long code = 0, values = 0;
    for (int length = 1; length <= 16; ++length) {
        count[length] = byte_at(table, (size_t)length - 1);
        first[length] = code;
        index[length] = values;
        code = (code + count[length]) << 1;
        values += count[length];
    }
    size_t bits = data.size() * 8, at = 0;
    auto bit = [&](size_t i) { return (byte_at(data, i / 8) >> (7 - i % 8)) & 1u; };
    auto read = [&](int n) {
        unsigned value = 0;
        while (n-- > 0)
            value = value << 1 | bit(at++);
        return value;
    };
    long coefficients = 0;
    while (at < bits) {
        bool padding = bits - at < 8;
        for (size_t i = at; padding && i < bits; ++i)
            padding = bit(i);
        if (padding)
            break;
        int symbol = -1;
        long word = 0;
        for (int length = 1; length <= 16 && at < bits && symbol < 0; ++length) {
            word = word << 1 | bit(at++);
            if (word - first[length] < count[length] && word >= first[length])
                symbol = byte_at(table, 16 + (size_t)(index[length] + word - first[length]));
        }
        int literal = symbol == 101 || symbol == 102 || symbol == 105   ? 8
                      : symbol == 103 || symbol == 104 || symbol == 106 ? 16
                                                                        : 0;
        if (symbol < 0 || at + literal > bits) {
            error = format("no codeword at bit %zu", at);
            return -1;
        }
        unsigned value = read(literal);
        if (symbol >= 1 && symbol <= 100)
            coefficients += symbol;
        else if (symbol == 105 || symbol == 106)
            coefficients += value;
        else if (symbol >= 101 && symbol <= 254 && symbol != 180)
            coefficients += 1;
        else {
            error = format("symbol %d is never written", symbol);
            return -1;
        }
    }
    return coefficients;
}

namespace {

void split(int rows, int cols, int depth, int &block, int *xs, int *ys)
{
    if (wsqlevels[block] == depth) {
        xs[block] = rows;
        ys[block] = cols;
        ++block;
        return;
    }
    // Children HH, HG, GH, GG; the low-pass half of n is ceil(n/2).
    for (int x_high = 0; x_high < 2; ++x_high)
        for (int y_high = 0; y_high < 2; ++y_high)
            split(x_high ? rows / 2 : (rows + 1) / 2, y_high ? cols / 2 : (cols + 1) / 2, depth + 1,
                  block, xs, ys);
}

}  // namespace

std::vector<long> subband_sizes(int rows, int cols)
{
    int xs[64], ys[64], block = 0;
    split(rows, cols, 0, block, xs, ys);
    std::vector<long> sizes;
    for (int k = 0; k < 64; ++k)
        sizes.push_back((long)xs[wsqorder[k]] * ys[wsqorder[k]]);
    return sizes;
}

/* ---- Fixture -------------------------------------------------------------- */

Outcome Wsq1Test::wsq1(const std::vector<std::string> &args, const RunOptions &options) const
{
    return run(WSQ1_PATH, args, dir.path(), options);
}

Outcome Wsq1Test::encode(const std::string &pixels, int width, int height,
                         const std::vector<std::string> &options, const std::string &name) const
{
    write(name, pixels);
    std::vector<std::string> args{"-r" + std::to_string(width) + "," + std::to_string(height)};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(name);
    return wsq1(args);
}

std::vector<ImageStream> Wsq1Test::parsed(const std::string &stream) const
{
    std::vector<ImageStream> images;
    std::string flaw = parse_streams(stream, images);
    EXPECT_EQ(flaw, "") << "stream of " << stream.size() << " bytes";
    return images;
}

}  // namespace cli
