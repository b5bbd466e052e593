/* wsq.h - types, tables and operations shared by the WSQ encoder (wsq1),
 * its library (libwsq) and the decoder tool (unwsq).
 *
 * The library keeps no state between calls. Its operations check their
 * preconditions with WSQ_ASSERT: a failed check writes
 *     "<source file>:<line>: failed assertion `<expression>'\n"
 * to standard error, flushes it and ends the process with exit status
 * WSQ_ASSERT_STATUS (2). The one exception is wsqdecode(), which validates a
 * whole stream of untrusted bytes and reports every flaw as an error result.
 */
#ifndef WSQ_H
#define WSQ_H

#if __cplusplus < 201703L
#error "wsq.h needs C++17 or later"
#endif

/* Marks the library's public functions. The library is built with hidden
 * visibility, so a shared libwsq exports these and nothing of its own. */
#ifndef WSQ_API
#if defined(__GNUC__) || defined(__clang__)
#define WSQ_API __attribute__((visibility("default")))
#else
#define WSQ_API
#endif
#endif

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

/* ---- Shared types, in their fixed order ---------------------------------- */

typedef std::int32_t int32;   /* quantized coefficients */
typedef std::uint8_t ui8;
typedef std::uint16_t ui16;
typedef std::uint32_t ui32;
typedef float real;           /* samples, taps, coefficients, bin widths */

/* A bit stream over a byte buffer, most significant bit first.
 * Between operations: position == buffer + nextbit / 8 and
 * mask == 128 >> (nextbit % 8). length 0 means unbounded. */
typedef struct bitio {
    ui8 *buffer;
    ui8 *position;
    int mask;
    ui32 length;   /* capacity in bits */
    ui32 nextbit;  /* bits written or read since made or rewound */
} bitio;

/* A two-dimensional wavelet-packet basis: the depths of its blocks in
 * pre-order (children HH, HG, GH, GG; first letter along x) and a data
 * pointer per block. The hedge owns the two arrays, never what they point to. */
typedef struct hedge {
    int blocks;
    void **contents;
    ui8 *levels;
    void *tag;
} hedge;

/* A filter with taps f[alpha..omega] (alpha <= 0 <= omega), its extension
 * type 0..5 and its table periodized onto every even period up to
 * omega - alpha (null below 3 taps). */
typedef struct pqf {
    char *name;
    real *f;       /* points at tap 0; the storage begins at f[alpha] */
    int alpha;
    int omega;
    int type;
    real *fp;
} pqf;

typedef void *void2void(void *);
typedef void *list2void(void **, int);

/* ---- The assertion report ------------------------------------------------ */

enum { WSQ_ASSERT_STATUS = 2 };

[[noreturn]] WSQ_API void wsqassertfail(const char *file, unsigned line, const char *expression);

/* The expression text is part of the report: write it exactly as it
 * should read. */
#define WSQ_ASSERT(expression) \
    ((expression) ? (void)0 : wsqassertfail(__FILE__, __LINE__, #expression))

/* ---- Constants of the format --------------------------------------------- */

enum { WSQ_MAXDHTS = 8 };      /* Huffman tables in one stream */
enum { WSQ_SUBBANDS = 64 };
enum { WSQ_CODED_SUBBANDS = 60 };
enum { WSQ_BLOCKS = 3 };       /* entropy-coded blocks */
enum { WSQ_MAXBITS = 16 };     /* longest Huffman codeword */
enum { WSQ_DHT_BYTES = 16 + 256 };

/* Analysis low-pass filter, taps -4..4 (type 2). */
inline constexpr real WSQh0hbqf[9] = {
    0.0378284566f, -0.023849465f, -0.110624403f, 0.377402842f, 0.852698684f,
    0.377402842f, -0.110624403f, -0.023849465f, 0.0378284566f};

/* Analysis high-pass filter, taps -4..2 (type 3). */
inline constexpr real WSQh1gbqf[7] = {
    0.0645388812f, -0.0406894162f, -0.418092281f, 0.788485587f,
    -0.418092281f, -0.0406894162f, 0.0645388812f};

/* Depth of each of the 64 hedge blocks. */
inline constexpr ui8 wsqlevels[WSQ_SUBBANDS] = {
    5, 5, 5, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    4, 4, 4, 4, 4, 4, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};

/* Hedge block holding subband k. */
inline constexpr int wsqorder[WSQ_SUBBANDS] = {
    0,  1,  2,  3,  4,  5,  6,  8,  7,  10, 9,  13, 14, 11, 12, 18,
    17, 16, 15, 23, 24, 25, 26, 20, 19, 22, 21, 33, 34, 31, 32, 30,
    29, 28, 27, 43, 44, 45, 46, 48, 47, 50, 49, 37, 38, 35, 36, 42,
    41, 40, 39, 51, 53, 52, 55, 54, 58, 59, 56, 57, 63, 62, 61, 60};

/* First subband after each entropy-coded block. */
inline constexpr int ecsbreak[WSQ_BLOCKS] = {19, 52, 64};

/* ---- Pixel normalisation ------------------------------------------------- */

WSQ_API void wsqb2r(real *out, const ui8 *in, ui32 length, real midpoint, real rescale);
WSQ_API void wsqr2b(ui8 *out, const real *in, ui32 length, real midpoint, real rescale);

/* ---- Scalar quantization ------------------------------------------------- */

WSQ_API void wsqqnt(int32 *out, const real *in, ui32 length, real qbin, real zbin);
WSQ_API void wsqunq(real *out, const int32 *in, ui32 length, real center, real qbin, real zbin);

/* ---- Symbol stream ------------------------------------------------------- */

WSQ_API ui8 *wsqwsym(ui8 *output, const int32 *input, ui32 length);
WSQ_API ui8 *writesym(ui8 *output, int32 coeff);
WSQ_API ui8 *writezrl(ui8 *output, ui32 zrl);

/* ---- Numbers and bytes --------------------------------------------------- */

WSQ_API ui8 *writefix24(ui8 *output, real coeff);
WSQ_API ui8 *writefix48(ui8 *output, real coeff);
WSQ_API const ui8 *readfix24(real *coeff, const ui8 *input);
WSQ_API const ui8 *readfix48(real *coeff, const ui8 *input);
WSQ_API ui8 *sput2(ui8 *out, ui16 in);
WSQ_API ui8 *sput4(ui8 *out, ui32 in);
WSQ_API const ui8 *sget2(ui16 *out, const ui8 *in);
WSQ_API const ui8 *sget4(ui32 *out, const ui8 *in);
WSQ_API int fput2(ui16 x, std::FILE *out);
WSQ_API int fput4(ui32 x, std::FILE *out);
WSQ_API ui16 fget2(std::FILE *in);

/* ---- Table segments ------------------------------------------------------ */

WSQ_API ui8 *wsqwmr(ui8 *output, real midpoint, real rescale);
WSQ_API ui8 *wsqwdtt(ui8 *output, const pqf *hqf, const pqf *gqf);
WSQ_API ui8 *wsqwdqt(ui8 *output, real center, const real *qs, const real *zs, int blocks);
WSQ_API const ui8 *wsqrmr(const ui8 *input, real *midpoint, real *rescale);
WSQ_API const ui8 *wsqrdtt(pqf **filters, const ui8 *input);
WSQ_API const ui8 *wsqrdqt(real *center, real *qs, real *zs, int blocks, const ui8 *input);

/* ---- Filters ------------------------------------------------------------- */

WSQ_API pqf *makepqf(const char *name, const real *coefs, int alpha, int omega, int type);
WSQ_API void *freepqf(void *filter);
WSQ_API void qfcirc(real *fp, const real *f, int alpha, int omega);
WSQ_API void periodize(real *fq, int q, const real *f, int alpha, int omega);
WSQ_API int cdplength(int length, int ftype);
WSQ_API int cpqftype(int type);

/* ---- Hedge --------------------------------------------------------------- */

WSQ_API hedge *makehedge(int blocks, void *const *contents, const ui8 *levels, void *tag);
WSQ_API hedge *freehedge(hedge *in, list2void *freecontents, void2void *freetag);
WSQ_API void *freevoid(void *discard);
WSQ_API int xywp2(int *xs, int *ys, int ix, int iy, const ui8 *levels, int level, int block,
                  const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY);

/* ---- Analysis and synthesis ---------------------------------------------- */

WSQ_API void cds(real *out, int olen, int ostep, const real *in, int ilen, int istep,
                 const pqf *filter, int assign);
WSQ_API void scdpi2(real *data, int oxh, int oxg, int oyh, int oyg, real *work,
                    const pqf *hx, const pqf *gx, const pqf *hy, const pqf *gy);
WSQ_API int cbwp2(hedge *graph, int ix, int iy, int level, int block, real *work,
                  const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY);
WSQ_API void acds(real *out, int olen, int ostep, const real *in, int ilen, int istep,
                  const pqf *filter, int assign);
WSQ_API void sacdpi2(real *data, int ixh, int ixg, int iyh, int iyg, real *work,
                     const pqf *hx, const pqf *gx, const pqf *hy, const pqf *gy);
WSQ_API int rbwp2(hedge *graph, int ix, int iy, int level, int block, real *work,
                  const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY);

/* ---- Bit stream ---------------------------------------------------------- */

WSQ_API bitio *makebitio(ui8 *buffer, ui32 numbits);
WSQ_API bitio *freebitio(bitio *item, void2void *freebuf);
WSQ_API void putbits(bitio *outarray, ui32 codeword, int bits);
WSQ_API ui32 padbits(bitio *outarray, int pad);
WSQ_API int getbit(bitio *inarray);
WSQ_API ui32 getbits(bitio *inarray, int bits);
WSQ_API ui32 rewbits(bitio *item);

/* ---- Huffman tables and entropy-coded segments --------------------------- */

WSQ_API const ui8 *wsqcsym(ui32 *weights, const ui8 *input, ui32 length);
WSQ_API ui8 *makedht(ui8 *output, const ui32 *counts, int maxbits);
WSQ_API void dht2cwbl(ui32 *huffcode, int *huffsize, const ui8 *dht, int width);
WSQ_API const ui8 *wsqwecs(bitio *output, const ui8 *input, ui32 length, const ui8 *dht);
WSQ_API int *dht2caht(int *root, const ui8 *dht, int b);
WSQ_API int32 *wsqrecs(int32 *output, bitio *input, ui32 length, const ui8 *dht);

/* ---- TIFF ---------------------------------------------------------------- */

WSQ_API void puttiffg(std::FILE *output, const ui8 *input, ui32 height, ui32 width);
WSQ_API int tiffhdr(std::FILE *out, ui32 offset);
WSQ_API int tiffifd(std::FILE *out, ui16 entries);
WSQ_API int tiffent(std::FILE *out, ui16 tag, ui16 type, ui32 count, ui32 value);
WSQ_API int tiffnio(std::FILE *out, ui32 offset);
WSQ_API int tiffrat(std::FILE *out, ui32 numerator, ui32 denominator);
WSQ_API ui32 tiffsiz(ui16 type, ui32 count);

/* ---- Whole-stream decoding ----------------------------------------------- */

/* Why wsqdecode refused a stream. The values are stable. */
enum wsqstatus {
    WSQ_OK = 0,
    WSQ_ERR_NOT_WSQ = 1,       /* empty, or no Start-Of-Image marker at the start */
    WSQ_ERR_TRUNCATED = 2,     /* ends inside a segment or a block, or before End-Of-Image */
    WSQ_ERR_MARKER = 3,        /* a marker that does not belong where it stands */
    WSQ_ERR_SEGMENT = 4,       /* a segment whose length does not fit its kind */
    WSQ_ERR_FRAME = 5,         /* frame header missing or repeated, or unusable dimensions */
    WSQ_ERR_TRANSFORM = 6,     /* transform table missing, or filters that cannot pair */
    WSQ_ERR_QUANTIZATION = 7,  /* quantization table missing */
    WSQ_ERR_HUFFMAN = 8,       /* malformed Huffman table, or a block naming an undefined one */
    WSQ_ERR_BLOCK = 9,         /* a block that does not decode to its subbands' coefficients */
    WSQ_ERR_TRAILING = 10,     /* bytes after End-Of-Image that begin no further stream */
    WSQ_ERR_LIMIT = 11,        /* an image or a coded segment beyond the decoder's limits */
    WSQ_ERR_MEMORY = 12        /* working memory could not be allocated */
};

/* A short name of a status, e.g. "truncated stream". */
WSQ_API const char *wsqstrerror(int status);

/* Where and why a stream was refused. */
typedef struct wsqerror {
    int status;         /* a wsqstatus */
    size_t offset;      /* byte offset in the input where the flaw was found */
    char message[200];  /* what is wrong, in words */
} wsqerror;

/* Facts of one stream, as its segments state them. */
typedef struct wsqinfo {
    int width = 0, height = 0;       /* X (samples per line) and Y (lines) */
    int black = 0, white = 0;        /* scanner calibrations A and B */
    real midpoint = 0, rescale = 0;  /* M and R */
    int encoder = 0;                 /* Ev */
    int software = 0;                /* Sf */
    int filter_lengths[2] = {};      /* L0 and L1 of the transform table */
    real center = 0;                 /* bin center C */
    unsigned tables = 0;             /* bit t set when Huffman table t was defined */
    int restart_interval = 0;
    int blocks = 0;                  /* entropy-coded blocks read */
    int block_table[WSQ_BLOCKS] = {};
    size_t block_bytes[WSQ_BLOCKS] = {};  /* coded bytes of each block as stored */
    std::vector<std::string> comments;
    size_t stream_bytes = 0;         /* length of the stream, SOI to EOI */
} wsqinfo;

/* Largest image wsqdecode accepts by default: 2^28 pixels (16384 x 16384),
 * which needs about 9 bytes per pixel of working memory. */
const size_t WSQ_DEFAULT_MAX_PIXELS = static_cast<size_t>(1) << 28;

/* Decodes the WSQ stream that starts at data[0] and lies within size bytes.
 * The stream must end with its End-Of-Image marker, followed either by
 * nothing or by the Start-Of-Image marker of another stream (streams may be
 * stored back to back; info->stream_bytes tells where the next one starts).
 * Every length, count and dimension is validated before use; a flaw gives
 * its status, also stored with its offset and a message in *error, and
 * nothing else: the process is never ended and nothing is written to
 * *pixels. On success (WSQ_OK), *info holds the stream's facts and, when
 * pixels is not null, *pixels a new buffer of info->height rows of
 * info->width bytes, released with freevoid. With a null pixels pointer only
 * the segments are read and checked: the blocks are located, not decoded.
 * Images of more than max_pixels pixels are refused (WSQ_ERR_LIMIT). */
WSQ_API int wsqdecode(ui8 **pixels, wsqinfo *info, wsqerror *error, const ui8 *data, size_t size,
                      size_t max_pixels);

#endif
