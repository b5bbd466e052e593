/* wsq1.cpp - the WSQ encoder: raw 8-bit gray-scale images to WSQ streams.
 *
 * The whole encoder state lives in the file-level variables below. Start-up
 * sets the defaults, reads the command line and makes the long-lived
 * records; then every input image runs through one fixed pipeline of stages
 * that read and write that state, and its stream is written to the one
 * output, strictly in sequence. Exit status: 0 after all images, 1 after the
 * usage text or a fatal message, WSQ_ASSERT_STATUS after an assertion report.
 */
#include "libwsq.h"
#include "platform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

/* ---- Run settings -------------------------------------------------------- */

int rows, cols;            /* image height and width */
int A, B;                  /* scanner black and white calibration */
double bitrate;            /* nominal bits per pixel */
char *comment;             /* points into the argument after "-c" */
int logging;               /* verbosity 0 to 4 */
char **innames;            /* input names; null when reading standard input */
int infiles;
enum { NAME_SIZE = 1029 }; /* 1028 characters and the terminator */
char outname[NAME_SIZE];   /* empty: standard output */
char logname[NAME_SIZE];   /* empty: standard error */
std::FILE *infile, *outfile, *logfile;

/* ---- Constants of the format and the encoder ----------------------------- */

const ui16 Lf = 17, Lq = 389, Ls = 3;
const int Ev = WSQ_EV;
const int Sf = WSQ_SF;
const int restarti = 0;
const double center = WSQ_CENTER;
const char rcsid[74] = "wsq1 " WSQ_VERSION_STRING;

/* ---- Library records, made once per run ---------------------------------- */

pqf *h0qf, *h1qf;
hedge *graph;
bitio *ecs;

/* ---- Work buffers, sized per image (11 bytes per pixel in all) -----------
 * The words are parts of one allocation in huge pages, so that a small
 * image's fill whole ones; the symbols have 4 KiB pages of their own, of
 * which they touch only the few they fill, where clearing huge pages for
 * them cost 1.4 ms of the 21 of a 2048x2048 image. */

void *words0;  /* 4 bytes per pixel: samples and subbands, then coded bits; owns words1 */
void *bytes0;  /* 3 bytes per pixel: the symbol streams */
void *words1;  /* 4 bytes per pixel: the pixels as read, then transform scratch, then
                  quantized integers; sharing it spares a fresh page per 4 KiB of pixels */
ui32 capacity; /* pixels the buffers have room for */

/* ---- Per-image results --------------------------------------------------- */

const char *inname;  /* the current input's name, "(stdin)" for standard input */
real midpoint, rescale;
int xs[WSQ_SUBBANDS], ys[WSQ_SUBBANDS];  /* indexed by hedge block */
ui32 numcoefs[WSQ_SUBBANDS];             /* indexed by subband */
double variance[WSQ_SUBBANDS];
double quality;
real qs[WSQ_SUBBANDS], zs[WSQ_SUBBANDS];
int32 *qcoefs[WSQ_BLOCKS];
ui32 nqcoefs[WSQ_BLOCKS];
ui8 *symbols[WSQ_BLOCKS];
int symlen[WSQ_BLOCKS];
ui8 wsqdht[WSQ_MAXDHTS][WSQ_DHT_BYTES];
int dhtlen[WSQ_MAXDHTS];
int numdhts;
int Th[WSQ_BLOCKS];
ui8 dqt[Lq - 2];
ui16 Lc;
int Lt;
ui16 Lh;

/* ---- Accounting ---------------------------------------------------------- */

int totalbytes;  /* bytes of the current image's stream written so far */
int numpics;     /* images compressed so far */

/* ---- The named output ---------------------------------------------------- */

std::string finalname;     /* the file the output replaces: outname, links resolved */
std::string partname;      /* the file written until the run ends */
long long complete_bytes;  /* bytes of the images written in full so far */
bool parted;               /* whether partname names a file written */

/* ==== Messages, log and reports ========================================== */

const char usage_text[] =
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
static_assert(sizeof usage_text - 1 == 1066, "the usage text is one write of 1066 bytes");

std::string format(const char *fmt, ...)
{
    va_list args, again;
    va_start(args, fmt);
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string text(length > 0 ? length : 0, '\0');
    std::vsnprintf(&text[0], text.size() + 1, fmt, again);
    va_end(again);
    return text;
}

void mention(const char *message)
{
    if (logging > 1)
        std::fprintf(logfile, " <> %s.\n", message);
}

void warning(const char *message)
{
    if (logging > 0)
        std::fprintf(logfile, "Warning! Not WSQ compliant: %s.\n", message);
}

/* Ends the run with a fatal message, followed by a command to run instead,
 * if any, alone on its line so that it can be pasted as it stands. */
[[noreturn]] void fatal(const char *message, const std::string &command = "")
{
    std::fprintf(stderr, "Error! Fatal input flaw: %s.\n", message);
    if (!command.empty())
        std::fprintf(stderr, "%s\n", command.c_str());
    std::exit(1);
}

[[noreturn]] void usage()
{
    std::fwrite(usage_text, 1, sizeof usage_text - 1, stderr);
    std::exit(1);
}

/* --help or -h, and --version, among the leading options: answered on
 * standard output before anything else, and the run ends there. */
void answer_help_or_version(int argc, char **argv)
{
    for (int i = 1; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fwrite(usage_text, 1, sizeof usage_text - 1, stdout);
            std::fputs("\nThe manual: man wsq1 (docs/wsq1.1 in the source tree).\n", stdout);
            std::exit(std::fflush(stdout) == 0 ? 0 : 1);
        }
        if (option == "--version") {
            std::printf("%s (libwsq %s)\n", rcsid, wsq_version());
            std::exit(std::fflush(stdout) == 0 ? 0 : 1);
        }
    }
}

void print_parameters()
{
    static const char rule[] =
        "=============================== Parameters  ================================\n";
    std::fputs(rule, logfile);
    std::fprintf(logfile, "   Input file name: %s\n", inname);
    std::fprintf(logfile,
                 "   Image lines or height: Y=%4d rows;   Samples/line or width: X=%4d cols;\n",
                 rows, cols);
    std::fprintf(logfile,
                 "   Pixel rescale value: (R,Er)= %5.3f;   Pixel midpoint value: (M,Em)=%5.1f;\n",
                 (double)rescale, (double)midpoint);
    std::fprintf(logfile,
                 "   Scanner black calibration:  A= %3d;   Scanner white calibration:  B= %3d;\n",
                 A, B);
    std::fprintf(logfile,
                 "   Encoder parameterization:   Ev=%3d;   Software version number: Sf=%6d;\n",
                 Ev, Sf);
    std::fprintf(logfile, "   Analysis lo-pass H0: %d tap %s;   Analysis hi-pass H1: %d tap %s;\n",
                 9, "WSQh0htype", 7, "WSQh1gtype");
    std::fprintf(logfile,
                 "   Number of Huffman tables:      %3d;   Number of ECS blocks:    SOBs= %3d;\n",
                 numdhts, WSQ_BLOCKS);
    std::fprintf(logfile,
                 "   Nominal bit rate:        Z=%7.3f;   Selected quality factor: Q= %6.4f;\n",
                 bitrate, quality);
    std::fprintf(logfile,
                 "   Restart interval length: Ri= %5d;   Nominal bin center:       C= %5.3f;\n",
                 restarti, center);
    std::fputs("   --- Subband quantization bin widths (qs for nonzeroes, zs for zeroes) ---\n",
               logfile);
    std::fputs("    k  qs[k]  zs[k] |  k  qs[k]  zs[k] |  k  qs[k]  zs[k] |  k  qs[k]  zs[k]\n",
               logfile);
    std::fputs("   -- ------ ------ | -- ------ ------ | -- ------ ------ | -- ------ ------\n",
               logfile);
    for (int k = 0; k < 16; ++k)
        std::fprintf(logfile,
                     "   %2d %6.2f %6.2f | %2d %6.2f %6.2f | %2d %6.2f %6.2f | %2d %6.2f %6.2f\n",
                     k, (double)qs[k], (double)zs[k], k + 16, (double)qs[k + 16],
                     (double)zs[k + 16], k + 32, (double)qs[k + 32], (double)zs[k + 32], k + 48,
                     (double)qs[k + 48], (double)zs[k + 48]);
    std::fputs("============================================================================\n",
               logfile);
    std::fflush(logfile);
}

void print_invoice(const char *name)
{
    ++numpics;
    real compression = (real)(rows * cols) / (real)totalbytes;
    std::fprintf(logfile,
                 " ++ Compress image %d:  `%s' -->> `%s'\n"
                 " ++ (%d WSQ bytes; %d ECS's; actual compression %5.1f).\n",
                 numpics, name, outname[0] ? outname : "(stdout)", totalbytes, WSQ_BLOCKS,
                 (double)compression);
    std::fflush(logfile);
}

/* ==== The named output ===================================================
 * A named output is written to a file beside it and put in place when the
 * run ends, so that a failed run never destroys the file it names: it then
 * holds the images written in full, or, without any, keeps what it held.
 * A device or a pipe of that name is written in place; standard output
 * cannot be taken back. */

/* At every end of the run: the images written in full go in place, a
 * partial one is cut off, and no other file stays behind. */
void settle_output()
{
    if (!parted)
        return;
    if (outfile)
        std::fclose(outfile);
    outfile = nullptr;
    bool kept = complete_bytes > 0 &&
                wsq_platform::truncate_file(partname.c_str(), complete_bytes) &&
                wsq_platform::replace_file(partname.c_str(), finalname.c_str());
    if (!kept)
        wsq_platform::remove_file(partname.c_str());
    wsq_platform::remove_on_signal(nullptr);
    parted = false;
}

/* Opens the output that outname names; null if it cannot be written. */
std::FILE *open_output()
{
    using namespace wsq_platform;
    unsigned mode = new_file_mode();
    file_kind kind = kind_of(outname, &mode);
    if (kind == file_kind::directory)
        return nullptr;
    if (kind == file_kind::other)
        return open_file(outname, "wb");
    bool exists = kind == file_kind::regular;
    if (exists && !writable(outname))
        return nullptr;
    /* A link stays a link: the file it leads to is replaced. */
    finalname = outname;
    if (exists && !full_name(outname, &finalname))
        return nullptr;
    std::FILE *file = create_beside(finalname, mode, &partname);
    if (!file)
        return nullptr;
    parted = true;
    remove_on_signal(partname.c_str());
    std::atexit(settle_output);
    return file;
}

/* ==== Command line and defaults ========================================== */

void set_defaults()
{
    logfile = stderr;
    outfile = stdout;
    rows = 512;
    cols = 512;
    logging = 0;
    logname[0] = outname[0] = '\0';
    comment = nullptr;
    A = 0;
    B = 255;
    bitrate = 0.75;
    numpics = 0;
    h0qf = makepqf("WSQ h0 H", WSQh0hbqf, -4, 4, 2);
    h1qf = makepqf("WSQ h1 G", WSQh1gbqf, -4, 2, 3);
}

/* Copies an option's file name, adding the extension unless the name ends
 * with it exactly. */
void set_file_name(char *name, const char *value, const char *extension, const char *too_long)
{
    const char *dot = std::strrchr(value, '.');
    bool has_extension = dot && std::strcmp(dot, extension) == 0;
    size_t length = std::strlen(value) + (has_extension ? 0 : std::strlen(extension));
    if (length >= NAME_SIZE)
        fatal(too_long);
    std::strcpy(name, value);
    if (!has_extension)
        std::strcat(name, extension);
}

/* The decimal integer at *text, which an int must hold; *text moves past it. */
bool read_int(const char **text, int *number)
{
    char *end;
    errno = 0;
    long value = std::strtol(*text, &end, 10);
    if (end == *text || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return false;
    *number = (int)value;
    *text = end;
    return true;
}

/* "N,M" read whole: both numbers, nothing after them. False leaves both as they were. */
bool read_pair(const char *value, int *first, int *second)
{
    int n, m;
    if (!read_int(&value, &n) || *value++ != ',' || !read_int(&value, &m) || *value != '\0')
        return false;
    *first = n;
    *second = m;
    return true;
}

/* A number read whole, as strtod reads it (inf and nan included). */
bool read_real(const char *value, double *number)
{
    char *end;
    double read = std::strtod(value, &end);
    if (end == value || *end != '\0')
        return false;
    *number = read;
    return true;
}

/* A and B, each a byte of the frame header: a value outside 0 to 255 would
 * be stored wrapped. */
bool read_calibration(const char *value)
{
    return read_pair(value, &A, &B) && A >= 0 && A <= 255 && B >= 0 && B <= 255;
}

/* Sets the numbers of -r, -S or -Z from the option's value, or ends the run
 * with the option's message when the value does not convert whole (or, for
 * -S, lies outside 0 to 255). */
void read_numbers(char option, const char *value)
{
    if (option == 'r' && !read_pair(value, &cols, &rows))
        fatal("-r: could not decipher X,Y");
    if (option == 'S' && !read_calibration(value))
        fatal("-S: unable to decipher A,B");
    if (option == 'Z' && !read_real(value, &bitrate))
        fatal("-Z: unable to decipher r");
}

void act_on_option(int argc, char **argv, int i)
{
    char *value = argv[i] + 2;
    switch (argv[i][1]) {
    case 'l':
        if (logname[0])
            fatal("-l: second occurence");
        set_file_name(logname, value, ".log", "-l: log file name longer than 1028 characters");
        logfile = wsq_platform::open_file(logname, "w");
        if (!logfile)
            fatal("-l: could not open log file");
        break;
    case 'r':
        read_numbers('r', value);
        mention("Setting dimensions of raw grayscale input");
        break;
    case 'v':
        if (value[0] == '\0')
            logging = 3;
        else if (value[0] >= '0' && value[0] <= '4')
            logging = value[0] - '0';
        else
            usage();
        break;
    case 'o':
        if (outname[0])
            fatal("-o: second occurence");
        set_file_name(outname, value, ".wsq",
                      "-o: output file name longer than 1028 characters");
        outfile = open_output();
        if (!outfile)
            fatal("-o: could not open output file");
        break;
    case 'Z':
        read_numbers('Z', value);
        mention("Using custom bit rate");
        break;
    case 'c':
        if (comment)
            fatal("-c: second occurence");
        if (std::strlen(value) > WSQ_COMMENT_MAX)
            fatal("-c: comment longer than 65533 bytes");
        comment = value;
        mention("Inserting comment into output");
        break;
    case 'S':
        read_numbers('S', value);
        mention("Using custom scanner calibration");
        break;
    case '\0':  /* a lone "-": standard input, only as the last argument */
        if (i != argc - 1)
            usage();
        innames = nullptr;
        infiles = 1;
        infile = stdin;
        break;
    default:
        fatal("unknown option flag");
    }
}

void parse_args(int argc, char **argv)
{
    if (argc <= 1)
        usage();
    /* Every value is read once before any option takes effect, so that a
     * malformed one ends the run before an output or a log file is made. */
    for (int i = 1; i < argc && argv[i][0] == '-'; ++i)
        if (argv[i][1] != '\0' && std::strchr("rSZ", argv[i][1]))
            read_numbers(argv[i][1], argv[i] + 2);
    int i = 1;
    if (argv[1][0] == '-') {
        do
            act_on_option(argc, argv, i++);
        while (i < argc && argv[i][0] == '-');
    }
    if (infile)
        return;
    if (i == argc)
        usage();
    infiles = argc - i;
    innames = argv + i;
}

/* ==== Input that is plainly no raw image ==================================
 * An image file or a WSQ stream given as raw samples would be encoded as
 * garbage without a word. Each is recognised by a header that no scan
 * begins with, checked against the length of the whole input, and refused
 * with what to do instead. */

/* How long the input is: exactly, or at least this long. */
struct input_length {
    size_t bytes;
    bool exact;
};

/* An image file recognised, and what to do with it. */
struct image_file {
    std::string format;
    long long width = 0, height = 0;  /* 32-bit sizes of headers, wherever long has 32 bits */
    std::string advice;  /* empty: give it to a program that reads image files */
    std::string command; /* the command that the advice speaks of, if any */
};

ui32 le32(const ui8 *p)
{
    return (ui32)p[0] | (ui32)p[1] << 8 | (ui32)p[2] << 16 | (ui32)p[3] << 24;
}

ui32 be32(const ui8 *p)
{
    return (ui32)p[0] << 24 | (ui32)p[1] << 16 | (ui32)p[2] << 8 | p[3];
}

ui32 be16(const ui8 *p)
{
    return (ui32)p[0] << 8 | p[1];
}

ui32 le16(const ui8 *p)
{
    return p[0] | (ui32)p[1] << 8;
}

ui32 le24(const ui8 *p)
{
    return le16(p) | (ui32)p[2] << 16;
}

bool is_png(const ui8 *p, size_t n, image_file *f)
{
    static const ui8 start[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                  0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    if (n < 24 || std::memcmp(p, start, sizeof start) != 0)
        return false;
    *f = {"PNG image", be32(p + 16), be32(p + 20), "", ""};
    return true;
}

bool is_bmp(const ui8 *p, size_t n, const input_length &length, image_file *f)
{
    if (n < 26 || p[0] != 'B' || p[1] != 'M' || !length.exact || le32(p + 2) != length.bytes ||
        le32(p + 6) != 0 || le32(p + 10) >= length.bytes)
        return false;
    ui32 header = le32(p + 14);
    bool core = header == 12;
    if (!core && header != 40 && header != 52 && header != 56 && header != 64 && header != 108 &&
        header != 124)
        return false;
    long long width = core ? p[18] | p[19] << 8 : (std::int32_t)le32(p + 18);
    long long height = core ? p[20] | p[21] << 8 : (std::int32_t)le32(p + 22);
    *f = {"BMP image", width, height < 0 ? -height : height, "", ""};
    return true;
}

/* A TIFF header whose first directory lies within the input, with entries in
 * increasing tag order of known types, among them the image's size. */
bool is_tiff(const ui8 *p, size_t n, image_file *f)
{
    bool little = n >= 8 && std::memcmp(p, "II*\0", 4) == 0;
    if (!little && !(n >= 8 && std::memcmp(p, "MM\0*", 4) == 0))
        return false;
    auto u16 = [&](size_t at) { return little ? p[at] | p[at + 1] << 8 : p[at] << 8 | p[at + 1]; };
    auto u32 = [&](size_t at) { return little ? le32(p + at) : be32(p + at); };
    size_t ifd = u32(4);
    if (ifd < 8 || ifd + 2 > n)
        return false;
    size_t entries = (size_t)u16(ifd);
    if (entries == 0 || ifd + 2 + 12 * entries > n)
        return false;
    long long size[2] = {0, 0};
    for (size_t e = 0, previous = 0; e < entries; ++e) {
        size_t at = ifd + 2 + 12 * e, tag = (size_t)u16(at), type = (size_t)u16(at + 2);
        if ((e > 0 && tag <= previous) || type < 1 || type > 12)
            return false;
        if (tag == 256 || tag == 257)
            size[tag - 256] = type == 3 ? u16(at + 8) : (long long)u32(at + 8);
        previous = tag;
    }
    if (size[0] == 0 || size[1] == 0)
        return false;
    *f = {"TIFF image", size[0], size[1], "", ""};
    return true;
}

/* A JPEG file: segments chained from its start to a frame header (SOF0 to
 * SOF15, the tables DHT, JPG and DAC aside), which gives the size. */
bool is_jpeg(const ui8 *p, size_t n, image_file *f)
{
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8 || p[2] != 0xFF)
        return false;
    for (size_t at = 2; at + 4 <= n;) {
        ui8 marker = p[at + 1];
        if (p[at] != 0xFF || marker < 0xC0 || (marker >= 0xD0 && marker <= 0xDA))
            return false;
        if (marker == 0xFF) {  /* a fill byte */
            ++at;
            continue;
        }
        size_t length = be16(p + at + 2);
        bool frame = marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 8 || at + 9 > n)
                return false;
            *f = {"JPEG image", be16(p + at + 7), be16(p + at + 5), "", ""};
            return true;
        }
        if (length < 2)
            return false;
        at += 2 + length;
    }
    return false;
}

/* A JPEG 2000 codestream: its start marker and an image size segment whose
 * length agrees with its count of components. */
bool is_jpeg2000_codestream(const ui8 *p, size_t n, image_file *f)
{
    static const ui8 start[4] = {0xFF, 0x4F, 0xFF, 0x51};
    if (n < 42 || std::memcmp(p, start, sizeof start) != 0 || be16(p + 4) != 38 + 3 * be16(p + 40))
        return false;
    *f = {"JPEG 2000 image", (long)be32(p + 8) - (long)be32(p + 16),
          (long)be32(p + 12) - (long)be32(p + 20), "", ""};
    return true;
}

/* A JP2 file: its signature box, then boxes up to the header box, whose
 * image header box gives the size. */
bool is_jp2(const ui8 *p, size_t n, image_file *f)
{
    static const ui8 signature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', '\r', '\n', 0x87, '\n'};
    if (n < 12 || std::memcmp(p, signature, sizeof signature) != 0)
        return false;
    for (size_t at = 12, end = n; at + 8 <= end;) {
        size_t length = be32(p + at);
        if (std::memcmp(p + at + 4, "jp2h", 4) == 0) {  /* the boxes inside it */
            end = length >= 8 ? std::min(n, at + length) : n;
            at += 8;
        } else if (std::memcmp(p + at + 4, "ihdr", 4) == 0 && at + 16 <= end) {
            *f = {"JPEG 2000 image", be32(p + at + 12), be32(p + at + 8), "", ""};
            return true;
        } else if (length < 8) {  /* a box to the end, or of a 64-bit length */
            return false;
        } else {
            at += length;
        }
    }
    return false;
}

bool is_gif(const ui8 *p, size_t n, image_file *f)
{
    if (n < 10 || (std::memcmp(p, "GIF87a", 6) != 0 && std::memcmp(p, "GIF89a", 6) != 0))
        return false;
    *f = {"GIF image", le16(p + 6), le16(p + 8), "", ""};
    return true;
}

/* A WebP file: a RIFF container of that form whose first chunk, lossy,
 * lossless or extended, gives the size. */
bool is_webp(const ui8 *p, size_t n, image_file *f)
{
    if (n < 32 || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WEBP", 4) != 0)
        return false;
    const ui8 *chunk = p + 12, *data = p + 20;
    long width, height;
    if (std::memcmp(chunk, "VP8 ", 4) == 0 && data[3] == 0x9D && data[4] == 0x01 &&
        data[5] == 0x2A) {
        width = le16(data + 6) & 0x3FFF;
        height = le16(data + 8) & 0x3FFF;
    } else if (std::memcmp(chunk, "VP8L", 4) == 0 && data[0] == 0x2F) {
        width = (le32(data + 1) & 0x3FFF) + 1;
        height = (le32(data + 1) >> 14 & 0x3FFF) + 1;
    } else if (std::memcmp(chunk, "VP8X", 4) == 0) {
        width = le24(data + 4) + 1;
        height = le24(data + 7) + 1;
    } else {
        return false;
    }
    *f = {"WebP image", width, height, "", ""};
    return true;
}

/* Reads the number at *at of a PNM header, after white space and comments. */
bool pnm_number(const ui8 *p, size_t n, size_t *at, long *value)
{
    while (*at < n && (std::isspace(p[*at]) || p[*at] == '#'))
        if (p[(*at)++] == '#')
            while (*at < n && p[*at] != '\n')
                ++*at;
    if (*at >= n || !std::isdigit(p[*at]))
        return false;
    for (*value = 0; *at < n && std::isdigit(p[*at]) && *value < 1000000000; ++*at)
        *value = *value * 10 + (p[*at] - '0');
    return *at < n && std::isspace(p[*at]);
}

/* A name as one shell word. */
std::string shell_quoted(const char *name)
{
    std::string word = "'";
    for (const char *c = name; *c; ++c)
        word += *c == '\'' ? std::string("'\\''") : std::string(1, *c);
    return word + "'";
}

/* The name without its extension, for -o to add .wsq to. */
std::string without_extension(const char *name)
{
    std::string stem = name;
    size_t dot = stem.rfind('.'), slash = stem.rfind('/');
    bool extension = dot != std::string::npos && dot > (slash == std::string::npos ? 0 : slash + 1);
    return extension ? stem.substr(0, dot) : stem;
}

/* Advice for an image whose last `pixels` bytes are its raw samples: the
 * command that encodes them, from the same file or the same standard input. */
void advise_tail(image_file *f, size_t pixels)
{
    f->advice = format("its pixels are its last %zu bytes, which this command encodes", pixels);
    std::string source, output = "'image'";
    if (innames) {
        /* tail would take a name that begins with "-" for an option */
        std::string name = inname[0] == '-' ? std::string("./") + inname : inname;
        source = " " + shell_quoted(name.c_str());
        output = shell_quoted(without_extension(name.c_str()).c_str());
    } else {
        f->advice += " from the same standard input";
    }
    f->command = format("tail -c %zu%s | wsq1 -r%lld,%lld -o%s -", pixels, source.c_str(), f->width,
                        f->height, output.c_str());
}

/* Binary or plain PGM (P5, P2) or PPM (P6, P3). A binary one must be as
 * long as its header says; a plain one must hold only numbers. */
bool is_pnm(const ui8 *p, size_t n, const input_length &length, image_file *f)
{
    if (n < 3 || p[0] != 'P' || (p[1] != '2' && p[1] != '3' && p[1] != '5' && p[1] != '6'))
        return false;
    bool binary = p[1] >= '5', colour = p[1] == '3' || p[1] == '6';
    size_t at = 2;
    long width, height, maxval;
    if (!pnm_number(p, n, &at, &width) || !pnm_number(p, n, &at, &height) ||
        !pnm_number(p, n, &at, &maxval) || width < 1 || height < 1 || maxval < 1 ||
        maxval > 65535)
        return false;
    size_t header = at + 1;
    size_t samples = (size_t)width * (size_t)height * (colour ? 3 : 1);
    if (binary) {
        size_t stated = header + samples * (maxval > 255 ? 2 : 1);
        if (length.exact ? stated != length.bytes : stated < length.bytes)
            return false;
    } else {
        for (size_t i = header; i < n; ++i)
            if (!std::isdigit(p[i]) && !std::isspace(p[i]))
                return false;
    }
    *f = {colour ? "PPM image" : "PGM image", width, height, "", ""};
    if (binary && !colour && maxval <= 255)
        advise_tail(f, samples);
    return true;
}

bool is_wsq(const ui8 *p, size_t n, image_file *f)
{
    wsq_info info;
    if (wsq_read_info(&info, nullptr, p, n) != WSQ_OK)
        return false;
    *f = {"WSQ stream", info.width, info.height, "it is compressed already: unwsq decodes it", ""};
    return true;
}

/* Refuses an input that the first n bytes p show to be an image file. */
void refuse_image_file(const ui8 *p, size_t n, const input_length &length)
{
    image_file f;
    if (!(is_png(p, n, &f) || is_bmp(p, n, length, &f) || is_tiff(p, n, &f) ||
          is_pnm(p, n, length, &f) || is_jpeg(p, n, &f) || is_jpeg2000_codestream(p, n, &f) ||
          is_jp2(p, n, &f) || is_gif(p, n, &f) || is_webp(p, n, &f) || is_wsq(p, n, &f)))
        return;
    if (f.advice.empty())
        f.advice = format("python3 -m wsq encode %s OUT encodes image files", inname);
    fatal(format("%s is a %s of %lld x %lld pixels, not raw samples; %s", inname, f.format.c_str(),
                 f.width, f.height, f.advice.c_str())
              .c_str(),
          f.command);
}

/* ==== Encoder state and per-image pipeline ================================ */

void build_structures()
{
    graph = makehedge(WSQ_SUBBANDS, nullptr, wsqlevels, nullptr);
    ecs = makebitio(nullptr, 0);
}

void test_parameters()
{
    WSQ_SIGN_COMPARE_BEGIN  /* the limits compare as unsigned */
    WSQ_ASSERT(rows > 31);
    WSQ_ASSERT(rows < 32768u);
    if (rows <= 399)
        warning("fewer than 400 lines in the image");
    WSQ_ASSERT(cols > 31);
    WSQ_ASSERT(cols < 32768u);
    if (cols <= 399)
        warning("fewer than 400 samples per line");
    WSQ_SIGN_COMPARE_END
    if (!(bitrate <= 32.0))
        warning("Too high bit rate for compression");
    if (!measurable(rows, cols, h0qf, h1qf))
        fatal(format("image of %d lines by %d samples too small for the subband variances",
                     rows, cols)
                  .c_str());
}

/* Buffers for an image of `pixels` pixels at least; they grow only, so a run
 * of images touches fresh memory only when an image is larger than all
 * before it. Their contents need not survive. */
void reallocate_memory()
{
    ui32 pixels = (ui32)rows * (ui32)cols;
    if (pixels > capacity) {
        size_t words = ((size_t)pixels * 4 + 63) & ~(size_t)63;  /* each part on a cache line */
        words0 = freevoid(words0);
        bytes0 = freevoid(bytes0);
        words0 = hugebuffer(2 * words);
        bytes0 = std::malloc((size_t)pixels * 3);
        WSQ_ASSERT(words0);
        WSQ_ASSERT(bytes0);
        words1 = (ui8 *)words0 + words;
        capacity = pixels;
    }
    graph->contents[0] = words0;
    ecs->buffer = (ui8 *)words0;
}

[[noreturn]] void read_failed()
{
    fatal(format("could not read %s: %s", inname, std::strerror(errno)).c_str());
}

/* The input's length, measured without reading more than the buffer holds:
 * a file's from its size, a pipe's by reading on into the room words1 has
 * after the pixels (input that long is no image of this size). */
input_length measure_input(size_t got, ui32 wanted, long long start)
{
    if (got < wanted)
        return {got, true};
    long long size = wsq_platform::regular_size(infile);
    if (start >= 0 && size >= 0)
        return {(size_t)(size - start), true};
    size_t room = 2 * (size_t)wanted;
    size_t more = std::fread((ui8 *)words1 + wanted, 1, room, infile);
    if (std::ferror(infile))
        read_failed();
    return {wanted + more, more < room};
}

void read_raw_pixels()
{
    ui32 wanted = (ui32)rows * (ui32)cols;
    long long start = wsq_platform::file_position(infile);
    size_t got = std::fread(words1, 1, wanted, infile);
    if (std::ferror(infile))
        read_failed();
    mention(format("Read %u bytes of raw data from %s", wanted, inname).c_str());
    input_length length = measure_input(got, wanted, start);
    refuse_image_file((const ui8 *)words1, std::min(length.bytes, 3 * (size_t)wanted), length);
    if (got < wanted) {
        /* Nothing of an earlier image may leak into this one. */
        std::memset((ui8 *)words1 + got, 255, wanted - got);
        warning(format("only %zu of %u bytes read from %s, the missing pixels are set to 255",
                       got, wanted, inname)
                    .c_str());
    } else if (length.bytes > wanted) {
        warning(format("only the first %u of %s%zu bytes of %s read, the rest is ignored", wanted,
                       length.exact ? "the " : "more than ", length.bytes, inname)
                    .c_str());
    }
}

/* ==== Encoding stages ===================================================== */

void shift_and_rescale()
{
    ui32 count = (ui32)rows * (ui32)cols;
    pixelmr(&midpoint, &rescale, (const ui8 *)words1, count, nullptr);
    if (rescale == 0)  /* every pixel equal: then it is the midpoint */
        fatal(format("every pixel of %s has the value %d, nothing to compress", inname,
                     (int)midpoint)
                  .c_str());
    wsqb2r((real *)words0, (const ui8 *)words1, count, midpoint, rescale);
}

void wsq_wpt()
{
    cbwp2t(graph, rows, cols, 0, 0, (real *)words1, h0qf, h1qf, h0qf, h1qf, wsqcoded.data(),
           nullptr);
}

void compute_subband_sizes()
{
    subbandsizes(xs, ys, numcoefs, rows, cols, h0qf, h1qf);
    mention("Subband sizes computed");
}

void compute_variances()
{
    subbandvars(variance, graph->contents, xs, ys, nullptr);
    mention("Variances of subband middles computed");
}

/* The quality factor must give every coded subband a storable, non-zero bin
 * width; otherwise the stream would be empty or decode to a flat image. */
void test_quality()
{
    if (!(std::isfinite(quality) && quality > 0))
        fatal(format("bit rate %g out of range: no usable quality factor", bitrate).c_str());
    int k = unstorable(qs, zs);
    if (k >= 0)
        fatal(format("bit rate %g out of range: bin width of subband %d not storable", bitrate,
                     k)
                  .c_str());
}

void seek_quality()
{
    quality = binwidths(qs, zs, variance, bitrate);
    if (quality == 0)
        fatal("no active subbands after wavelet packet transform");
    test_quality();
}

void quantize_coefficients()
{
    WSQ_ASSERT(quality>0);
    int k = qntblocks((int32 *)words1, qcoefs, nqcoefs, graph->contents, numcoefs, qs, zs, nullptr);
    if (k >= 0)
        fatal(format("bit rate %g too high: a coefficient of subband %d needs more than 65535 "
                     "bins",
                     bitrate, k)
                  .c_str());
}

void WSQ_symbolize()
{
    symblocks((ui8 *)bytes0, symbols, symlen, qcoefs, nqcoefs, nullptr);
}

void make_DHTs()
{
    numdhts = makedhts(wsqdht, dhtlen, Th, symbols, symlen, nullptr);
}

void huffman_encode(int b)
{
    ecsblock(ecs, symbols[b], symlen[b], wsqdht[Th[b]]);
}

/* ==== Marker segments ===================================================== */

/* Writes count bytes to the output and counts them in the image's stream. */
void put_bytes(const void *bytes, size_t count)
{
    std::fwrite(bytes, 1, count, outfile);
    totalbytes += (int)count;
}

/* A segment's marker and length field, then its body. */
void put_segment(ui16 marker, const void *body, size_t length)
{
    ui8 head[4];
    put_bytes(head, (size_t)(wsqwhead(head, marker, (ui32)length) - head));
    put_bytes(body, length);
}

void put_marker(ui16 marker)
{
    ui8 bytes[2];
    put_bytes(bytes, (size_t)(sput2(bytes, marker) - bytes));
}

void write_SOI()
{
    totalbytes = 0;
    put_marker(WSQ_SOI);
    mention("Start-Of-Image written");
}

void write_COM()
{
    if (!comment)
        return;
    size_t length = std::strlen(comment);
    Lc = (ui16)(length + 2);
    put_segment(WSQ_COM, comment, length);
    mention("Comment written");
}

void write_DTT()
{
    ui8 dtt[3074];
    ui8 *end = wsqwdtt(dtt, h0qf, h1qf);
    Lt = (int)(end - dtt) + 2;
    put_segment(WSQ_DTT, dtt, (size_t)(Lt - 2));
    mention("Define-Transform-Table written");
}

void write_SOF()
{
    ui8 sof[Lf - 2];
    put_segment(WSQ_SOF, sof, (size_t)(wsqwsof(sof, A, B, rows, cols, midpoint, rescale) - sof));
    mention("Start-Of-Frame and frame header written");
}

void write_DQT()
{
    ui8 *end = wsqwdqt(dqt, (real)center, qs, zs, WSQ_SUBBANDS);
    WSQ_ASSERT(end - dqt == Lq - 2);
    put_segment(WSQ_DQT, dqt, Lq - 2);
    mention("Define-Quantization-Table written");
}

void write_DHTs()
{
    WSQ_ASSERT(numdhts <= WSQ_MAXDHTS);
    ui8 body[WSQ_MAXDHTS * (1 + WSQ_DHT_BYTES)];
    ui8 *end = wsqwdht(body, wsqdht, dhtlen, numdhts);
    Lh = (ui16)(end - body + 2);
    put_segment(WSQ_DHT, body, (size_t)(end - body));
    mention("Define-Huffman-Table written");
}

void write_SOB(int b)
{
    ui8 table = (ui8)(Th[b] & 0xFF);
    put_segment(WSQ_SOB, &table, Ls - 2);
    mention("Start-Of-Block written");
}

/* Copies the block's coded bytes, with a 00 byte after every FF, a piece at
 * a time through a buffer that holds a piece stuffed. */
void write_ECS()
{
    enum { piece = 1 << 15 };
    ui8 stuffed[2 * piece];
    const ui8 *bytes = ecs->buffer;
    for (ui32 left = ecs->length / 8; left > 0;) {
        ui32 n = left < piece ? left : (ui32)piece;
        put_bytes(stuffed, (size_t)(wsqstuff(stuffed, bytes, n) - stuffed));
        bytes += n;
        left -= n;
    }
}

void write_EOI()
{
    put_marker(WSQ_EOI);
    mention("End-Of-Image written");
}

const char *output_name()
{
    return outname[0] ? outname : "(stdout)";
}

[[noreturn]] void write_failed()
{
    fatal(format("could not write %s: %s", output_name(), std::strerror(errno)).c_str());
}

/* An image counts as written only once its bytes have left the buffer. */
void flush_output()
{
    if (std::fflush(outfile) != 0 || std::ferror(outfile))
        write_failed();
    complete_bytes += totalbytes;
}

void release_memory()
{
    int closed = std::fclose(outfile);
    outfile = nullptr;
    if (closed != 0)
        write_failed();
    if (parted && !wsq_platform::replace_file(partname.c_str(), finalname.c_str()))
        write_failed();
    wsq_platform::remove_on_signal(nullptr);
    parted = false;
    graph = freehedge(graph, nullptr, nullptr);
    ecs = freebitio(ecs, nullptr);
    words0 = freevoid(words0);
    bytes0 = freevoid(bytes0);
    h0qf = (pqf *)freepqf(h0qf);
    h1qf = (pqf *)freepqf(h1qf);
}

void encode_image()
{
    test_parameters();
    reallocate_memory();
    read_raw_pixels();
    if (innames)
        std::fclose(infile);
    shift_and_rescale();
    write_SOI();
    write_COM();
    write_DTT();
    write_SOF();
    wsq_wpt();
    compute_subband_sizes();
    compute_variances();
    seek_quality();
    quantize_coefficients();
    WSQ_symbolize();
    make_DHTs();
    print_parameters();
    write_DQT();
    write_DHTs();
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        huffman_encode(b);
        write_SOB(b);
        write_ECS();
    }
    write_EOI();
    flush_output();
    print_invoice(inname);
}

}  // namespace

int main(int argc, char **argv)
{
    wsq_platform::start_program(&argc, &argv);
    answer_help_or_version(argc, argv);
    std::fprintf(stderr,
                 ">>>WSQ Encoder One image compression<<<          Sf=%d\n"
                 "Reference: IAFIS-IC-0110v2, 16 February 1993, as amended.\n%s\n",
                 Sf, rcsid);
    set_defaults();
    parse_args(argc, argv);
    build_structures();
    for (int i = 0; i < infiles; ++i) {
        if (innames) {
            infile = wsq_platform::open_file(innames[i], "rb");
            WSQ_ASSERT(infile);
            inname = innames[i];
        } else {
            infile = stdin;
            inname = "(stdin)";
        }
        encode_image();
    }
    release_memory();
    std::exit(0);
}
