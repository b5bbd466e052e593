/* wsq1.cpp - the WSQ encoder: raw 8-bit gray-scale images to WSQ streams.
 *
 * The whole encoder state lives in the file-level variables below. Start-up
 * sets the defaults, reads the command line and makes the long-lived
 * records; then every input image runs through one fixed pipeline of stages
 * that read and write that state, and its stream is written to the one
 * output, strictly in sequence. Exit status: 0 after all images, 1 after the
 * usage text or a fatal message, WSQ_ASSERT_STATUS after an assertion report.
 */
#include "wsq.h"

#include <algorithm>
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
const int Ev = 1;
const int Sf = 55297;
const int restarti = 0;
const double center = 0.44;
const char rcsid[74] = "wsq1 1.0.0";

/* Per-subband weights of the relative bin widths. */
const real adjustment[WSQ_SUBBANDS] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1.32f, 1.08f, 1.42f, 1.08f, 1.32f, 1.42f, 1.08f, 1.08f,
    1, 1, 1, 1};

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

/* Longest comment that fits the 16-bit segment length with its own two bytes. */
const size_t COMMENT_MAX = 65535 - 2;

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
        if (std::strlen(value) > COMMENT_MAX)
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

/* The central region of a subband, whose variance steers the bit rate. */
struct central_region {
    int begheight, midheight, begwidth, midwidth;
};

central_region subband_middle(int height, int width)
{
    return {9 * height / 32, 7 * height / 16, width / 8, 3 * width / 4};
}

/* Every coded subband of a rows x cols image must have at least two
 * coefficients in its central region. */
bool subbands_measurable()
{
    int height[WSQ_SUBBANDS], width[WSQ_SUBBANDS];
    xywp2(height, width, rows, cols, wsqlevels, 0, 0, h0qf, h1qf, h0qf, h1qf);
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        central_region middle = subband_middle(height[wsqorder[k]], width[wsqorder[k]]);
        if (middle.midheight * middle.midwidth <= 1)
            return false;
    }
    return true;
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
    if (!subbands_measurable())
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
    const ui8 *pixels = (const ui8 *)bytes0;
    int count = rows * cols;
    /* The pixel sum is exact in any order (it stays far below 2^53), so an
     * integer sum gives the same double and leaves the loop free to run
     * several pixels at a time. */
    ui8 pmin = 255, pmax = 0;
    std::uint64_t total = 0;
    for (int n = 0; n < count; ++n) {
        pmax = std::max(pmax, pixels[n]);
        pmin = std::min(pmin, pixels[n]);
        total += pixels[n];
    }
    double psum = (double)total;
    if (pmin == pmax)
        fatal(format("every pixel of %s has the value %d, nothing to compress", inname, pmin)
                  .c_str());
    midpoint = (real)(psum / count);
    real above = (real)pmax - midpoint;
    real below = midpoint - (real)pmin;
    rescale = (above > below ? above : below) * 0.0078125f;
    wsqb2r((real *)words0, pixels, (ui32)count, midpoint, rescale);
}

void wsq_wpt()
{
    cbwp2(graph, rows, cols, 0, 0, (real *)words1, h0qf, h1qf, h0qf, h1qf);
}

void compute_subband_sizes()
{
    xywp2(xs, ys, rows, cols, graph->levels, 0, 0, h0qf, h1qf, h0qf, h1qf);
    for (int k = 0; k < WSQ_SUBBANDS; ++k)
        numcoefs[k] = (ui32)(xs[wsqorder[k]] * ys[wsqorder[k]]);
    mention("Subband sizes computed");
}

void compute_variances()
{
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        int block = wsqorder[k];
        int height = xs[block], width = ys[block];
        const real *coefs = (const real *)graph->contents[block];
        central_region middle = subband_middle(height, width);
        int endheight = middle.begheight + middle.midheight;
        int endwidth = middle.begwidth + middle.midwidth;
        double sum = 0.0, sumsq = 0.0;
        for (int i = middle.begheight; i < endheight; ++i) {
            for (int j = middle.begwidth; j < endwidth; ++j) {
                double coef = coefs[i * width + j];
                sumsq = std::fma(coef, coef, sumsq);
                sum += coef;
            }
        }
        int num = middle.midwidth * middle.midheight;
        WSQ_ASSERT(num>1);
        variance[k] = (sumsq - (sum * sum) / num) / (num - 1);
    }
    mention("Variances of subband middles computed");
}

/* The quality factor must give every coded subband a storable, non-zero bin
 * width; otherwise the stream would be empty or decode to a flat image. */
void test_quality()
{
    if (!(std::isfinite(quality) && quality > 0))
        fatal(format("bit rate %g out of range: no usable quality factor", bitrate).c_str());
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        if ((k < 4 && qs[k] == 0) || !(zs[k] <= 65535.0f))
            fatal(format("bit rate %g out of range: bin width of subband %d not storable",
                         bitrate, k)
                      .c_str());
    }
}

void seek_quality()
{
    int K[WSQ_CODED_SUBBANDS] = {};
    double m1[WSQ_CODED_SUBBANDS];
    double Qprime[WSQ_CODED_SUBBANDS];
    double logbins = bitrate * std::log(2.0);
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        if (variance[k] < 1.01) {
            Qprime[k] = 0.0;
            continue;
        }
        K[k] = 1;
        m1[k] = 1.0 / (double)(1 << (2 * wsqlevels[k]));
        Qprime[k] = 10.0 / ((double)adjustment[k] * std::log(variance[k]));
    }
    Qprime[0] = Qprime[1] = Qprime[2] = Qprime[3] = 1.0;
    int nonpositive_rates;
    do {
        double S1 = 0.0;
        for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k)
            if (K[k])
                S1 += m1[k];
        if (!(S1 > 0.0))
            fatal("no active subbands after wavelet packet transform");
        double logquality = 0.0;
        for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k)
            if (K[k])
                logquality = std::fma(m1[k], 0.5 * std::log(variance[k]) - std::log(Qprime[k]),
                                      logquality);
        quality = 0.2 * std::exp((logbins - logquality) * (1.0 / S1));
        nonpositive_rates = 0;
        for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
            if (K[k] && Qprime[k] / quality >= 5.0 * std::sqrt(variance[k])) {
                K[k] = 0;
                nonpositive_rates = 1;
            }
        }
    } while (nonpositive_rates);
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        qs[k] = (real)(Qprime[k] / quality);
        zs[k] = (real)((double)qs[k] * 1.2);
    }
    test_quality();
}

/* Largest magnitude the symbol coder can write. */
const ui32 SYMBOL_MAX = 65535;

bool fits_symbol_coder(const int32 *values, ui32 count)
{
    int32 lowest = 0, highest = 0;
    for (ui32 i = 0; i < count; ++i) {
        lowest = std::min(lowest, values[i]);
        highest = std::max(highest, values[i]);
    }
    return highest <= (int32)SYMBOL_MAX && lowest >= -(int32)SYMBOL_MAX;
}

void quantize_coefficients()
{
    WSQ_ASSERT(quality>0);
    int32 *prev = (int32 *)words1;
    int k = 0;
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        qcoefs[b] = prev;
        nqcoefs[b] = 0;
        for (; k < ecsbreak[b]; ++k) {
            if (qs[k] == 0.0f)
                continue;
            wsqqnt(prev, (const real *)graph->contents[wsqorder[k]], numcoefs[k], qs[k], zs[k]);
            if (!fits_symbol_coder(prev, numcoefs[k]))
                fatal(format("bit rate %g too high: a coefficient of subband %d needs more "
                             "than 65535 bins",
                             bitrate, k)
                          .c_str());
            prev += numcoefs[k];
            nqcoefs[b] += numcoefs[k];
        }
    }
}

void WSQ_symbolize()
{
    ui8 *symptr = (ui8 *)bytes0;
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        symbols[b] = symptr;
        if (nqcoefs[b] > 0)  /* a block of uncoded subbands has no symbols */
            symptr = wsqwsym(symptr, qcoefs[b], nqcoefs[b]);
        symlen[b] = (int)(symptr - symbols[b]);
    }
}

void count_symbols(ui32 *weights, const ui8 *input, int length)
{
    if (length > 0)
        wsqcsym(weights, input, (ui32)length);
    else
        std::memset(weights, 0, 256 * sizeof(ui32));
}

void make_DHTs()
{
    ui32 weights[256];
    numdhts = 2;
    count_symbols(weights, symbols[0], symlen[0]);
    dhtlen[0] = (int)(makedht(wsqdht[0], weights, WSQ_MAXBITS) - wsqdht[0]);
    Th[0] = 0;
    count_symbols(weights, symbols[1], symlen[1] + symlen[2]);
    dhtlen[1] = (int)(makedht(wsqdht[1], weights, WSQ_MAXBITS) - wsqdht[1]);
    Th[1] = Th[2] = 1;
}

void huffman_encode(int b)
{
    rewbits(ecs);
    ecs->length = 0;
    if (symlen[b] > 0)
        wsqwecs(ecs, symbols[b], (ui32)symlen[b], wsqdht[Th[b]]);
    ecs->length = rewbits(ecs);
}

/* ==== Marker segments ===================================================== */

void put_bytes(const void *bytes, size_t count)
{
    std::fwrite(bytes, 1, count, outfile);
}

void write_SOI()
{
    fput2(0xFFA0, outfile);
    totalbytes = 2;
    mention("Start-Of-Image written");
}

void write_COM()
{
    if (!comment)
        return;
    fput2(0xFFA8, outfile);
    size_t length = std::strlen(comment);
    Lc = (ui16)(length + 2);
    fput2(Lc, outfile);
    put_bytes(comment, length);
    totalbytes += Lc + 2;
    mention("Comment written");
}

void write_DTT()
{
    ui8 dtt[3074];
    fput2(0xFFA4, outfile);
    ui8 *end = wsqwdtt(dtt, h0qf, h1qf);
    Lt = (int)(end - dtt) + 2;
    fput2((ui16)Lt, outfile);
    put_bytes(dtt, Lt - 2);
    totalbytes += Lt + 2;
    mention("Define-Transform-Table written");
}

void write_SOF()
{
    ui8 mr[6];
    fput2(0xFFA2, outfile);
    fput2(Lf, outfile);
    std::putc(A & 0xFF, outfile);
    std::putc(B & 0xFF, outfile);
    fput2((ui16)rows, outfile);
    fput2((ui16)cols, outfile);
    wsqwmr(mr, midpoint, rescale);
    put_bytes(mr, sizeof mr);
    std::putc(Ev, outfile);
    fput2((ui16)Sf, outfile);
    totalbytes += Lf + 2;
    mention("Start-Of-Frame and frame header written");
}

void write_DQT()
{
    fput2(0xFFA5, outfile);
    ui8 *end = wsqwdqt(dqt, (real)center, qs, zs, WSQ_SUBBANDS);
    WSQ_ASSERT(end - dqt == Lq - 2);
    fput2(Lq, outfile);
    put_bytes(dqt, Lq - 2);
    totalbytes += Lq + 2;
    mention("Define-Quantization-Table written");
}

void write_DHTs()
{
    WSQ_ASSERT(numdhts <= WSQ_MAXDHTS);
    fput2(0xFFA6, outfile);
    Lh = 2;
    for (int t = 0; t < numdhts; ++t)
        Lh = (ui16)(Lh + dhtlen[t] + 1);
    fput2(Lh, outfile);
    for (int t = 0; t < numdhts; ++t) {
        std::putc(t, outfile);
        put_bytes(wsqdht[t], dhtlen[t]);
    }
    totalbytes += Lh + 2;
    mention("Define-Huffman-Table written");
}

void write_SOB(int b)
{
    fput2(0xFFA3, outfile);
    fput2(Ls, outfile);
    std::putc(Th[b] & 0xFF, outfile);
    totalbytes += Ls + 2;
    mention("Start-Of-Block written");
}

/* Copies the block's coded bytes, with a 00 byte after every FF. */
void write_ECS()
{
    ui32 n = ecs->length / 8;
    const ui8 *bytes = ecs->buffer, *end = bytes + n;
    while (bytes < end) {
        const ui8 *ff = (const ui8 *)std::memchr(bytes, 0xFF, (size_t)(end - bytes));
        const ui8 *next = ff ? ff + 1 : end;
        put_bytes(bytes, (size_t)(next - bytes));
        if (ff) {
            std::putc(0x00, outfile);
            ++totalbytes;
        }
        bytes = next;
    }
    totalbytes += (int)n;
}

void write_EOI()
{
    fput2(0xFFA1, outfile);
    totalbytes += 2;
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
