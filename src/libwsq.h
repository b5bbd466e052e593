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
WSQ_API const ui8 *wsqrdqt(real *center, real *qs, real *zs, int blocks, const ui8 *input);

/* ---- Filters ------------------------------------------------------------- */

WSQ_API pqf *makepqf(const char *name, const real *coefs, int alpha, int omega, int type);
/* makepqf, but memory that cannot be had gives a null result instead of the assertion report. */
WSQ_API pqf *trymakepqf(const char *name, const real *coefs, int alpha, int omega, int type);
WSQ_API void *freepqf(void *filter);
WSQ_API void qfcirc(real *fp, const real *f, int alpha, int omega);
WSQ_API void periodize(real *fq, int q, const real *f, int alpha, int omega);
WSQ_API int cdplength(int length, int ftype);
WSQ_API int cpqftype(int type);

/* ---- Hedge --------------------------------------------------------------- */

WSQ_API hedge *makehedge(int blocks, void *const *contents, const ui8 *levels, void *tag);
WSQ_API hedge *freehedge(hedge *in, list2void *freecontents, void2void *freetag);
WSQ_API void *freevoid(void *discard);
/* An image-sized buffer, released with free; null when memory cannot be had.
 * Large ones are asked for in huge pages where the system grants them on
 * request: touching a fresh buffer then costs a fault per 2 MiB instead of
 * one per 4 KiB, which is most of the cost of first touches. */
WSQ_API void *imagebuffer(size_t bytes);
/* The block after the last of the node at `level` whose first block is `block`. */
WSQ_API int hedgeend(const hedge *graph, int level, int block);
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
 * team belongs to the caller, who releases it with freeteam(). */
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
/* cbwp2 and rbwp2 with the rows and columns of each large split shared by a team. cbwp2t
 * makes only the blocks b with wanted[b] nonzero (every block when wanted is null): the
 * others get their places in the hedge and unspecified samples. */
WSQ_API int cbwp2t(hedge *graph, int ix, int iy, int level, int block, real *work,
                   const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY,
                   const ui8 *wanted, wsqteam *team);
WSQ_API int rbwp2t(hedge *graph, int ix, int iy, int level, int block, real *work,
                   const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY, wsqteam *team);

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
/* Copies coded bytes with a 00 byte after every FF (at most 2 * length bytes). */
WSQ_API ui8 *wsqstuff(ui8 *output, const ui8 *input, ui32 length);

/* A Huffman table's decoding tree, with the walk of every window of its first bits. */
enum { WSQ_TREE_SLOTS = 512, WSQ_WINDOW_BITS = 10 };
typedef struct codewalk {
    int tree[WSQ_TREE_SLOTS];
    struct { int node, length; } windows[1 << WSQ_WINDOW_BITS];
} codewalk;
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

/* ---- Encoding stages -----------------------------------------------------
 * The arithmetic of each stage of the encoder, with explicit arguments: the
 * encoder program's stages call them with its state, the library's encoder
 * with its own. Arrays are indexed as in the encoder: xs, ys and contents by
 * hedge block, the others by subband. A team shares the work; null: none. */

/* M (the pixels' mean) and R (the larger distance from it to the darkest or
 * brightest pixel, over 128); R is 0 when every pixel has the same value. */
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
 * returns the end. A block without integers has an empty stream. */
WSQ_API ui8 *symblocks(ui8 *out, ui8 **symbols, int *symlen, int32 *const *qcoefs,
                       const ui32 *nqcoefs, wsqteam *team);
/* Table 0 from block 0's symbols, table 1 from blocks 1 and 2; the table of each block in Th.
 * Returns the number of tables (2). */
WSQ_API int makedhts(ui8 (*dht)[WSQ_DHT_BYTES], int *dhtlen, int *Th, ui8 *const *symbols,
                     const int *symlen, wsqteam *team);
/* Codes one block's symbols into ecs from its buffer's start; ecs->length becomes the bits
 * written, padding included. */
WSQ_API void ecsblock(bitio *ecs, const ui8 *symbols, int symlen, const ui8 *dht);

/* ---- TIFF ---------------------------------------------------------------- */

WSQ_API void puttiffg(std::FILE *output, const ui8 *input, ui32 height, ui32 width);
WSQ_API int tiffhdr(std::FILE *out, ui32 offset);
WSQ_API int tiffifd(std::FILE *out, ui16 entries);
WSQ_API int tiffent(std::FILE *out, ui16 tag, ui16 type, ui32 count, ui32 value);
WSQ_API int tiffnio(std::FILE *out, ui32 offset);
WSQ_API int tiffrat(std::FILE *out, ui32 numerator, ui32 denominator);
WSQ_API ui32 tiffsiz(ui16 type, ui32 count);

#endif
