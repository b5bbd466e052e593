/* libwsq.h - the format kernels of libwsq: types, tables and operations shared by
 * the encoder program (wsq1), the whole-image calls of wsq.h and the tools.
 *
 * The kernels keep no state between calls. They check their preconditions
 * with WSQ_ASSERT: a failed check writes
 *     "<source file>:<line>: failed assertion `<expression>'\n"
 * to standard error, flushes it and ends the process with exit status
 * WSQ_ASSERT_STATUS (2). They are for C++ callers that meet those
 * preconditions; untrusted streams and images go through the calls of wsq.h,
 * which validate everything and never end the process.
 *
 * The kernels are grouped by stage, in the order of the encoder's pipeline, and
 * each one's contract stands above it: what it takes, what it returns, what it
 * asserts. A routine that fills or scans a caller's buffer returns the position
 * just past what it handled; a release routine returns a null pointer.
 */
#ifndef LIBWSQ_H
#define LIBWSQ_H

#if __cplusplus < 201703L
#error "libwsq.h needs C++17 or later"
#endif

#include "wsq.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

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

/* Whether each hedge block holds a coded subband: the blocks of subbands 0 to
 * WSQ_CODED_SUBBANDS - 1. */
inline constexpr std::array<ui8, WSQ_SUBBANDS> wsqcoded = [] {
    std::array<ui8, WSQ_SUBBANDS> coded{};
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k)
        coded[wsqorder[k]] = 1;
    return coded;
}();

/* First subband after each entropy-coded block. */
inline constexpr int ecsbreak[WSQ_BLOCKS] = {19, 52, 64};

/* Per-subband weights of the relative bin widths. */
inline constexpr real adjustment[WSQ_SUBBANDS] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1.32f, 1.08f, 1.42f, 1.08f, 1.32f, 1.42f, 1.08f, 1.08f,
    1, 1, 1, 1};

/* Markers of the segments. */
enum : ui16 {
    WSQ_SOI = 0xFFA0, WSQ_EOI = 0xFFA1, WSQ_SOF = 0xFFA2, WSQ_SOB = 0xFFA3, WSQ_DTT = 0xFFA4,
    WSQ_DQT = 0xFFA5, WSQ_DHT = 0xFFA6, WSQ_DRI = 0xFFA7, WSQ_COM = 0xFFA8
};

/* What this encoder writes to every frame and quantization table. */
inline constexpr int WSQ_EV = 1;          /* encoder parameterization number */
inline constexpr int WSQ_SF = 55297;      /* software implementation number */
inline constexpr double WSQ_CENTER = 0.44;  /* nominal bin center */
inline constexpr size_t WSQ_COMMENT_MAX = 65535 - 2;  /* longest comment text */

/* ---- Filters -------------------------------------------------------------
 * A filter's taps f[alpha..omega] and its extension type: 0 and 1 periodic
 * (a pair), 2 and 3 whole-sample symmetric (the low-pass and high-pass of
 * an odd-length pair), 4 and 5 half-sample symmetric and antisymmetric. */

/* A new filter of the omega - alpha + 1 taps at coefs (tap alpha first) and type, named a copy
 * of name (may be null), with its periodized tables; release with freepqf(). Asserts
 * alpha <= 0 <= omega, coefs, and the memory. */
WSQ_API pqf *makepqf(const char *name, const real *coefs, int alpha, int omega, int type);
/* makepqf, but memory that cannot be had gives a null result instead of the assertion report. */
WSQ_API pqf *trymakepqf(const char *name, const real *coefs, int alpha, int omega, int type);
/* Releases a filter of makepqf() (null: nothing); returns null. */
WSQ_API void *freepqf(void *filter);
/* The periodized tables of the taps f[alpha..omega], for every even period q = 2m up to
 * omega - alpha: table q at fp + 2m^2, its q values also just before it (fp holds
 * 2m(m + 1) values for the largest m). Asserts alpha <= 0 <= omega. */
WSQ_API void qfcirc(real *fp, const real *f, int alpha, int omega);
/* fq[k], k < q: the sum of the taps f[j], alpha <= j <= omega, with j = k modulo q. Asserts
 * 0 < q <= omega - alpha and alpha <= 0 <= omega. */
WSQ_API void periodize(real *fq, int q, const real *f, int alpha, int omega);
/* The outputs of a convolution-decimation of length samples by a filter of type ftype: half
 * of them, rounded up for types 2 and 4, down for 3 and 5. Asserts an even length for the
 * periodic types. */
WSQ_API int cdplength(int length, int ftype);
/* The type of a filter's partner in its pair: 0 and 1, 2 and 3, 4 and 5. Asserts a type 0..5. */
WSQ_API int cpqftype(int type);

/* ---- Hedge --------------------------------------------------------------- */

/* A new hedge of `blocks` blocks holding copies of contents and levels (zeros where null) and
 * tag; release with freehedge(). Asserts blocks >= 0 and the memory. */
WSQ_API hedge *makehedge(int blocks, void *const *contents, const ui8 *levels, void *tag);
/* Releases a hedge (null: nothing), after freecontents(contents, blocks) and freetag(tag)
 * where given; returns null. */
WSQ_API hedge *freehedge(hedge *in, list2void *freecontents, void2void *freetag);
/* free(discard); returns null. */
WSQ_API void *freevoid(void *discard);
/* An image-sized buffer, released with free; null when memory cannot be had.
 * Large ones are asked for in huge pages where the system grants them on
 * request: touching a fresh buffer then costs a fault per 2 MiB instead of
 * one per 4 KiB, which is most of the cost of first touches. */
WSQ_API void *imagebuffer(size_t bytes);
/* A buffer in whole huge pages where the system grants them, from 1 MiB up (below, the 4 KiB
 * pages touched cost less than clearing a huge page), released with free: for memory kept
 * from one image to the next, and for a process's one image, where fresh pages are certain.
 * Smaller buffers from imagebuffer() are often memory the allocator reuses. */
WSQ_API void *hugebuffer(size_t bytes);
/* The block after the last of the node at depth `level` whose first block is `block`, in the
 * hedge's block order. Asserts 0 <= level <= graph->levels[block]. */
WSQ_API int hedgeend(const hedge *graph, int level, int block);
/* The rows xs[b] and columns ys[b] of each block b of the node of ix x iy samples at depth
 * `level` whose first block is `block`, split by HX, GX along x and HY, GY along y down to
 * the depths in levels; returns the block after the node's. Asserts the pointers, ix and iy
 * nonzero, 0 <= level <= levels[block] and block >= 0. */
WSQ_API int xywp2(int *xs, int *ys, int ix, int iy, const ui8 *levels, int level, int block,
                  const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY);

/* ---- Teams of threads ---------------------------------------------------
 * A team shares the work of one call among threads. teamfor() calls
 * body(context, begin, end) on disjoint ranges that together cover
 * [0, count), on the team's threads and on the calling one, and returns when
 * all are done. Which thread computes a range never changes a result: each
 * output is still computed alone, in the same order. A null team is the
 * calling thread alone. maketeam() starts threads - 1 threads (0: one per
 * available core) for work on `samples` samples, no more than have half a
 * million samples each (below that, handing out a share costs more than it
 * saves); it gives a smaller team, or null, when threads cannot be had. The
 * team belongs to the caller, who releases it with freeteam() (which returns
 * null); teamsize() tells its threads, the calling one included (1 for null). */
typedef struct wsqteam wsqteam;
WSQ_API wsqteam *maketeam(int threads, size_t samples);
WSQ_API wsqteam *freeteam(wsqteam *team);
WSQ_API int teamsize(const wsqteam *team);
WSQ_API void teamfor(wsqteam *team, size_t count, void (*body)(void *, size_t, size_t),
                     void *context);

/* teamfor with a callable body(begin, end). */
template <class Body>
void teamfor(wsqteam *team, size_t count, const Body &body)
{
    teamfor(team, count,
            [](void *context, size_t begin, size_t end) { (*(const Body *)context)(begin, end); },
            (void *)&body);
}

/* ---- Pixel normalisation ------------------------------------------------- */

/* out[i] = (in[i] - midpoint) * (1 / rescale) for length pixels, in single precision. Asserts
 * rescale != 0, in and out. */
WSQ_API void wsqb2r(real *out, const ui8 *in, ui32 length, real midpoint, real rescale);
/* out[i] = rescale * in[i] + midpoint (one fused multiply-add) rounded half up and clamped to
 * 0..255, for length samples; a value that is not a number gives 0. Asserts in and out. */
WSQ_API void wsqr2b(ui8 *out, const real *in, ui32 length, real midpoint, real rescale);

/* ---- Analysis and synthesis ----------------------------------------------
 * A node of ix rows by iy samples splits into the quarter-bands HH, HG, GH and
 * GG (first letter along x: H the low-pass rows, G the high-pass ones), back to
 * back in the node's place; oxh, oxg (ixh, ixg) rows and oyh, oyg (iyh, iyg)
 * samples are the halves' lengths (cdplength). work is scratch as large as the
 * node; nothing is allocated but the vector paths' rings of rows. */

/* olen outputs of the convolution-decimation of ilen samples at in (step istep) by filter, to
 * out (step ostep): output i is the sum over taps j of f[j] times sample 2i - j after the
 * filter's extension, in increasing j, one fused multiply-add each; assign 0 adds them onto
 * out. Asserts lengths above 0, nonzero steps, out, in and a type 0..5. */
WSQ_API void cds(real *out, int olen, int ostep, const real *in, int ilen, int istep,
                 const pqf *filter, int assign);
/* Splits the node at data into its four quarter-bands, rows by hx, gx, samples by hy, gy. */
WSQ_API void scdpi2(real *data, int oxh, int oxg, int oyh, int oyg, real *work,
                    const pqf *hx, const pqf *gx, const pqf *hy, const pqf *gy);
/* Splits the node of ix x iy samples at graph->contents[block], at depth level, down to the
 * depths of graph->levels, setting the contents of its blocks; returns the block after the
 * node's. Asserts as cbwp2t. */
WSQ_API int cbwp2(hedge *graph, int ix, int iy, int level, int block, real *work,
                  const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY);
/* The adjoint of cds: olen outputs from the ilen samples of a half, by filter with the
 * extension its type and olen's parity call for, each output's terms in increasing tap index;
 * assign 0 adds them onto out. Asserts as cds, and olen == 2 * ilen for the periodic types. */
WSQ_API void acds(real *out, int olen, int ostep, const real *in, int ilen, int istep,
                  const pqf *filter, int assign);
/* Merges the four quarter-bands at data back into their node: the inverse of scdpi2. */
WSQ_API void sacdpi2(real *data, int ixh, int ixg, int iyh, int iyg, real *work,
                     const pqf *hx, const pqf *gx, const pqf *hy, const pqf *gy);
/* Merges the blocks below the node whose first block is `block` back into the node, at
 * graph->contents[block]: the inverse of cbwp2. Returns the block after the node's. Asserts as
 * rbwp2t. */
WSQ_API int rbwp2(hedge *graph, int ix, int iy, int level, int block, real *work,
                  const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY);
/* cbwp2 and rbwp2 with the rows and columns of each large split shared by a team. cbwp2t
 * makes only the blocks b with wanted[b] nonzero (every block when wanted is null): the
 * others get their places in the hedge and unspecified samples. Both assert ix, iy > 0,
 * level, block >= 0, work, graph, level <= graph->levels[block] and the four filters. */
WSQ_API int cbwp2t(hedge *graph, int ix, int iy, int level, int block, real *work,
                   const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY,
                   const ui8 *wanted, wsqteam *team);
WSQ_API int rbwp2t(hedge *graph, int ix, int iy, int level, int block, real *work,
                   const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY, wsqteam *team);
/* Pixel rows handed on as a decoding finishes them, while it makes the others: rows
 * first .. first + count - 1 of the pixels, complete. rows_done is called in row order, each row
 * once, one call at a time, from any thread of the decoding. */
struct wsq_row_sink {
    void (*rows_done)(void *context, size_t first, size_t count);
    void *context;
};
/* wsq_decode_into_reusing(), the rows of the pixels handed to sink as they are finished: only
 * once the stream has passed every check, so that a refused one hands on none. */
WSQ_API int decoderows(wsq_workspace *workspace, uint8_t *pixels, size_t capacity, wsq_info *info,
                       wsq_error *error, const uint8_t *data, size_t size,
                       const wsq_decode_options *options, const wsq_row_sink *sink);
/* rbwp2t, then wsqr2b of the node's ix * iy samples with midpoint and rescale into pixels, the
 * team sharing the work; the last merge converts each row as it makes it, without writing the
 * samples, which are then unspecified, and hands the finished rows to sink (when not null). The
 * blocks flagged in zeros (by block; null: none) are zeros, their contents unwritten: rbwp2b
 * fills those it reads. A vector merge whose node's three other quarter-bands are each split once
 * reads them apart: of work it then touches only the HH quarter, and of those three it leaves a
 * quarter-band of four blocks of zeros unread. Asserts as rbwp2t, and pixels. */
WSQ_API void rbwp2b(hedge *graph, int ix, int iy, int level, int block, real *work,
                    const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY, wsqteam *team,
                    ui8 *pixels, real midpoint, real rescale, const wsq_row_sink *sink = nullptr,
                    const bool *zeros = nullptr);

/* ---- Scalar quantization -------------------------------------------------
 * h is half the zero bin zbin; indices beyond 2^31 - 1 saturate. */

/* Quantizes length coefficients: 0 within [-h, h], else trunc((c - h) / qbin) + 1 above and
 * trunc((c + h) / qbin) - 1 below (qbin 0: all 0). Asserts out, in, qbin >= 0 and zbin >= 0. */
WSQ_API void wsqqnt(int32 *out, const real *in, ui32 length, real qbin, real zbin);
/* Dequantizes length indices: 0 stays 0, v > 0 gives (v - center) * qbin + h and v < 0
 * (v + center) * qbin - h, one fused multiply-add each (qbin 0: all 0). Asserts out, in,
 * qbin >= 0 and zbin >= 0. */
WSQ_API void wsqunq(real *out, const int32 *in, ui32 length, real center, real qbin, real zbin);

/* ---- Symbol stream -------------------------------------------------------
 * One byte a symbol: runs of 1 to 100 zeros as themselves, 105 and 106 with a
 * longer run in 1 or 2 literal bytes; values -73 to 74 as value + 180, 101 to
 * 104 with a larger magnitude in 1 or 2 literal bytes (odd: positive). Each
 * writer returns the end of what it wrote. */

/* The symbols of length integers, at most 3 bytes each. Asserts output, input, length > 0. */
WSQ_API ui8 *wsqwsym(ui8 *output, const int32 *input, ui32 length);
/* The symbol of one value. Asserts coeff != 0 and a magnitude below 65536. */
WSQ_API ui8 *writesym(ui8 *output, int32 coeff);
/* The symbols of a run of zrl zeros: none for 0, runs beyond 65535 in pieces. */
WSQ_API ui8 *writezrl(ui8 *output, ui32 zrl);

/* ---- Numbers and bytes ---------------------------------------------------
 * fix24: a decimal scale byte and a 16-bit mantissa; fix48: a sign byte, a
 * scale byte and a 32-bit mantissa; the value is mantissa / 10^scale. All
 * integers big-endian. Each returns the position just past the bytes it
 * handled. */

/* coeff as fix24, its mantissa truncated (3 bytes). Asserts output and coeff >= 0. */
WSQ_API ui8 *writefix24(ui8 *output, real coeff);
/* coeff as fix48 (6 bytes). Asserts output. */
WSQ_API ui8 *writefix48(ui8 *output, real coeff);
/* The fix24 at input into *coeff. Asserts input and coeff. */
WSQ_API const ui8 *readfix24(real *coeff, const ui8 *input);
/* The fix48 at input into *coeff. Asserts input and coeff. */
WSQ_API const ui8 *readfix48(real *coeff, const ui8 *input);
/* 16- and 32-bit integers into and out of a buffer. */
WSQ_API ui8 *sput2(ui8 *out, ui16 in);
WSQ_API ui8 *sput4(ui8 *out, ui32 in);
WSQ_API const ui8 *sget2(ui16 *out, const ui8 *in);
WSQ_API const ui8 *sget4(ui32 *out, const ui8 *in);
/* 16- and 32-bit integers onto a stream; return the sum of std::putc's results (EOF, -1, for
 * a byte not written). fget2 reads one; a byte past the end of the stream reads as 1-bits. */
WSQ_API int fput2(ui16 x, std::FILE *out);
WSQ_API int fput4(ui32 x, std::FILE *out);
WSQ_API ui16 fget2(std::FILE *in);
/* a * b + c rounded once to the nearest float, as std::fma rounds it, computed in double
 * precision: the kernels' fused multiply-add where the machine has none (WebAssembly). */
WSQ_API float wsqfma(float a, float b, float c);

/* ---- Table segments ------------------------------------------------------
 * The bodies of the marker segments, after their length field. Each returns
 * the position just past the bytes it handled. */

/* M and R as two fix24 numbers (6 bytes). Asserts output. */
WSQ_API ui8 *wsqwmr(ui8 *output, real midpoint, real rescale);
/* The transform table body: the two filters' lengths, then each one's taps as fix48 (of a
 * symmetric filter, those from its centre on). Asserts output, hqf, gqf and their types. */
WSQ_API ui8 *wsqwdtt(ui8 *output, const pqf *hqf, const pqf *gqf);
/* The quantization table body: center, then qs[k] and zs[k] for the first `blocks` subbands,
 * fix24 each. Asserts output, qs, zs and blocks > 0. */
WSQ_API ui8 *wsqwdqt(ui8 *output, real center, const real *qs, const real *zs, int blocks);
/* M and R from two fix24 numbers. Asserts input, midpoint and rescale. */
WSQ_API const ui8 *wsqrmr(const ui8 *input, real *midpoint, real *rescale);
/* The transform table body into four new filters (release each with freepqf): the analysis
 * pair H0, H1 in filters[0], filters[1], the synthesis pair F0, F1 in filters[2], filters[3].
 * Asserts filters, input and the memory. */
WSQ_API const ui8 *wsqrdtt(pqf **filters, const ui8 *input);
/* wsqrdtt, but memory that cannot be had gives a null result, with no record made, instead of
 * the assertion report. */
WSQ_API const ui8 *tryrdtt(pqf **filters, const ui8 *input);
/* A segment's marker and its length field for a body of bodylength bytes (4 bytes). */
WSQ_API ui8 *wsqwhead(ui8 *output, ui16 marker, ui32 bodylength);
/* The frame header body (15 bytes): A and B (low 8 bits), rows, cols, M and R, Ev and Sf. */
WSQ_API ui8 *wsqwsof(ui8 *output, int A, int B, int rows, int cols, real midpoint, real rescale);
/* The Huffman table segment body: each table's index and body. */
WSQ_API ui8 *wsqwdht(ui8 *output, const ui8 (*dht)[WSQ_DHT_BYTES], const int *dhtlen,
                     int numdhts);
/* center, then qs[k] and zs[k] of the first `blocks` subbands, from the quantization table
 * body. Asserts center, qs, zs, input and blocks > 0. */
WSQ_API const ui8 *wsqrdqt(real *center, real *qs, real *zs, int blocks, const ui8 *input);

/* ---- Bit stream ----------------------------------------------------------
 * Writing or reading past a bounded stream's length is asserted against. */

/* A new bit stream over buffer, bounded to numbits bits (0: unbounded), or, with a null
 * buffer, over a new zeroed one of numbits bits (release it with freebitio(item, freevoid)).
 * Asserts the memory. */
WSQ_API bitio *makebitio(ui8 *buffer, ui32 numbits);
/* Releases a bit stream (null: nothing), after freebuf(buffer) where given; returns null. */
WSQ_API bitio *freebitio(bitio *item, void2void *freebuf);
/* Writes the low `bits` bits of codeword, the highest first. Asserts 0 < bits < 33. */
WSQ_API void putbits(bitio *outarray, ui32 codeword, int bits);
/* Fills the rest of the current byte with pad bits (pad 0 or 1, asserted) and moves on to the
 * next byte; returns the bits written before the padding. */
WSQ_API ui32 padbits(bitio *outarray, int pad);
/* The next bit. */
WSQ_API int getbit(bitio *inarray);
/* The next `bits` bits, the first the highest. Asserts 0 < bits < 33. */
WSQ_API ui32 getbits(bitio *inarray, int bits);
/* Back to the start of the buffer; returns the bits written or read since. Asserts item. */
WSQ_API ui32 rewbits(bitio *item);

/* ---- Huffman tables and entropy-coded segments ---------------------------
 * A table body: WSQ_MAXBITS bytes counting the codewords of each length, then
 * the symbols in the order of their codewords. A block's symbol stream ends
 * at its length or at a symbol 0 or 255. */

/* Counts each symbol of a block's stream (literal bytes skipped) into weights[0..255],
 * cleared first; returns where the stream ended. Asserts weights, input and length > 0. */
WSQ_API const ui8 *wsqcsym(ui32 *weights, const ui8 *input, ui32 length);
/* The table body for the symbol counts[0..255] (maxbits count bytes), codewords no longer than
 * maxbits, the all-ones one left unused; returns its end. Asserts output, counts and
 * 8 < maxbits < 256. */
WSQ_API ui8 *makedht(ui8 *output, const ui32 *counts, int maxbits);
/* Each symbol's codeword and its length (0: none) from a table body of width count bytes.
 * Asserts huffcode and huffsize. */
WSQ_API void dht2cwbl(ui32 *huffcode, int *huffsize, const ui8 *dht, int width);
/* Codes a block's symbols by table dht onto output, the literal bytes as 8 or 16 bits,
 * padding the last byte with 1-bits; returns where the symbols ended. Asserts output, input,
 * length > 0 and dht. */
WSQ_API const ui8 *wsqwecs(bitio *output, const ui8 *input, ui32 length, const ui8 *dht);
/* The decoding tree of a table body of b count bytes into root[0..511]: slots 2n and 2n + 1
 * hold node n's children, a leaf -s for the symbol of index s, 1 where no code leads; returns
 * root. Asserts dht, b > 0 and root. */
WSQ_API int *dht2caht(int *root, const ui8 *dht, int b);
/* Decodes coefficients by table dht from input, within its first min(length, input->length)
 * bits, until a symbol 0 or 255; returns the end of the coefficients. Asserts output,
 * length > 0, input and dht. */
WSQ_API int32 *wsqrecs(int32 *output, bitio *input, ui32 length, const ui8 *dht);
/* Copies coded bytes with a 00 byte after every FF (at most 2 * length bytes); returns the
 * end. */
WSQ_API ui8 *wsqstuff(ui8 *output, const ui8 *input, ui32 length);

/* A Huffman table's decoding tree, with the walk of every window of its first bits, and the
 * run and value symbols that each window of WSQ_SYMBOL_BITS bits holds whole: up to three,
 * their symbols in bytes 1 to 3, their count in bits 4-5, their bits in bits 0-3 (0 symbols:
 * the window starts with another symbol or a longer codeword). */
enum { WSQ_TREE_SLOTS = 512, WSQ_WINDOW_BITS = 10, WSQ_SYMBOL_BITS = 11 };
typedef struct codewalk {
    int tree[WSQ_TREE_SLOTS];
    struct { int node, length; } windows[1 << WSQ_WINDOW_BITS];
    ui32 symbols[1 << WSQ_SYMBOL_BITS];
} codewalk;
/* The walk of a table body (tree by dht2caht). */
WSQ_API void makewalk(codewalk *walk, const ui8 *dht);

/* Why wsqrecsb stopped. */
enum recsstop {
    RECS_LIMIT,         /* the bit limit, between codewords */
    RECS_PADDING,       /* the 1-bits that pad the last byte */
    RECS_END_SYMBOL,    /* a 0 or 255 symbol */
    RECS_FULL,          /* the room is filled */
    RECS_CUT_CODEWORD,  /* the limit fell inside a codeword */
    RECS_OVERFLOW       /* a symbol would write past the room */
};

/* Decodes coefficients as wsqrecs does, from a walk made once per table, into room values at
 * most; with stop_at_padding the 1-bits padding a coded segment's last byte end it. *stop
 * tells why it ended. */
WSQ_API int32 *wsqrecsb(int32 *output, size_t room, bitio *input, ui32 limit,
                        const codewalk *walk, const ui8 *huffval, bool stop_at_padding,
                        recsstop *stop);

/* A block's subbands of non-zero bin width, in coding order, and how far decoding has filled
 * them. Make one with startbands, then add each subband with addband. */
typedef struct bandcursor {
    int bands;
    real *out[WSQ_SUBBANDS];
    ui32 length[WSQ_SUBBANDS];
    real qbin[WSQ_SUBBANDS], zbin[WSQ_SUBBANDS], center;
    int band;      /* the subband being filled */
    ui32 filled;   /* its coefficients written */
    size_t room;   /* coefficients still to write, over all the subbands */
    int ready;     /* the subband whose values[] is made, or -1 */
    real values[148];  /* the coefficients of the values -73 ... 74, as wsqunq gives them */
} bandcursor;
WSQ_API void startbands(bandcursor *cursor, real center);
WSQ_API void addband(bandcursor *cursor, real *out, ui32 length, real qbin, real zbin);

/* Decodes as wsqrecsb does, into cursor->room coefficients at most, and writes them
 * dequantized, as wsqunq would, straight into the cursor's subbands. */
WSQ_API void wsqrecsunq(bandcursor *cursor, bitio *input, ui32 limit, const codewalk *walk,
                        const ui8 *huffval, bool stop_at_padding, recsstop *stop);

/* ---- Encoding stages -----------------------------------------------------
 * The arithmetic of each stage of the encoder, with explicit arguments: the
 * encoder program's stages call them with its state, the library's encoder
 * with its own. Arrays are indexed as in the encoder: xs, ys and contents by
 * hedge block, the others by subband. A team shares the work; null: none. */

/* M (the pixels' mean) and R (the larger distance from it to the darkest or
 * brightest pixel, over 128); R is 0 when every pixel has the same value. Asserts pixels and
 * length > 0. */
WSQ_API void pixelmr(real *midpoint, real *rescale, const ui8 *pixels, ui32 length,
                     wsqteam *team);
/* Block sizes of the 64-subband tree for a rows x cols image, and each subband's coefficients. */
WSQ_API void subbandsizes(int *xs, int *ys, ui32 *numcoefs, int rows, int cols, const pqf *hqf,
                          const pqf *gqf);
/* Whether every coded subband of a rows x cols image has a central region of at least two
 * coefficients, whose variance the bit allocation needs. */
WSQ_API bool measurable(int rows, int cols, const pqf *hqf, const pqf *gqf);
/* Variances of the central regions of the coded subbands 0 to 59. */
WSQ_API void subbandvars(double *variance, void *const *contents, const int *xs, const int *ys,
                         wsqteam *team);
/* The quality factor that meets the bit rate, and each subband's bin and zero-bin widths.
 * Returns 0, with qs and zs unchanged, when no subband is left to code. */
WSQ_API double binwidths(real *qs, real *zs, const double *variance, double bitrate);
/* The first coded subband whose bin widths cannot be stored (a width of subbands 0-3 that
 * vanishes, or one that fix24 cannot hold), or -1. */
WSQ_API int unstorable(const real *qs, const real *zs);
/* Quantizes the coded subbands into the three blocks, back to back from out. Returns -1, or
 * the first subband with a coefficient beyond the symbol coder's 65535 bins (then the blocks
 * are incomplete). */
WSQ_API int qntblocks(int32 *out, int32 **qcoefs, ui32 *nqcoefs, void *const *contents,
                      const ui32 *numcoefs, const real *qs, const real *zs, wsqteam *team);
/* The three blocks' symbol streams, back to back from out (3 bytes per integer at most);
 * returns the end. A block without integers has an empty stream. With counts, each block's
 * symbols counted as wsqcsym does, for makedhts. */
WSQ_API ui8 *symblocks(ui8 *out, ui8 **symbols, int *symlen, int32 *const *qcoefs,
                       const ui32 *nqcoefs, wsqteam *team, ui32 (*counts)[256] = nullptr);
/* Table 0 from block 0's symbols, table 1 from blocks 1 and 2 (counted from the streams, or
 * given as symblocks counted them); the table of each block in Th. Returns the number of
 * tables (2). */
WSQ_API int makedhts(ui8 (*dht)[WSQ_DHT_BYTES], int *dhtlen, int *Th, ui8 *const *symbols,
                     const int *symlen, wsqteam *team, const ui32 (*counts)[256] = nullptr);
/* Codes one block's symbols into ecs from its buffer's start; ecs->length becomes the bits
 * written, padding included. */
WSQ_API void ecsblock(bitio *ecs, const ui8 *symbols, int symlen, const ui8 *dht);

/* ---- TIFF ----------------------------------------------------------------
 * Uncompressed 8-bit gray-scale TIFF, big-endian. The writers of its pieces
 * return the bytes they wrote. */

/* An image of height rows of width pixels onto output: header, one directory, its two
 * resolutions (the longer side over 4 inches) and the pixels. Asserts output, input, and
 * width and height above 0. */
WSQ_API void puttiffg(std::FILE *output, const ui8 *input, ui32 height, ui32 width);
/* What puttiffg writes before the pixels, which are then to follow, rows in order. Asserts
 * output, and width and height above 0. */
WSQ_API void puttiffghead(std::FILE *output, ui32 height, ui32 width);
/* The header: "MM", 42 and the offset of the first directory (8 bytes). */
WSQ_API int tiffhdr(std::FILE *out, ui32 offset);
/* A directory's count of entries (2 bytes). */
WSQ_API int tiffifd(std::FILE *out, ui16 entries);
/* A directory entry: tag, type, count and value, a SHORT value in the first 2 bytes of its
 * field, that of a type of no known size 0 (12 bytes). */
WSQ_API int tiffent(std::FILE *out, ui16 tag, ui16 type, ui32 count, ui32 value);
/* The offset of the next directory, 0 for none (4 bytes). */
WSQ_API int tiffnio(std::FILE *out, ui32 offset);
/* A RATIONAL value (8 bytes). */
WSQ_API int tiffrat(std::FILE *out, ui32 numerator, ui32 denominator);
/* The bytes of count values of a type: SHORT 2, LONG 4, RATIONAL 8 each, others 0. */
WSQ_API ui32 tiffsiz(ui16 type, ui32 count);

#endif
