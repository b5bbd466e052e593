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

#include <cerrno>
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
const char rcsid[74] = "wsq1 1.0.0";

/* ---- Library records, made once per run ---------------------------------- */

pqf *h0qf, *h1qf;
hedge *graph;
bitio *ecs;

/* ---- Work buffers, sized per image (11 bytes per pixel in all) ----------- */

void *bytes0;  /* 3 bytes per pixel: the pixels, then the symbol streams */
void *words0;  /* 4 bytes per pixel: samples and subbands, then coded bits */
void *words1;  /* 4 bytes per pixel: transform scratch, then quantized integers */

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

[[noreturn]] void fatal(const char *message)
{
    std::fprintf(stderr, "Error! Fatal input flaw: %s.\n", message);
    std::exit(1);
}

[[noreturn]] void usage()
{
    std::fwrite(usage_text, 1, sizeof usage_text - 1, stderr);
    std::exit(1);
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

void act_on_option(int argc, char **argv, int i)
{
    char *value = argv[i] + 2;
    switch (argv[i][1]) {
    case 'l':
        if (logname[0])
            fatal("-l: second occurence");
        set_file_name(logname, value, ".log", "-l: log file name longer than 1028 characters");
        logfile = std::fopen(logname, "w");
        if (!logfile)
            fatal("-l: could not open log file");
        break;
    case 'r':
        if (std::sscanf(value, "%d,%d", &cols, &rows) == EOF)
            fatal("-r: could not decipher X,Y");
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
        outfile = std::fopen(outname, "wb");
        if (!outfile)
            fatal("-o: could not open output file");
        break;
    case 'Z':
        if (std::sscanf(value, "%lf", &bitrate) == EOF)
            fatal("-Z: unable to decipher r");
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
        if (std::sscanf(value, "%d,%d", &A, &B) == EOF)
            fatal("-S: unable to decipher A,B");
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

/* ==== Encoder state and per-image pipeline ================================ */

void build_structures()
{
    graph = makehedge(WSQ_SUBBANDS, nullptr, wsqlevels, nullptr);
    ecs = makebitio(nullptr, 0);
}

void test_parameters()
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"  /* the limits compare as unsigned */
    WSQ_ASSERT(rows > 31);
    WSQ_ASSERT(rows < 32768u);
    if (rows <= 399)
        warning("fewer than 400 lines in the image");
    WSQ_ASSERT(cols > 31);
    WSQ_ASSERT(cols < 32768u);
    if (cols <= 399)
        warning("fewer than 400 samples per line");
#pragma GCC diagnostic pop
    if (!(bitrate <= 32.0))
        warning("Too high bit rate for compression");
    if (!measurable(rows, cols, h0qf, h1qf))
        fatal(format("image of %d lines by %d samples too small for the subband variances",
                     rows, cols)
                  .c_str());
}

void reallocate_memory()
{
    ui32 pixels = (ui32)rows * (ui32)cols;
    bytes0 = std::realloc(bytes0, pixels * 3);
    WSQ_ASSERT(bytes0);
    words0 = std::realloc(words0, pixels * 4);
    WSQ_ASSERT(words0);
    graph->contents[0] = words0;
    ecs->buffer = (ui8 *)words0;
    words1 = std::realloc(words1, pixels * 4);
    WSQ_ASSERT(words1);
}

void read_raw_pixels()
{
    ui32 wanted = (ui32)rows * (ui32)cols;
    size_t got = std::fread(bytes0, 1, wanted, infile);
    if (std::ferror(infile))
        fatal(format("could not read %s: %s", inname, std::strerror(errno)).c_str());
    mention(format("Read %u bytes of raw data from %s", wanted, inname).c_str());
    if (got < wanted) {
        /* Nothing of an earlier image may leak into this one. */
        std::memset((ui8 *)bytes0 + got, 255, wanted - got);
        warning(format("only %zu of %u bytes read from %s, the missing pixels are set to 255",
                       got, wanted, inname)
                    .c_str());
    }
}

/* ==== Encoding stages ===================================================== */

void shift_and_rescale()
{
    ui32 count = (ui32)rows * (ui32)cols;
    pixelmr(&midpoint, &rescale, (const ui8 *)bytes0, count);
    if (rescale == 0)  /* every pixel equal: then it is the midpoint */
        fatal(format("every pixel of %s has the value %d, nothing to compress", inname,
                     (int)midpoint)
                  .c_str());
    wsqb2r((real *)words0, (const ui8 *)bytes0, count, midpoint, rescale);
}

void wsq_wpt()
{
    cbwp2(graph, rows, cols, 0, 0, (real *)words1, h0qf, h1qf, h0qf, h1qf);
}

void compute_subband_sizes()
{
    subbandsizes(xs, ys, numcoefs, rows, cols, h0qf, h1qf);
    mention("Subband sizes computed");
}

void compute_variances()
{
    subbandvars(variance, graph->contents, xs, ys);
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
    int k = qntblocks((int32 *)words1, qcoefs, nqcoefs, graph->contents, numcoefs, qs, zs);
    if (k >= 0)
        fatal(format("bit rate %g too high: a coefficient of subband %d needs more than 65535 "
                     "bins",
                     bitrate, k)
                  .c_str());
}

void WSQ_symbolize()
{
    symblocks((ui8 *)bytes0, symbols, symlen, qcoefs, nqcoefs);
}

void make_DHTs()
{
    numdhts = makedhts(wsqdht, dhtlen, Th, symbols, symlen);
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

/* An image counts as written only once its bytes have left the buffer. */
void flush_output()
{
    if (std::fflush(outfile) != 0 || std::ferror(outfile))
        fatal(format("could not write %s: %s", output_name(), std::strerror(errno)).c_str());
}

void release_memory()
{
    if (std::fclose(outfile) != 0)
        fatal(format("could not write %s: %s", output_name(), std::strerror(errno)).c_str());
    graph = freehedge(graph, nullptr, nullptr);
    ecs = freebitio(ecs, nullptr);
    words0 = freevoid(words0);
    words1 = freevoid(words1);
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
    std::fprintf(stderr,
                 ">>>WSQ Encoder One image compression<<<          Sf=%d\n"
                 "Reference: IAFIS-IC-0110v2, 16 February 1993, as amended.\n%s\n",
                 Sf, rcsid);
    set_defaults();
    parse_args(argc, argv);
    build_structures();
    for (int i = 0; i < infiles; ++i) {
        if (innames) {
            infile = std::fopen(innames[i], "rb");
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
