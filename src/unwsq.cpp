/* unwsq.cpp - the WSQ decoder: WSQ files to PGM, PNG, TIFF or raw gray-scale images.
 *
 * Each input is read whole into memory. A first pass locates and checks its
 * streams without decoding pixels (a file may hold several streams back to
 * back, as the encoder writes them); a second pass decodes every stream;
 * only then are the images written. The image of a file of one stream,
 * going to a file of its own in a format other than PNG, is written as the
 * decoder finishes its rows instead, while it makes the others. An output
 * file appears under its name only once it is complete: it is written to a
 * temporary file beside it and renamed into place. Exit status: 0 when every
 * input decoded, 1 after a usage error or when any input failed (the others
 * are still decoded).
 */
#include "image_files.h"
#include "libwsq.h"
#include "platform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

const char version_text[] = "unwsq " WSQ_VERSION_STRING "\n";

const char usage_text[] =
    "Usage: unwsq [options] [FILE...]\n"
    "Decodes WSQ files to 8-bit gray-scale images; FILE \"-\", or no FILE, reads\n"
    "standard input.\n"
    "\n"
    "  -o OUT      write to OUT (one FILE only); \"-\" writes standard output\n"
    "  -f FORMAT   pgm (binary PGM), png (8-bit gray PNG), tiff (uncompressed TIFF)\n"
    "              or raw (pixels only)\n"
    "  -j N        threads decoding each image: 1 (the default), 0 one per core\n"
    "  --scale 1/N the image at 1/N of its width and height (rounded up), N 1, 2, 4\n"
    "              or 8: a preview, decoded in a fraction of the time\n"
    "  --size N    the image scaled down to at most N pixels wide and high, keeping\n"
    "              its proportions, through the fastest --scale that keeps N (a\n"
    "              thumbnail); an image within N x N stays as it is\n"
    "  --info      print each stream's header facts to standard output, decode nothing\n"
    "  -h, --help  print this text\n"
    "  --version   print the version\n"
    "  --          every later argument is a FILE\n"
    "\n"
    "An OUT ending in .pgm, .png, .tif, .tiff or .raw is written in that format\n"
    "(-f, if given, must agree); another extension needs -f; an OUT without one\n"
    "(\"-\", a device) is written as -f says, else as pgm.\n"
    "Without -o, FILE's image goes beside it with the format's extension in place\n"
    "of its own (x.wsq -> x.pgm); standard input's goes to standard output.\n"
    "A file of n > 1 streams gives x-1.pgm ... x-n.pgm (with -o OUT: OUT's name\n"
    "numbered the same way before its extension); standard output, a device or\n"
    "a pipe receives the images one after another, except as png (one image).\n"
    "Exit status: 0 when every FILE decoded, 1 otherwise.\n";

const char usage_hint[] = "Usage: unwsq [options] [FILE...]   (unwsq --help for details)\n";

/* ---- Errors -------------------------------------------------------------- */

/* Why an input failed, in words; reported as "unwsq: FILE: what". */
struct failure {
    std::string what;
};

/* A command line that cannot be run. */
struct usage_error {
    std::string what;
};

std::string system_error(const std::string &action)
{
    return action + ": " + std::strerror(errno);
}

/* ---- Formats and names --------------------------------------------------- */

enum class image_format { pgm, png, tiff, raw };

/* What the format words and extensions are, for the messages that list them. */
const char format_words[] = "pgm, png, tiff or raw";
const char format_extensions[] = ".pgm, .png, .tif, .tiff or .raw";

bool equal_ignoring_case(const std::string &a, const char *b)
{
    const char *c = a.c_str();
    for (; *c && std::tolower((unsigned char)*c) == std::tolower((unsigned char)*b); ++c, ++b) {
    }
    return *c == '\0' && *b == '\0';
}

/* A word of -f, or an extension without its dot. */
bool parse_format(const std::string &word, image_format *format)
{
    if (equal_ignoring_case(word, "pgm"))
        *format = image_format::pgm;
    else if (equal_ignoring_case(word, "png"))
        *format = image_format::png;
    else if (equal_ignoring_case(word, "tiff") || equal_ignoring_case(word, "tif"))
        *format = image_format::tiff;
    else if (equal_ignoring_case(word, "raw"))
        *format = image_format::raw;
    else
        return false;
    return true;
}

const char *format_extension(image_format format)
{
    switch (format) {
    case image_format::png: return ".png";
    case image_format::tiff: return ".tif";
    case image_format::raw: return ".raw";
    default: return ".pgm";
    }
}

bool is_standard_stream(const std::string &name)
{
    return name == "-";
}

/* Position of the dot that starts the extension of name's last component,
 * or npos; a leading dot (".profile") starts no extension. */
size_t extension_dot(const std::string &name)
{
    size_t dot = name.rfind('.');
    size_t slash = name.rfind('/');
    size_t base = slash == std::string::npos ? 0 : slash + 1;
    return dot != std::string::npos && dot > base ? dot : std::string::npos;
}

std::string stem(const std::string &name)
{
    return name.substr(0, extension_dot(name));
}

std::string extension(const std::string &name)
{
    size_t dot = extension_dot(name);
    return dot == std::string::npos ? "" : name.substr(dot);
}

/* ---- Command line -------------------------------------------------------- */

struct options {
    std::vector<std::string> inputs;
    std::string output;  /* empty: beside each input */
    bool format_given = false;
    image_format format = image_format::pgm;  /* settled by settle_format */
    bool info = false;
    int threads = 1;  /* one process per core already serves batch runs */
    int reduce = 1;   /* --scale 1/reduce */
    int size = 0;     /* --size; 0: none */
};

/* The number given to -j: 0 (one thread per core) to the library's most. */
int thread_count(const std::string &word)
{
    char *end = nullptr;
    long count = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || count < 0 || count > WSQ_MAX_THREADS)
        throw usage_error{"-j takes a thread count from 0 (one per core) to " +
                          std::to_string(WSQ_MAX_THREADS) + ", not \"" + word + "\""};
    return (int)count;
}

/* The N of --scale 1/N: 1, 2, 4 or 8, the reductions the decoder offers. */
int scale_reduction(const std::string &word)
{
    for (int reduce : {1, 2, 4, 8})
        if (word == "1/" + std::to_string(reduce))
            return reduce;
    throw usage_error{"--scale takes 1/1, 1/2, 1/4 or 1/8, not \"" + word + "\""};
}

/* The N of --size: 1 to the largest width or height of a stream. */
int thumbnail_size(const std::string &word)
{
    char *end = nullptr;
    long size = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || size < 1 || size > 65535)
        throw usage_error{"--size takes a number of pixels from 1 to 65535, not \"" + word + "\""};
    return (int)size;
}

/* The value of option "--name", attached ("--name=VALUE") or the next
 * argument; null when argv[*i] is another option. */
const char *long_option_value(int argc, char **argv, int *i, const std::string &name)
{
    std::string arg = argv[*i];
    if (arg.compare(0, name.size() + 1, name + "=") == 0)
        return argv[*i] + name.size() + 1;
    if (arg != name)
        return nullptr;
    if (*i + 1 == argc)
        throw usage_error{"option " + name + " needs a value"};
    return argv[++*i];
}

/* The value of option "-x", attached ("-xVALUE") or the next argument. */
std::string option_value(int argc, char **argv, int *i)
{
    const char *arg = argv[*i];
    if (arg[2] != '\0')
        return arg + 2;
    if (*i + 1 == argc)
        throw usage_error{std::string("option ") + arg + " needs a value"};
    return argv[++*i];
}

/* No file is written in a format other than its name says. The extension of
 * -o's name sets the format, and -f must agree with it; an extension unwsq
 * does not know leaves the format to -f. A name without one ("-", most
 * devices) claims no format: -f, else PGM, as for the default names. */
void settle_format(options *opts)
{
    std::string ext = extension(opts->output);
    if (ext.empty())
        return;
    image_format named;
    if (!parse_format(ext.substr(1), &named)) {
        if (!opts->format_given)
            throw usage_error{"cannot tell the format of " + opts->output +
                              " from its extension: end it in " + format_extensions +
                              ", or name the format with -f"};
    } else if (opts->format_given && opts->format != named) {
        throw usage_error{"-f and the extension of " + opts->output + " name different formats"};
    } else {
        opts->format = named;
    }
}

void check_options(const options &opts)
{
    if (!opts.output.empty() && opts.inputs.size() > 1)
        throw usage_error{"-o takes a single input file"};
    if (opts.info && (!opts.output.empty() || opts.format_given || opts.reduce > 1 || opts.size))
        throw usage_error{"--info writes no image: it takes no -o, -f, --scale or --size"};
    if (opts.reduce > 1 && opts.size)
        throw usage_error{"--scale and --size both set the image's size: give one"};
}

/* Reads the options and input names; returns false when --help or
 * --version has been answered and there is nothing more to do. */
bool parse_options(int argc, char **argv, options *opts)
{
    bool only_files = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (only_files || arg == "-" || arg[0] != '-') {
            opts->inputs.push_back(arg);
        } else if (arg == "--") {
            only_files = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(usage_text, stdout);
            return false;
        } else if (arg == "--version") {
            std::fputs(version_text, stdout);
            return false;
        } else if (arg == "--info") {
            opts->info = true;
        } else if (const char *scale = long_option_value(argc, argv, &i, "--scale")) {
            opts->reduce = scale_reduction(scale);
        } else if (const char *size = long_option_value(argc, argv, &i, "--size")) {
            opts->size = thumbnail_size(size);
        } else if (arg.compare(0, 2, "-o") == 0) {
            if (!opts->output.empty())
                throw usage_error{"-o given twice"};
            opts->output = option_value(argc, argv, &i);
            if (opts->output.empty())
                throw usage_error{"-o needs a file name"};
        } else if (arg.compare(0, 2, "-j") == 0) {
            opts->threads = thread_count(option_value(argc, argv, &i));
        } else if (arg.compare(0, 2, "-f") == 0) {
            std::string word = option_value(argc, argv, &i);
            if (!parse_format(word, &opts->format))
                throw usage_error{"unknown format \"" + word + "\" (" + format_words + ")"};
            opts->format_given = true;
        } else {
            throw usage_error{"unknown option " + arg};
        }
    }
    if (opts->inputs.empty())
        opts->inputs.push_back("-");
    check_options(*opts);
    settle_format(opts);
    return true;
}

/* ---- Output names -------------------------------------------------------- */

const char *shown_name(const std::string &input)
{
    return is_standard_stream(input) ? "(stdin)" : input.c_str();
}

/* The name of image k (from 1) of count for input, as the usage text tells. */
std::string output_name(const std::string &input, const options &opts, int k, int count)
{
    std::string base = opts.output.empty() ? input : opts.output;
    std::string ext = opts.output.empty() ? format_extension(opts.format) : extension(base);
    std::string number = count > 1 ? "-" + std::to_string(k) : "";
    return stem(base) + number + ext;
}

/* A device, a pipe or the like: written in place, never replaced. */
bool is_special_file(const std::string &name)
{
    wsq_platform::file_kind kind = wsq_platform::kind_of(name.c_str());
    return kind == wsq_platform::file_kind::directory || kind == wsq_platform::file_kind::other;
}

/* Whether all images of input go, one after another, into one stream. */
bool writes_one_stream(const std::string &input, const options &opts)
{
    if (opts.output.empty())
        return is_standard_stream(input);
    return is_standard_stream(opts.output) || is_special_file(opts.output);
}

/* ---- Input --------------------------------------------------------------- */

struct file_closer {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
typedef std::unique_ptr<std::FILE, file_closer> owned_file;

/* Bytes from the allocator: an input, or pixels decoded by the library
 * (released with wsq_free) or scaled here (std::free). A run's buffers are
 * fresh memory: the large ones are taken in huge pages (hugebuffer). */
typedef std::unique_ptr<ui8, void (*)(void *)> byte_buffer;

/* An input's bytes: a file's read at once into room of its size, so that
 * they cost no copy. */
class input_bytes {
public:
    explicit input_bytes(std::FILE *in);
    const ui8 *data() const { return bytes.get(); }
    size_t size() const { return length; }

private:
    void make_room(size_t room);
    byte_buffer bytes{nullptr, std::free};
    size_t length = 0;
};

input_bytes::input_bytes(std::FILE *in)
{
    long long regular = wsq_platform::regular_size(in);
    /* A byte beyond a file's size, to see its end in one read; a pipe's room doubles. */
    size_t room = regular >= 0 ? (size_t)regular + 1 : (size_t)1 << 16, got;
    make_room(room);
    while ((got = std::fread(bytes.get() + length, 1, room - length, in)) > 0) {
        length += got;
        if (length == room)
            make_room(room *= 2);
    }
    if (std::ferror(in))
        throw failure{system_error("cannot read")};
}

void input_bytes::make_room(size_t room)
{
    byte_buffer more((ui8 *)hugebuffer(room), std::free);
    if (!more)
        throw std::bad_alloc();
    if (length > 0)
        std::memcpy(more.get(), bytes.get(), length);
    bytes = std::move(more);
}

input_bytes read_input(const std::string &input)
{
    if (is_standard_stream(input))
        return input_bytes(stdin);
    owned_file in(wsq_platform::open_file(input.c_str(), "rb"));
    if (!in)
        throw failure{system_error("cannot open")};
    return input_bytes(in.get());
}

/* ---- Decoding ------------------------------------------------------------ */

/* One stream of an input: where it starts and what its segments state. */
struct stream {
    size_t offset;
    wsq_info info;
};

struct image {
    int width, height;
    byte_buffer pixels;
};

failure decode_failure(const wsq_error &error, size_t stream_offset)
{
    char text[sizeof error.message + 100];
    std::snprintf(text, sizeof text, "%s at byte %zu: %s", wsq_strerror(error.status),
                  stream_offset + error.offset, error.message);
    return failure{text};
}

/* The stream of data that starts at byte at, its segments checked. */
stream locate_stream(const input_bytes &data, size_t at)
{
    stream s{at, wsq_info()};
    wsq_error error;
    if (wsq_read_info(&s.info, &error, data.data() + at, data.size() - at) != WSQ_OK)
        throw decode_failure(error, at);
    return s;
}

/* Checks every stream of data and tells where each starts, without
 * decoding pixels. */
std::vector<stream> locate_streams(const input_bytes &data)
{
    std::vector<stream> streams;
    size_t at = 0;
    do {
        streams.push_back(locate_stream(data, at));
        at += streams.back().info.stream_bytes;
    } while (at < data.size());
    return streams;
}

/* The work memory of every decoding of the run: fresh memory taken once, in
 * huge pages, which costs far fewer page faults than the 4 KiB pages of a
 * decoding's own. */
wsq_workspace *run_workspace()
{
    static std::unique_ptr<wsq_workspace, void (*)(wsq_workspace *)> workspace(
        wsq_workspace_new(), wsq_workspace_free);
    return workspace.get();
}

/* Pixel rows written to a file as the decoder finishes them. */
struct row_writer {
    std::FILE *out;
    const ui8 *pixels;
    size_t width;
};

void write_rows(void *context, size_t first, size_t count)
{
    const row_writer &writer = *(const row_writer *)context;
    std::fwrite(writer.pixels + first * writer.width, 1, count * writer.width, writer.out);
}

/* The stream's image at 1/reduce of each dimension; its rows also written
 * to rows_to (when not null) as they are finished. */
image decode_stream(const input_bytes &data, const stream &s, int threads, int reduce,
                    std::FILE *rows_to = nullptr)
{
    int width = WSQ_REDUCED_SIZE(s.info.width, reduce);
    int height = WSQ_REDUCED_SIZE(s.info.height, reduce);
    size_t count = (size_t)width * (size_t)height;
    byte_buffer pixels((ui8 *)hugebuffer(count), wsq_free);
    wsq_workspace *workspace = run_workspace();
    if (!pixels || !workspace)
        throw failure{"out of memory for an image of " + std::to_string(count) + " pixels"};
    wsq_info info;
    wsq_error error;
    wsq_decode_options settings;
    wsq_decode_defaults(&settings);
    settings.threads = threads;
    settings.reduce = reduce;
    row_writer writer = {rows_to, pixels.get(), (size_t)width};
    wsq_row_sink sink = {write_rows, &writer};
    if (decoderows(workspace, pixels.get(), count, &info, &error, data.data() + s.offset,
                   data.size() - s.offset, &settings, rows_to ? &sink : nullptr) != WSQ_OK)
        throw decode_failure(error, s.offset);
    return image{width, height, std::move(pixels)};
}

/* ---- Thumbnails ---------------------------------------------------------- */

/* Averages a line of `from` samples (step in_step) into `to` samples (step
 * out_step): output k is the mean of the span [k from / to, (k + 1) from / to)
 * of the input, each sample weighted by the part of it the span covers. */
template <class Sample>
void average_line(const Sample *in, size_t in_step, int from, double *out, size_t out_step, int to)
{
    double ratio = (double)from / to;
    for (int k = 0; k < to; ++k) {
        double start = k * ratio, end = (k + 1) * ratio, sum = 0;
        for (int i = (int)start; i < end && i < from; ++i)
            sum += (std::min(end, i + 1.0) - std::max(start, (double)i)) * in[i * in_step];
        out[k * out_step] = sum / ratio;
    }
}

/* im scaled to width x height, each pixel the average of the area of im it
 * covers. */
image shrink(const image &im, int width, int height)
{
    std::vector<double> across((size_t)im.height * width), down((size_t)height * width);
    for (int y = 0; y < im.height; ++y)
        average_line(im.pixels.get() + (size_t)y * im.width, 1, im.width,
                     across.data() + (size_t)y * width, 1, width);
    for (int x = 0; x < width; ++x)
        average_line(across.data() + x, width, im.height, down.data() + x, width, height);
    byte_buffer pixels((ui8 *)std::malloc(down.size()), std::free);
    if (!pixels)
        throw std::bad_alloc();
    for (size_t i = 0; i < down.size(); ++i)
        pixels.get()[i] = (ui8)(down[i] + 0.5);
    return image{width, height, std::move(pixels)};
}

/* The stream's image in a size x size square, proportions kept: decoded at
 * the largest reduction whose longer side still reaches size, then shrunk
 * so that its longer side is size. An image within the square is whole. */
image thumbnail(const input_bytes &data, const stream &s, int threads, int size)
{
    int longer = std::max(s.info.width, s.info.height);
    int reduce = 8;
    while (reduce > 1 && WSQ_REDUCED_SIZE(longer, reduce) < size)
        reduce /= 2;
    image decoded = decode_stream(data, s, threads, reduce);
    if (longer <= size)
        return decoded;
    double ratio = (double)size / longer;
    int width = std::max(1, (int)std::lround(s.info.width * ratio));
    int height = std::max(1, (int)std::lround(s.info.height * ratio));
    return shrink(decoded, width, height);
}

image decode_image(const input_bytes &data, const stream &s, const options &opts)
{
    if (opts.size)
        return thumbnail(data, s, opts.threads, opts.size);
    return decode_stream(data, s, opts.threads, opts.reduce);
}

/* ---- Header facts -------------------------------------------------------- */

/* A comment as one printable line: a line break becomes \n, the backslash
 * and other bytes outside printable ASCII \xHH. */
std::string escaped(const ui8 *text, size_t length)
{
    std::string out;
    for (unsigned char c : std::string((const char *)text, length)) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += (char)c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string table_list(unsigned tables)
{
    std::string list;
    for (int t = 0; t < WSQ_MAXDHTS; ++t)
        if (tables & (1u << t))
            list += (list.empty() ? "" : " ") + std::to_string(t);
    return list;
}

void print_info(const input_bytes &data, const std::string &input, const stream &s, int k,
                int count)
{
    const wsq_info &i = s.info;
    double pixels = (double)i.width * i.height;
    std::printf("file: %s\nstream: %d of %d\noffset: %zu\n", shown_name(input), k, count,
                s.offset);
    std::printf("width: %d\nheight: %d\n", i.width, i.height);
    std::printf("M: %g\nR: %g\nA: %d\nB: %d\n", (double)i.midpoint, (double)i.rescale, i.black,
                i.white);
    std::printf("Ev: %d\nSf: %d\n", i.encoder, i.software);
    std::printf("L0: %d\nL1: %d\n", i.filter_lengths[0], i.filter_lengths[1]);
    std::printf("C: %g\n", (double)i.center);
    std::printf("Huffman tables: %s\n", table_list(i.tables).c_str());
    std::printf("restart interval: %d\n", i.restart_interval);
    for (int b = 0; b < i.blocks; ++b)
        std::printf("block %d: Huffman table %d, %zu bytes\n", b, i.block_table[b],
                    i.block_bytes[b]);
    for (uint32_t c = 0; c < i.comments; ++c) {
        const ui8 *text;
        size_t length;
        wsq_comment(&text, &length, nullptr, data.data() + s.offset, data.size() - s.offset, c);
        std::printf("comment: %s\n", escaped(text, length).c_str());
    }
    std::printf("stream bytes: %zu\nbits per pixel: %.4f\n\n", i.stream_bytes,
                i.stream_bytes * 8.0 / pixels);
}

/* Everything written so far must have reached the stream. */
void check_written(std::FILE *out, const std::string &shown)
{
    if (std::fflush(out) != 0 || std::ferror(out))
        throw failure{system_error("cannot write " + shown)};
}

void print_all_info(const input_bytes &data, const std::string &input,
                    const std::vector<stream> &streams)
{
    int count = (int)streams.size();
    for (int k = 0; k < count; ++k)
        print_info(data, input, streams[k], k + 1, count);
    check_written(stdout, "standard output");
}

/* ---- Output -------------------------------------------------------------- */

/* Writes what comes before the pixels of a width x height image in format,
 * one whose pixels follow as they are, rows in order (every format but png). */
void write_head(std::FILE *out, image_format format, int width, int height)
{
    if (format == image_format::pgm)
        write_pgm_head(out, width, height);
    else if (format == image_format::tiff)
        puttiffghead(out, (ui32)height, (ui32)width);
}

/* Writes im to out, named shown in messages. */
void write_image(std::FILE *out, const std::string &shown, const image &im, image_format format)
{
    if (format == image_format::png) {
        char why[png_message_size];
        if (!write_png(out, im.pixels.get(), im.width, im.height, why))
            throw failure{"cannot write " + shown + ": " + why};
        return;
    }
    write_head(out, format, im.width, im.height);
    std::fwrite(im.pixels.get(), 1, (size_t)im.width * im.height, out);
}

/* A file that appears under its name only when complete: written to a
 * temporary file beside it, renamed into place by commit(), removed if the
 * object dies uncommitted or a signal ends the run (an image written as it
 * is decoded keeps it open the whole decoding). */
class staged_file {
public:
    explicit staged_file(const std::string &name)
        : name_(name),
          temporary_(name + "." + std::to_string(wsq_platform::process_id()) + ".tmp"),
          file_(wsq_platform::create_new(temporary_.c_str()))
    {
        if (!file_)
            throw failure{system_error("cannot create " + name_)};
        wsq_platform::remove_on_signal(temporary_.c_str());
    }
    staged_file(const staged_file &) = delete;
    staged_file &operator=(const staged_file &) = delete;

    ~staged_file()
    {
        if (file_)
            std::fclose(file_);
        if (!committed_)
            wsq_platform::remove_file(temporary_.c_str());
        wsq_platform::remove_on_signal(nullptr);
    }

    std::FILE *stream() const { return file_; }

    void commit()
    {
        check_written(file_, name_);
        int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0)
            throw failure{system_error("cannot write " + name_)};
        if (!wsq_platform::replace_file(temporary_.c_str(), name_.c_str()))
            throw failure{system_error("cannot rename " + temporary_ + " to " + name_)};
        committed_ = true;
    }

private:
    std::string name_, temporary_;
    std::FILE *file_ = nullptr;
    bool committed_ = false;
};

void write_file(const std::string &name, const image &im, image_format format)
{
    staged_file file(name);
    write_image(file.stream(), name, im, format);
    file.commit();
}

/* Standard output, or a device or pipe named by -o. */
void write_one_stream(const options &opts, const std::vector<image> &images)
{
    owned_file device;
    std::FILE *out = stdout;
    std::string shown = "standard output";
    if (!opts.output.empty() && !is_standard_stream(opts.output)) {
        device.reset(wsq_platform::open_file(opts.output.c_str(), "wb"));
        if (!device)
            throw failure{system_error("cannot open " + opts.output)};
        out = device.get();
        shown = opts.output;
    }
    for (const image &im : images)
        write_image(out, shown, im, opts.format);
    check_written(out, shown);
    if (device && std::fclose(device.release()) != 0)
        throw failure{system_error("cannot write " + shown)};
}

/* The name of image k (from 1) of count for input, which must not name the input. */
std::string file_name(const std::string &input, const options &opts, int k, int count)
{
    std::string name = output_name(input, opts, k, count);
    if (wsq_platform::same_file(name.c_str(), input.c_str()))
        throw failure{"the output " + name + " would replace the input; name another with -o"};
    return name;
}

void write_images(const std::string &input, const options &opts,
                  const std::vector<image> &images)
{
    if (writes_one_stream(input, opts)) {
        if (opts.format == image_format::png && images.size() > 1)
            throw failure{std::to_string(images.size()) + " images, and a PNG stream holds one: "
                          "write them to files (-o OUT.png numbers them) or as pgm or raw"};
        write_one_stream(opts, images);
        return;
    }
    int count = (int)images.size();
    for (int k = 0; k < count; ++k)
        write_file(file_name(input, opts, k + 1, count), images[k], opts.format);
}

/* Whether the image of the input's one stream s is written as it is
 * decoded: to a file of its own (which appears only once complete), whole or
 * at --scale, in a format whose pixels follow its head. */
bool written_while_decoded(const input_bytes &data, const stream &s, const std::string &input,
                           const options &opts)
{
    return s.info.stream_bytes == data.size() && !writes_one_stream(input, opts) &&
           opts.format != image_format::png && !opts.size;
}

/* The output of a stream's image: its rows written as the decoder finishes
 * them, while it makes the others. */
void decode_to_file(const input_bytes &data, const stream &s, const std::string &input,
                    const options &opts)
{
    std::string name = file_name(input, opts, 1, 1);
    staged_file file(name);
    write_head(file.stream(), opts.format, WSQ_REDUCED_SIZE(s.info.width, opts.reduce),
               WSQ_REDUCED_SIZE(s.info.height, opts.reduce));
    std::fflush(file.stream());  /* each group of rows then goes out in one write */
    decode_stream(data, s, opts.threads, opts.reduce, file.stream());
    file.commit();
}

/* Streams back to back are decoded in order, each before the next is read:
 * an input is refused for its first flaw (wsq.h, Verdicts). */
void decode_input(const std::string &input, const options &opts)
{
    input_bytes data = read_input(input);
    if (opts.info) {
        print_all_info(data, input, locate_streams(data));
        return;
    }
    stream first = locate_stream(data, 0);
    if (written_while_decoded(data, first, input, opts)) {
        decode_to_file(data, first, input, opts);
        return;
    }
    std::vector<image> images;
    size_t at = 0;
    for (stream s = first;; s = locate_stream(data, at)) {
        images.push_back(decode_image(data, s, opts));
        at += s.info.stream_bytes;
        if (at >= data.size())
            break;
    }
    write_images(input, opts, images);
}

/* The one place where a failed input becomes a message and an exit status. */
int run_input(const std::string &input, const options &opts)
{
    std::string what;
    try {
        decode_input(input, opts);
        return 0;
    } catch (const failure &f) {
        what = f.what;
    } catch (const std::bad_alloc &) {
        what = "out of memory";
    }
    std::fprintf(stderr, "unwsq: %s: %s\n", shown_name(input), what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    wsq_platform::start_program(&argc, &argv);
    options opts;
    try {
        if (!parse_options(argc, argv, &opts))
            return 0;
    } catch (const usage_error &e) {
        std::fprintf(stderr, "unwsq: %s\n%s", e.what.c_str(), usage_hint);
        return 1;
    }
    int status = 0;
    for (const std::string &input : opts.inputs)
        status |= run_input(input, opts);
    return status;
}
