/* wsq.cpp - the whole-image calls of libwsq (wsq.h): an image in memory to a
 * stream, a stream in memory to its pixels or its facts, errors and release.
 *
 * Built on the format kernels of libwsq.cpp, which end the process on a
 * broken precondition: this layer makes sure none is ever broken. Every
 * length, count and dimension of a stream is validated before it is used,
 * every setting of the encoder before it is applied, and every allocation is
 * checked, so that each call returns a status and never ends the process.
 * Nothing is kept between calls: each call owns what it makes.
 */
#include "libwsq.h"
#include "transaction.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#ifdef WSQ_STAGE_CLOCK
#include "stage_clock.h"
#endif

namespace {

/* Benchmark builds hand the end of each stage of both pipelines, with a view
 * of what the pipeline holds then, to a clock of their own (stage_clock.h);
 * other builds compile these laps to nothing. */
#ifdef WSQ_STAGE_CLOCK
struct stream_decoder;
struct image_encoder;
wsq_stage_view stage_view(const stream_decoder &d);
wsq_stage_view stage_view(const image_encoder &e);
#define STAGE_DONE(stage, state) wsq_stage_done(stage, stage_view(state))
#else
#define STAGE_DONE(stage, state) ((void)0)
#endif

/* ==== Errors ============================================================== */

/* Records a failure in *error (a caller may pass none). */
void describe(wsq_error *error, int status, size_t offset, const char *format, va_list args)
{
    if (!error)
        return;
    error->status = status;
    error->offset = offset;
    std::vsnprintf(error->message, sizeof error->message, format, args);
}

/* Records a failure and returns its status. */
int refuse(wsq_error *error, int status, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    describe(error, status, 0, format, args);
    va_end(args);
    return status;
}

void clear(wsq_error *error)
{
    if (error)
        *error = wsq_error();
}

/* Empties an output of a call before anything can fail: a failed call leaves
 * every output it was given null or 0, whichever argument was wrong. */
template <typename T>
void set_if_given(T *output, T value)
{
    if (output)
        *output = value;
}

/* ==== Options =============================================================
 * The option structures grow at their end (wsq.h, Options). The size of a
 * caller's structure is checked against two ends: that of the fields of
 * version 3, the first with a size field, and that of the fields this
 * library knows. A field appended to a structure moves its `known` end. */

struct options_layout {
    size_t first, known;
};

#define FIELDS_END(type, last) (offsetof(type, last) + sizeof(((type *)nullptr)->last))
constexpr options_layout encode_layout = {FIELDS_END(wsq_encode_options, threads),
                                          FIELDS_END(wsq_encode_options, threads)};
constexpr options_layout decode_layout = {FIELDS_END(wsq_decode_options, threads),
                                          FIELDS_END(wsq_decode_options, reduce)};

/* wsq_*_defaults: the defaults of the fields within the caller's size bytes,
 * zero beyond them, and the size; nothing when the size cannot hold itself. */
void fill_options(void *options, size_t size, const void *defaults, const options_layout &layout)
{
    if (!options || size < sizeof size)
        return;
    std::memset(options, 0, size);
    std::memcpy(options, defaults, std::min(size, layout.known));
    std::memcpy(options, &size, sizeof size);
}

/* The fields of the caller's options that lie within its size, over the
 * defaults at `to`. Refuses a size below version 3's, and bytes set beyond
 * the fields this library knows. */
int take_options(void *to, const void *from, const options_layout &layout, wsq_error *error)
{
    size_t size;
    std::memcpy(&size, from, sizeof size);
    if (size < layout.first)
        return refuse(error, WSQ_ERR_ARGUMENT,
                      "options of %zu bytes: fewer than the %zu of the first version with a size",
                      size, layout.first);
    const ui8 *bytes = (const ui8 *)from;
    if (std::any_of(bytes + std::min(size, layout.known), bytes + size, [](ui8 b) { return b; }))
        return refuse(error, WSQ_ERR_ARGUMENT,
                      "options of %zu bytes set fields beyond the %zu bytes this library knows",
                      size, layout.known);
    std::memcpy((ui8 *)to + sizeof size, bytes + sizeof size,
                std::min(size, layout.known) - sizeof size);
    return WSQ_OK;
}

/* ==== Memory ==============================================================
 * Image-sized buffers come from imagebuffer() and go back with free. */

struct release_buffer {
    void operator()(void *buffer) const { std::free(buffer); }
};
template <typename T>
using owned = std::unique_ptr<T, release_buffer>;

/* ==== Decoding ============================================================
 * Walks one complete stream held in memory and rebuilds the image with the
 * kernels. Untrusted bytes never reach a kernel's precondition: every flaw
 * becomes an error naming what is wrong and the byte offset where it was
 * found. */

/* The second byte of each marker. */
enum : ui8 {
    marker_soi = WSQ_SOI & 0xFF, marker_eoi = WSQ_EOI & 0xFF, marker_sof = WSQ_SOF & 0xFF,
    marker_sob = WSQ_SOB & 0xFF, marker_dtt = WSQ_DTT & 0xFF, marker_dqt = WSQ_DQT & 0xFF,
    marker_dht = WSQ_DHT & 0xFF, marker_dri = WSQ_DRI & 0xFF, marker_com = WSQ_COM & 0xFF,
    marker_rst0 = 0xB0, marker_rst7 = 0xB7
};

/* Body lengths of the fixed-size segments (the length field less its own two bytes). */
enum : size_t { frame_body = 15, block_body = 1, restart_body = 2, dqt_body = 3 + 6 * WSQ_SUBBANDS };

/* Any transform table gives a split the low-pass half ceil(n/2) and the
 * high-pass half floor(n/2): the lengths of these filter types. */
enum { lowpass_type = 2, highpass_type = 3 };

struct segment {
    size_t marker;  /* offset of the marker */
    size_t body;    /* offset of the first byte after the length field */
    size_t length;  /* bytes of the body */
};

/* What a caller wants of a stream: its facts only, its pixels in a new
 * buffer, or its pixels in the caller's buffer of capacity bytes. */
struct decoding_goal {
    enum { facts, new_pixels, caller_pixels } kind;
    ui8 *pixels;       /* the caller's buffer */
    size_t capacity;
    uint32_t comment;  /* the comment whose place is wanted */
    wsq_workspace *workspace = nullptr;  /* the work memory to reuse, if any */
    const wsq_row_sink *sink = nullptr;  /* told of the pixel rows as they are finished */
};

/* A block as read: its coded data without stuffing and restart markers
 * when it is to be decoded (two zero bytes after it, so that a literal field
 * cut by the end reads within the buffer, and is then refused), the ends of
 * its restart intervals, and the tables in effect at its header. */
struct coded_block {
    size_t start;  /* offset of the coded data in the stream */
    ui8 *coded;  /* in the decoder's coded room; null when not decoded */
    std::vector<size_t> interval_ends;
    ui8 table[WSQ_DHT_BYTES];
    real center, qs[WSQ_SUBBANDS], zs[WSQ_SUBBANDS];
    bandcursor bands;  /* where its coefficients go */
    wsq_error failure;
};

/* The block after the last of the low band at depth `depth`, the node that
 * every split's HH child leads to. */
int low_band_end(int depth)
{
    ui8 levels[WSQ_SUBBANDS];
    std::memcpy(levels, wsqlevels, sizeof levels);
    hedge graph = {WSQ_SUBBANDS, nullptr, levels, nullptr};
    return hedgeend(&graph, depth, 0);
}

struct stream_decoder {
    const ui8 *data;
    size_t size;
    size_t max_pixels;
    int threads;  /* asked for; the team is made once the frame is known */
    int depth;    /* of the low band rebuilt: 0 the whole image, 1 to 3 a reduced one */
    decoding_goal goal;
    wsq_info *info;
    wsq_error *error;
    bool want_pixels = goal.kind != decoding_goal::facts;
    int low_end = low_band_end(depth);  /* the low band holds blocks 0 to low_end - 1 */
    segment comment = {};  /* the wanted comment, when found */

    bool have_frame = false;
    pqf *filters[4] = {};  /* H0, H1, F0, F1 */
    segment transform = {};  /* the transform table in effect */
    bool have_dqt = false;
    real center = 0, qs[WSQ_SUBBANDS] = {}, zs[WSQ_SUBBANDS] = {};
    bool have_table[WSQ_MAXDHTS] = {};
    ui8 tables[WSQ_MAXDHTS][WSQ_DHT_BYTES] = {};

    int xs[WSQ_SUBBANDS] = {}, ys[WSQ_SUBBANDS] = {};  /* by hedge block */
    void *contents[WSQ_SUBBANDS] = {};
    /* The two parts of the decoder's own buffer, or of a workspace's: */
    owned<ui8> owned_memory = nullptr;
    owned<ui8> new_pixels = nullptr;  /* for the caller, who asked for new ones */
    real *image = nullptr;  /* the subbands, then the rebuilt samples */
    real *work = nullptr;   /* the synthesis scratch */
    coded_block blocks[WSQ_BLOCKS] = {};
    /* The coded data of the blocks decoded, one after another: no more than
     * the stream's bytes and two a block, taken at the first. */
    ui8 *coded_room = nullptr;  /* the decoder's own, or a workspace's */
    owned<ui8> owned_coded = nullptr;
    size_t coded_used = 0;
    wsqteam *team = nullptr;

    ~stream_decoder()
    {
        for (pqf *&filter : filters)
            filter = (pqf *)freepqf(filter);
        freeteam(team);
    }
};

bool fail(stream_decoder &d, int status, size_t offset, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    describe(d.error, status, offset, format, args);
    va_end(args);
    return false;
}

size_t pixel_count(const stream_decoder &d)
{
    return (size_t)d.info->width * (size_t)d.info->height;
}

/* Lines and samples of the low band rebuilt, and the pixels returned: each
 * split keeps the larger half, ceil(n / 2), so the band at depth d has
 * ceil(n / 2^d) of the image's n. */
int low_rows(const stream_decoder &d)
{
    return WSQ_REDUCED_SIZE(d.info->height, 1 << d.depth);
}

int low_cols(const stream_decoder &d)
{
    return WSQ_REDUCED_SIZE(d.info->width, 1 << d.depth);
}

size_t output_count(const stream_decoder &d)
{
    return (size_t)low_rows(d) * (size_t)low_cols(d);
}

}  // namespace

/* Work memory kept from one decoding to the next, in huge pages: for the
 * image and the synthesis, and for the coded data. */
struct wsq_workspace {
    struct part {
        void *buffer = nullptr;
        size_t bytes = 0;
    } samples, coded;
};

namespace {

/* `bytes` of memory: the workspace part, which grows when it is smaller, or
 * without one a buffer of the decoder's own. */
void *take_memory(wsq_workspace::part *part, owned<ui8> *own, size_t bytes)
{
    if (!part) {
        own->reset((ui8 *)imagebuffer(bytes));
        return own->get();
    }
    if (part->bytes < bytes) {
        std::free(part->buffer);
        part->buffer = hugebuffer(bytes);
        part->bytes = part->buffer ? bytes : 0;
    }
    return part->buffer;
}

/* The image and the synthesis scratch, each of the image's size: a buffer
 * of their own, or the two parts of the goal's workspace, which grows when
 * it is smaller. Memory costs only where it is touched, and the synthesis
 * touches no more of the scratch than it needs (a quarter of it, mostly).
 * And the pixels, when the caller asks for new ones. */
bool take_work_memory(stream_decoder &d)
{
    if (d.goal.kind == decoding_goal::new_pixels) {
        d.new_pixels.reset((ui8 *)imagebuffer(output_count(d)));
        if (!d.new_pixels)
            return false;
    }
    size_t part = (pixel_count(d) * sizeof(real) + 63) & ~(size_t)63;  /* on a cache line */
    void *buffer = take_memory(d.goal.workspace ? &d.goal.workspace->samples : nullptr,
                               &d.owned_memory, 2 * part);
    if (!buffer)
        return false;
    d.image = (real *)buffer;
    d.work = (real *)((ui8 *)buffer + part);
    return true;
}

bool read_segment(stream_decoder &d, size_t marker, segment *s)
{
    size_t at = marker + 2;
    if (d.size - at < 2)
        return fail(d, WSQ_ERR_TRUNCATED, at, "the input ends inside a segment length");
    ui16 length;
    sget2(&length, d.data + at);
    if (length < 2)
        return fail(d, WSQ_ERR_SEGMENT, at, "segment length %u is below 2", length);
    if (d.size - at < length)
        return fail(d, WSQ_ERR_TRUNCATED, at, "a segment of %u bytes runs past the end of the input",
                    length);
    *s = {marker, at + 2, (size_t)length - 2};
    return true;
}

bool expect_length(stream_decoder &d, const segment &s, size_t body, const char *what)
{
    if (s.length == body)
        return true;
    return fail(d, WSQ_ERR_SEGMENT, s.marker + 2, "%s of %zu bytes, expected %zu", what,
                s.length + 2, body + 2);
}

/* Every node of the fixed tree that is split must be at least 2 samples
 * long along both axes, or the synthesis cannot rebuild it. */
bool split_nodes_fit(int ix, int iy, int level, int *block)
{
    if (level == wsqlevels[*block]) {
        ++*block;
        return true;
    }
    if (ix < 2 || iy < 2)
        return false;
    int oxh = cdplength(ix, lowpass_type), oxg = cdplength(ix, highpass_type);
    int oyh = cdplength(iy, lowpass_type), oyg = cdplength(iy, highpass_type);
    return split_nodes_fit(oxh, oyh, level + 1, block) &&
           split_nodes_fit(oxh, oyg, level + 1, block) &&
           split_nodes_fit(oxg, oyh, level + 1, block) &&
           split_nodes_fit(oxg, oyg, level + 1, block);
}

bool read_frame(stream_decoder &d, const segment &s)
{
    if (d.have_frame)
        return fail(d, WSQ_ERR_FRAME, s.marker, "a second frame header");
    if (!expect_length(d, s, frame_body, "frame header"))
        return false;
    const ui8 *p = d.data + s.body;
    wsq_info *info = d.info;
    ui16 height, width, software;
    info->black = p[0];
    info->white = p[1];
    sget2(&height, p + 2);
    sget2(&width, p + 4);
    wsqrmr(p + 6, &info->midpoint, &info->rescale);
    info->encoder = p[12];
    sget2(&software, p + 13);
    info->height = height;
    info->width = width;
    info->software = software;
    if (width == 0 || height == 0)
        return fail(d, WSQ_ERR_FRAME, s.body + 2, "image of %u lines by %u samples is empty",
                    height, width);
    int block = 0;
    if (!split_nodes_fit(height, width, 0, &block))
        return fail(d, WSQ_ERR_FRAME, s.body + 2,
                    "image of %u lines by %u samples is too small for the subband tree", height,
                    width);
    if (pixel_count(d) > d.max_pixels)
        return fail(d, WSQ_ERR_LIMIT, s.body + 2,
                    "image of %u lines by %u samples exceeds the limit of %zu pixels", height,
                    width, d.max_pixels);
    d.have_frame = true;
    if (d.goal.kind == decoding_goal::caller_pixels && d.goal.capacity < output_count(d))
        return fail(d, WSQ_ERR_ARGUMENT, 0,
                    "a buffer of %zu bytes cannot hold the %zu pixels of the image",
                    d.goal.capacity, output_count(d));
    if (!d.want_pixels)
        return true;
    if (!take_work_memory(d))
        return fail(d, WSQ_ERR_MEMORY, s.body + 2,
                    "no memory for an image of %u lines by %u samples", height, width);
    return true;
}

/* Stored taps of a filter of full length L: its centre half. */
size_t stored_taps(int length)
{
    return (size_t)(length + 1) / 2;
}

bool read_transform(stream_decoder &d, const segment &s)
{
    if (s.length < 2)
        return fail(d, WSQ_ERR_SEGMENT, s.marker + 2, "transform table of %zu bytes",
                    s.length + 2);
    const ui8 *p = d.data + s.body;
    int L0 = p[0], L1 = p[1];
    if (L0 < 2 || L1 < 2)
        return fail(d, WSQ_ERR_TRANSFORM, s.body,
                    "filter lengths %d and %d cannot make a filter pair", L0, L1);
    size_t body = 2 + 6 * (stored_taps(L0) + stored_taps(L1));
    if (!expect_length(d, s, body, "transform table"))
        return false;
    /* The blocks read so far were laid out with the filters in effect, and
     * the image is rebuilt with the last ones: they must stay the same. */
    if (d.info->blocks > 0) {
        if (s.length != d.transform.length ||
            std::memcmp(p, d.data + d.transform.body, s.length) != 0)
            return fail(d, WSQ_ERR_TRANSFORM, s.marker,
                        "a transform table after block %d differs from the one in effect",
                        d.info->blocks - 1);
        return true;
    }
    d.transform = s;
    for (pqf *&filter : d.filters)
        filter = (pqf *)freepqf(filter);
    if (!tryrdtt(d.filters, p))
        return fail(d, WSQ_ERR_MEMORY, s.body, "no memory for the transform table's filters");
    d.info->filter_lengths[0] = L0;
    d.info->filter_lengths[1] = L1;
    return true;
}

bool read_quantization(stream_decoder &d, const segment &s)
{
    if (!expect_length(d, s, dqt_body, "quantization table"))
        return false;
    wsqrdqt(&d.center, d.qs, d.zs, WSQ_SUBBANDS, d.data + s.body);
    d.info->center = d.center;
    d.have_dqt = true;
    return true;
}

/* The count bytes must describe a prefix code whose decoding tree fits its
 * slots: no level may hold more codes than it has places. */
bool check_code_lengths(stream_decoder &d, size_t offset, int table, const ui8 *counts)
{
    int longest = WSQ_MAXBITS;
    while (longest > 0 && counts[longest - 1] == 0)
        --longest;
    size_t open = 1, slots = 0;  /* internal nodes of the level above; slots used */
    for (int length = 1; length <= longest; ++length) {
        size_t places = 2 * open;
        if (counts[length - 1] > places)
            return fail(d, WSQ_ERR_HUFFMAN, offset,
                        "Huffman table %d has %d codes of length %d, more than a code tree holds",
                        table, counts[length - 1], length);
        slots += places;
        if (slots > WSQ_TREE_SLOTS)
            return fail(d, WSQ_ERR_HUFFMAN, offset,
                        "Huffman table %d needs more than %d tree slots", table, WSQ_TREE_SLOTS);
        open = places - counts[length - 1];
    }
    return true;
}

bool read_huffman(stream_decoder &d, const segment &s)
{
    if (s.length == 0)
        return fail(d, WSQ_ERR_SEGMENT, s.marker + 2, "Huffman table segment without tables");
    size_t at = s.body, end = s.body + s.length;
    while (at < end) {
        if (end - at < 1 + WSQ_MAXBITS)
            return fail(d, WSQ_ERR_SEGMENT, at, "Huffman table cut short by its segment's end");
        const ui8 *p = d.data + at;
        int table = p[0];
        if (table >= WSQ_MAXDHTS)
            return fail(d, WSQ_ERR_HUFFMAN, at, "Huffman table index %d above %d", table,
                        WSQ_MAXDHTS - 1);
        const ui8 *counts = p + 1;
        if (!check_code_lengths(d, at, table, counts))
            return false;
        size_t values = 0;
        for (int i = 0; i < WSQ_MAXBITS; ++i)
            values += counts[i];
        if (values > 256)
            return fail(d, WSQ_ERR_HUFFMAN, at,
                        "Huffman table %d lists %zu values, more than the 256 symbols", table,
                        values);
        size_t body = WSQ_MAXBITS + values;
        if (end - at - 1 < body)
            return fail(d, WSQ_ERR_SEGMENT, at,
                        "Huffman table %d lists %zu values, its segment holds %zu", table,
                        values, end - at - 1 - WSQ_MAXBITS);
        std::memcpy(d.tables[table], counts, body);
        d.have_table[table] = true;
        d.info->tables |= 1u << table;
        at += 1 + body;
    }
    return true;
}

bool read_restart_interval(stream_decoder &d, const segment &s)
{
    if (!expect_length(d, s, restart_body, "restart interval segment"))
        return false;
    ui16 interval;
    sget2(&interval, d.data + s.body);
    d.info->restart_interval = interval;
    return true;
}

bool is_restart(ui8 code)
{
    return code >= marker_rst0 && code <= marker_rst7;
}

/* Whether subband k lies in the low band rebuilt. */
bool in_low_band(const stream_decoder &d, int k)
{
    return wsqorder[k] < d.low_end;
}

/* Whether block b holds a subband of the low band: the blocks that are not
 * are located and checked as segments, but their coded data is not decoded. */
bool block_needed(const stream_decoder &d, int b)
{
    for (int k = b ? ecsbreak[b - 1] : 0; k < ecsbreak[b]; ++k)
        if (in_low_band(d, k))
            return true;
    return false;
}

/* Finds the end of a block's coded data, the next marker other than a
 * restart, and the ends of its restart intervals; a block to be decoded is
 * copied to the coded room without the 00 stuffed after each FF. */
bool collect_coded_data(stream_decoder &d, int b, size_t *end)
{
    coded_block &block = d.blocks[b];
    ui8 *out = nullptr;
    if (d.want_pixels && block_needed(d, b)) {
        if (!d.coded_room)
            d.coded_room = (ui8 *)take_memory(d.goal.workspace ? &d.goal.workspace->coded : nullptr,
                                              &d.owned_coded, d.size + 2 * WSQ_BLOCKS);
        if (!d.coded_room)
            return fail(d, WSQ_ERR_MEMORY, block.start, "no memory for the coded data of %zu bytes",
                        d.size);
        out = d.coded_room + d.coded_used;
    }
    size_t i = block.start, length = 0;
    for (;;) {
        const ui8 *ff = (const ui8 *)std::memchr(d.data + i, 0xFF, d.size - i);
        size_t plain = (ff ? (size_t)(ff - d.data) : d.size) - i;
        if (out)
            std::memcpy(out + length, d.data + i, plain);
        length += plain;
        i += plain;
        if (d.size - i < 2)
            return fail(d, WSQ_ERR_TRUNCATED, block.start,
                        "block %d runs to the end of the input without a marker", b);
        ui8 code = d.data[i + 1];
        if (code == 0x00) {
            if (out)
                out[length] = 0xFF;
            ++length;
        } else if (is_restart(code)) {
            block.interval_ends.push_back(length);
        } else {
            break;
        }
        i += 2;
    }
    block.interval_ends.push_back(length);
    if (out) {
        out[length] = out[length + 1] = 0;
        block.coded = out;
        d.coded_used += length + 2;
    }
    *end = i;
    return true;
}

bool block_fails(coded_block &block, int status, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    describe(&block.failure, status, block.start, format, args);
    va_end(args);
    return false;
}

size_t subband_coefficients(const stream_decoder &d, int k)
{
    return (size_t)d.xs[wsqorder[k]] * (size_t)d.ys[wsqorder[k]];
}

/* Decodes block b's coefficients, exactly as many as its subbands of
 * non-zero bin width hold, into them. */
bool decode_block(stream_decoder &d, int b)
{
    coded_block &block = d.blocks[b];
    codewalk walk;  /* once for all the block's restart intervals */
    makewalk(&walk, block.table);
    bandcursor &bands = block.bands;
    size_t from = 0, expected = bands.room;
    recsstop stop = RECS_LIMIT;
    for (size_t to : block.interval_ends) {
        if (to - from > UINT32_MAX / 8)
            return block_fails(block, WSQ_ERR_LIMIT, "block %d has a restart interval beyond 512 MB", b);
        bitio stream = {block.coded + from, block.coded + from, 128, 0, 0};
        ui32 limit = (ui32)(to - from) * 8;
        wsqrecsunq(&bands, &stream, limit, &walk, block.table + WSQ_MAXBITS, true, &stop);
        if (stop == RECS_OVERFLOW)
            return block_fails(block, WSQ_ERR_BLOCK,
                               "block %d: a run of zeros goes past its %zu coefficients", b,
                               expected);
        if (stream.nextbit > limit)
            return block_fails(block, WSQ_ERR_BLOCK,
                               "block %d: a literal field is cut by the end of its coded data", b);
        if (stop == RECS_CUT_CODEWORD)
            return block_fails(block, WSQ_ERR_BLOCK,
                               "block %d: a codeword is cut by a restart marker or the end of the "
                               "coded data",
                               b);
        if (bands.room == 0 && limit - stream.nextbit >= 8)
            return block_fails(block, WSQ_ERR_BLOCK,
                               "block %d holds coded data beyond its %zu coefficients", b, expected);
        from = to;
    }
    if (bands.room > 0 && stop == RECS_END_SYMBOL)
        return block_fails(block, WSQ_ERR_BLOCK,
                           "block %d ends at an end-of-data symbol after %zu of its %zu "
                           "coefficients",
                           b, expected - bands.room, expected);
    if (bands.room > 0)
        return block_fails(block, WSQ_ERR_BLOCK,
                           "block %d's coded data ends after %zu of its %zu coefficients", b,
                           expected - bands.room, expected);
    return true;
}

/* Lays the 64 subbands out densely in hedge order and gives each block read
 * its subbands of non-zero bin width to decode into. */
void place_blocks(stream_decoder &d)
{
    xywp2(d.xs, d.ys, d.info->height, d.info->width, wsqlevels, 0, 0, d.filters[0],
          d.filters[1], d.filters[0], d.filters[1]);
    size_t offset = 0;
    for (int block = 0; block < WSQ_SUBBANDS; ++block) {
        d.contents[block] = d.image + offset;
        offset += (size_t)d.xs[block] * d.ys[block];
    }
    for (int b = 0; b < d.info->blocks; ++b) {
        coded_block &block = d.blocks[b];
        startbands(&block.bands, block.center);
        for (int k = b ? ecsbreak[b - 1] : 0; k < ecsbreak[b]; ++k)
            if (block.qs[k] != 0)
                addband(&block.bands, (real *)d.contents[wsqorder[k]],
                        (ui32)subband_coefficients(d, k), block.qs[k], block.zs[k]);
    }
}

/* The work of decoding block b, in about the nanoseconds it takes: for its
 * coefficients, then its coded bytes. */
size_t decoding_work(const stream_decoder &d, int b)
{
    return d.blocks[b].bands.room + 9 * d.info->block_bytes[b];
}

/* Touches a page in every 4 KiB of the bytes at `at`: the system clears
 * fresh memory at its first touch, which this takes ahead of the work. */
void touch_pages(void *at, size_t bytes)
{
    for (size_t i = 0; i < bytes; i += 4096)
        ((volatile ui8 *)at)[i] = 0;
}

/* Decodes the blocks read, side by side, the largest work first: the pieces
 * are taken in order, so that the thread done first takes the next (at
 * 4096x4096, blocks of 9.5, 6.8 and 4.7 ms end at 9.5 and 11.5 ms on two
 * threads, where in stream order they would end at 14.2 and 6.8). A team
 * then has a thread waiting for the others: a last piece touches the memory
 * the synthesis will write first, the scratch's first quarter (where the HH
 * child is rebuilt) and new pixels, which costs the thread done first
 * nothing. The first block that fails, in stream order, gives the error. */
bool decode_blocks(stream_decoder &d)
{
    place_blocks(d);
    int order[WSQ_BLOCKS];
    for (int b = 0; b < d.info->blocks; ++b) {  /* sorted as they come: there are three */
        int at = b;
        for (; at > 0 && decoding_work(d, order[at - 1]) < decoding_work(d, b); --at)
            order[at] = order[at - 1];
        order[at] = b;
    }
    size_t blocks = (size_t)d.info->blocks;
    teamfor(d.team, blocks + (d.team ? 1 : 0), [&](size_t i0, size_t i1) {
        for (size_t i = i0; i < i1; ++i) {
            if (i < blocks) {
                if (block_needed(d, order[i]))
                    decode_block(d, order[i]);
                continue;
            }
            touch_pages(d.work, output_count(d) / 4 * sizeof(real));
            if (d.new_pixels)
                touch_pages(d.new_pixels.get(), output_count(d));
        }
    });
    for (int b = 0; b < d.info->blocks; ++b) {
        if (d.blocks[b].failure.status != WSQ_OK) {
            *d.error = d.blocks[b].failure;
            return false;
        }
    }
    STAGE_DONE("entropy", d);
    return true;
}

bool read_block(stream_decoder &d, const segment &s, size_t *next)
{
    if (!expect_length(d, s, block_body, "block header"))
        return false;
    wsq_info *info = d.info;
    int b = info->blocks;
    if (b == WSQ_BLOCKS)
        return fail(d, WSQ_ERR_BLOCK, s.marker, "more than %d entropy-coded blocks", WSQ_BLOCKS);
    if (!d.have_frame)
        return fail(d, WSQ_ERR_FRAME, s.marker, "block %d comes before the frame header", b);
    if (!d.filters[0])
        return fail(d, WSQ_ERR_TRANSFORM, s.marker, "block %d comes before the transform table",
                    b);
    if (!d.have_dqt)
        return fail(d, WSQ_ERR_QUANTIZATION, s.marker,
                    "block %d comes before the quantization table", b);
    int table = d.data[s.body];
    if (table >= WSQ_MAXDHTS || !d.have_table[table])
        return fail(d, WSQ_ERR_HUFFMAN, s.body, "block %d names Huffman table %d, never defined",
                    b, table);
    info->block_table[b] = table;
    coded_block &block = d.blocks[b];
    block.start = s.body + block_body;
    if (!collect_coded_data(d, b, next))
        return false;
    info->block_bytes[b] = *next - block.start;
    std::memcpy(block.table, d.tables[table], sizeof block.table);
    block.center = d.center;
    std::memcpy(block.qs, d.qs, sizeof block.qs);
    std::memcpy(block.zs, d.zs, sizeof block.zs);
    info->blocks = b + 1;
    return true;
}

bool read_table_segment(stream_decoder &d, const segment &s, ui8 code)
{
    switch (code) {
    case marker_sof: return read_frame(d, s);
    case marker_dtt: return read_transform(d, s);
    case marker_dqt: return read_quantization(d, s);
    case marker_dht: return read_huffman(d, s);
    case marker_dri: return read_restart_interval(d, s);
    default:
        if (d.info->comments++ == d.goal.comment)
            d.comment = s;
        return true;
    }
}

/* Reads segments from just after SOI up to and including EOI. */
bool read_segments(stream_decoder &d, size_t *eoi_end)
{
    size_t pos = 2;
    for (;;) {
        if (d.size - pos < 2)
            return fail(d, WSQ_ERR_TRUNCATED, pos, "the stream ends before End-Of-Image");
        if (d.data[pos] != 0xFF)
            return fail(d, WSQ_ERR_MARKER, pos, "byte %02X where a marker belongs", d.data[pos]);
        ui8 code = d.data[pos + 1];
        if (code == marker_eoi) {
            *eoi_end = pos + 2;
            return true;
        }
        bool known = code == marker_sob || code == marker_sof || code == marker_dtt ||
                     code == marker_dqt || code == marker_dht || code == marker_dri ||
                     code == marker_com;
        if (!known)
            return fail(d, WSQ_ERR_MARKER, pos, "marker FF %02X does not belong here", code);
        segment s;
        if (!read_segment(d, pos, &s))
            return false;
        if (code == marker_sob) {
            if (!read_block(d, s, &pos))
                return false;
        } else {
            if (!read_table_segment(d, s, code))
                return false;
            pos = s.body + s.length;
        }
    }
}

/* R of the pixels of the low band: the frame's, divided by the gain that
 * the analysis gave the band, the squared sum of the low-pass filter's taps
 * at each level (2 for the format's filters; 1 for the whole image). */
real low_band_rescale(const stream_decoder &d)
{
    const pqf *low = d.filters[0];
    double sum = 0;
    for (int i = low->alpha; i <= low->omega; ++i)
        sum += low->f[i];
    return (real)(d.info->rescale / std::pow(sum * sum, d.depth));
}

/* The synthesis, whose last merge makes the pixels: to the caller's buffer,
 * or to the new one. The subbands of bin width 0 hold no coefficients: they
 * are zeros, which the synthesis fills where it reads them. */
void rebuild_image(stream_decoder &d, ui8 **pixels)
{
    bool zeros[WSQ_SUBBANDS] = {};
    for (int b = 0; b < d.info->blocks; ++b)
        for (int k = b ? ecsbreak[b - 1] : 0; k < ecsbreak[b]; ++k)
            zeros[wsqorder[k]] = d.blocks[b].qs[k] == 0;
    ui8 levels[WSQ_SUBBANDS];
    std::memcpy(levels, wsqlevels, sizeof levels);
    hedge graph = {WSQ_SUBBANDS, d.contents, levels, nullptr};
    bool given = d.goal.kind == decoding_goal::caller_pixels;
    const pqf *h = d.filters[2], *g = d.filters[3];
    rbwp2b(&graph, low_rows(d), low_cols(d), d.depth, 0, d.work, h, g, h, g, d.team,
           given ? d.goal.pixels : d.new_pixels.get(), d.info->midpoint, low_band_rescale(d),
           d.goal.sink, zeros);
    STAGE_DONE("synthesis", d);
    if (!given)
        *pixels = d.new_pixels.release();
}

bool decode_stream(stream_decoder &d, ui8 **pixels)
{
    if (d.size == 0)
        return fail(d, WSQ_ERR_NOT_WSQ, 0, "the input is empty");
    if (d.size < 2 || d.data[0] != 0xFF || d.data[1] != marker_soi)
        return fail(d, WSQ_ERR_NOT_WSQ, 0, "no Start-Of-Image marker at the start");
    size_t end = 0;
    bool read = read_segments(d, &end);
    if (d.want_pixels && d.have_frame)
        d.team = maketeam(d.threads, output_count(d));
    STAGE_DONE("parse", d);
    /* The blocks read come before any flaw found after them: as when each
     * is decoded in turn, a flaw of theirs is the one reported. */
    if (d.want_pixels && d.info->blocks > 0 && !decode_blocks(d))
        return false;
    if (!read)
        return false;
    if (!d.have_frame)
        return fail(d, WSQ_ERR_FRAME, end - 2, "the stream has no frame header");
    if (d.info->blocks < WSQ_BLOCKS)
        return fail(d, WSQ_ERR_BLOCK, end - 2, "the stream holds %d of its %d blocks",
                    d.info->blocks, WSQ_BLOCKS);
    bool another = d.size - end >= 2 && d.data[end] == 0xFF && d.data[end + 1] == marker_soi;
    if (end < d.size && !another)
        return fail(d, WSQ_ERR_TRAILING, end, "%zu bytes after End-Of-Image", d.size - end);
    d.info->stream_bytes = end;
    if (d.want_pixels)
        rebuild_image(d, pixels);
    return true;
}


/* The levels of synthesis that reduce leaves out (its base-2 logarithm), or
 * -1 for a reduce other than 1, 2, 4 and 8. */
int reduction_depth(int32_t reduce)
{
    for (int depth = 0; depth <= 3; ++depth)
        if (reduce == 1 << depth)
            return depth;
    return -1;
}

/* Whether the decoder left the coded data of a block it read undecoded:
 * reading facts only, or a preview that does not need the block. */
bool skipped_a_block(const stream_decoder &d)
{
    for (int b = 0; b < d.info->blocks; ++b)
        if (!d.want_pixels || !block_needed(d, b))
            return true;
    return false;
}

bool is_stream_flaw(int status)
{
    return status >= WSQ_ERR_NOT_WSQ && status <= WSQ_ERR_LIMIT;
}

/* The flaw a whole decoding reports, for a stream that a call which skips
 * coded data refused after such a block: one of the blocks before the flaw
 * found may hold an earlier one, and every call reports the first (wsq.h,
 * Verdicts). Memory that cannot be had leaves the flaw found. */
void judge_as_whole(const stream_decoder &skipping, wsq_error *error)
{
    wsq_info info = {};
    wsq_error whole = {};
    ui8 *pixels = nullptr;
    stream_decoder d{skipping.data, skipping.size, skipping.max_pixels, skipping.threads, 0,
                     {decoding_goal::new_pixels, nullptr, 0, UINT32_MAX}, &info, &whole};
    try {
        if (!decode_stream(d, &pixels) && is_stream_flaw(whole.status))
            *error = whole;
    } catch (const std::bad_alloc &) {
    }
    std::free(pixels);
}

/* Decodes the stream at data[0] for goal; the one path of every decoding
 * call. *comment receives the place of the comment the goal names. */
int decode(ui8 **pixels, wsq_info *info, wsq_error *error, const ui8 *data, size_t size,
           const wsq_decode_options *options, decoding_goal goal, segment *comment = nullptr)
{
    wsq_error local;
    if (!error)
        error = &local;
    *error = wsq_error();
    if (!info || (!data && size > 0))
        return refuse(error, WSQ_ERR_ARGUMENT, "a null info or data pointer");
    *info = wsq_info();
    wsq_decode_options settings;
    wsq_decode_defaults(&settings);
    if (options && take_options(&settings, options, decode_layout, error) != WSQ_OK)
        return error->status;
    if (settings.threads < 0 || settings.threads > WSQ_MAX_THREADS)
        return refuse(error, WSQ_ERR_ARGUMENT, "%d threads: give 0 (one per core) to %d",
                      settings.threads, WSQ_MAX_THREADS);
    int depth = reduction_depth(settings.reduce);
    if (depth < 0)
        return refuse(error, WSQ_ERR_ARGUMENT, "reduce %d: give 1, 2, 4 or 8", settings.reduce);
    stream_decoder d{data, size, settings.max_pixels, settings.threads, depth, goal, info, error};
    try {
        if (decode_stream(d, pixels)) {
            if (comment)
                *comment = d.comment;
            return WSQ_OK;
        }
        if (is_stream_flaw(error->status) && skipped_a_block(d))
            judge_as_whole(d, error);
    } catch (const std::bad_alloc &) {
        fail(d, WSQ_ERR_MEMORY, 0, "out of memory while reading the stream");
    }
    return error->status;
}

/* wsq_decode_into(), its work memory from workspace if there is one, its
 * rows handed to sink if there is one. */
int decode_into(wsq_workspace *workspace, uint8_t *pixels, size_t capacity, wsq_info *info,
                wsq_error *error, const uint8_t *data, size_t size,
                const wsq_decode_options *options, const wsq_row_sink *sink = nullptr)
{
    if (!pixels) {
        clear(error);
        return refuse(error, WSQ_ERR_ARGUMENT, "a null pixels pointer");
    }
    return decode(nullptr, info, error, data, size, options,
                  {decoding_goal::caller_pixels, pixels, capacity, UINT32_MAX, workspace, sink});
}

/* ==== Encoding ============================================================
 * The encoder's pipeline over an image in memory: stage for stage the one of
 * the encoder program, with the same kernels, so that both write the same
 * bytes. Its memory is that program's: 4 bytes per pixel for the samples,
 * the subbands and then the coded blocks, 4 for the transform's scratch and
 * then the quantized integers, 3 for the symbols; and the stream. */

struct image_encoder {
    image_encoder(const ui8 *pixels_, int rows_, int cols_, const wsq_encode_options *settings,
                  wsq_error *error_)
        : pixels(pixels_), rows(rows_), cols(cols_), given(settings), error(error_)
    {
        wsq_encode_defaults(&options);
    }

    const ui8 *pixels;
    int rows, cols;
    const wsq_encode_options *given;  /* the caller's options, or null */
    wsq_encode_options options;       /* what of them this library reads, over the defaults */
    wsq_error *error;

    pqf *h0qf = nullptr, *h1qf = nullptr;
    wsqteam *team = nullptr;
    owned<real> words0;   /* samples, subbands, then the coded blocks */
    owned<int32> words1;  /* transform scratch, then the quantized integers */
    owned<ui8> symbytes;  /* the three symbol streams */

    real midpoint = 0, rescale = 0;
    void *contents[WSQ_SUBBANDS] = {};
    int xs[WSQ_SUBBANDS] = {}, ys[WSQ_SUBBANDS] = {};
    ui32 numcoefs[WSQ_SUBBANDS] = {};
    double variance[WSQ_SUBBANDS] = {};
    double quality = 0;
    real qs[WSQ_SUBBANDS] = {}, zs[WSQ_SUBBANDS] = {};
    int32 *qcoefs[WSQ_BLOCKS] = {};
    ui32 nqcoefs[WSQ_BLOCKS] = {};
    ui8 *symbols[WSQ_BLOCKS] = {};
    int symlen[WSQ_BLOCKS] = {};
    ui8 dht[WSQ_MAXDHTS][WSQ_DHT_BYTES] = {};
    int dhtlen[WSQ_MAXDHTS] = {};
    int numdhts = 0;
    int Th[WSQ_BLOCKS] = {};
    const ui8 *coded[WSQ_BLOCKS] = {};  /* each block's coded bytes in words0 */
    ui32 codedlen[WSQ_BLOCKS] = {};

    ~image_encoder()
    {
        freepqf(h0qf);
        freepqf(h1qf);
        freeteam(team);
    }

    size_t pixel_count() const { return (size_t)rows * (size_t)cols; }
};

int check_settings(const image_encoder &e, size_t pixels_size)
{
    const wsq_encode_options &o = e.options;
    if (e.rows < 32 || e.rows > 32767 || e.cols < 32 || e.cols > 32767)
        return refuse(e.error, WSQ_ERR_ARGUMENT,
                      "image of %d lines by %d samples: width and height must be 32 to 32767",
                      e.rows, e.cols);
    if (pixels_size < e.pixel_count())
        return refuse(e.error, WSQ_ERR_ARGUMENT,
                      "a buffer of %zu bytes holds fewer than the %zu pixels of the image",
                      pixels_size, e.pixel_count());
    if (o.black < 0 || o.black > 255 || o.white < 0 || o.white > 255)
        return refuse(e.error, WSQ_ERR_ARGUMENT,
                      "scanner calibrations A=%d and B=%d: each must be 0 to 255", o.black,
                      o.white);
    if (o.comment && std::strlen(o.comment) > WSQ_COMMENT_MAX)
        return refuse(e.error, WSQ_ERR_ARGUMENT, "comment longer than %zu bytes",
                      WSQ_COMMENT_MAX);
    if (o.threads < 0 || o.threads > WSQ_MAX_THREADS)
        return refuse(e.error, WSQ_ERR_ARGUMENT, "%d threads: give 0 (one per core) to %d",
                      o.threads, WSQ_MAX_THREADS);
    if (!std::isfinite(o.bitrate))
        return refuse(e.error, WSQ_ERR_BITRATE,
                      "bit rate %g out of range: no usable quality factor", o.bitrate);
    return WSQ_OK;
}

/* The filters and the work buffers; an image too small for the bit
 * allocation is refused before any image-sized memory is taken. */
int prepare(image_encoder &e)
{
    e.h0qf = trymakepqf("WSQ h0 H", WSQh0hbqf, -4, 4, 2);
    e.h1qf = trymakepqf("WSQ h1 G", WSQh1gbqf, -4, 2, 3);
    if (!e.h0qf || !e.h1qf)
        return refuse(e.error, WSQ_ERR_MEMORY, "no memory for the filters");
    if (!measurable(e.rows, e.cols, e.h0qf, e.h1qf))
        return refuse(e.error, WSQ_ERR_IMAGE,
                      "image of %d lines by %d samples too small for the subband variances",
                      e.rows, e.cols);
    size_t n = e.pixel_count();
    e.words0.reset((real *)imagebuffer(n * sizeof(real)));
    e.words1.reset((int32 *)imagebuffer(n * sizeof(int32)));
    e.symbytes.reset((ui8 *)std::malloc(n * 3));  /* 4 KiB pages: the symbols touch few */
    if (!e.words0 || !e.words1 || !e.symbytes)
        return refuse(e.error, WSQ_ERR_MEMORY,
                      "no memory for an image of %d lines by %d samples", e.rows, e.cols);
    e.team = maketeam(e.options.threads, n);
    return WSQ_OK;
}

/* Samples, the 64 subbands and the variances of their central regions. */
int analyse(image_encoder &e)
{
    ui32 n = (ui32)e.pixel_count();
    pixelmr(&e.midpoint, &e.rescale, e.pixels, n, e.team);
    if (e.rescale == 0)
        return refuse(e.error, WSQ_ERR_IMAGE,
                      "every pixel has the value %d, nothing to compress", (int)e.midpoint);
    teamfor(e.team, n, [&](size_t begin, size_t end) {
        wsqb2r(e.words0.get() + begin, e.pixels + begin, (ui32)(end - begin), e.midpoint,
               e.rescale);
    });
    STAGE_DONE("normalise", e);
    ui8 levels[WSQ_SUBBANDS];
    std::memcpy(levels, wsqlevels, sizeof levels);
    e.contents[0] = e.words0.get();
    hedge graph = {WSQ_SUBBANDS, e.contents, levels, nullptr};
    cbwp2t(&graph, e.rows, e.cols, 0, 0, (real *)e.words1.get(), e.h0qf, e.h1qf, e.h0qf,
           e.h1qf, wsqcoded.data(), e.team);
    STAGE_DONE("transform", e);
    subbandsizes(e.xs, e.ys, e.numcoefs, e.rows, e.cols, e.h0qf, e.h1qf);
    subbandvars(e.variance, e.contents, e.xs, e.ys, e.team);
    STAGE_DONE("variances", e);
    return WSQ_OK;
}

/* The bin widths that meet the bit rate, and only storable ones. */
int allocate_bits(image_encoder &e)
{
    double bitrate = e.options.bitrate;
    e.quality = binwidths(e.qs, e.zs, e.variance, bitrate);
    if (e.quality == 0)
        return refuse(e.error, WSQ_ERR_BITRATE,
                      "bit rate %g leaves no active subbands after wavelet packet transform",
                      bitrate);
    if (!(std::isfinite(e.quality) && e.quality > 0))
        return refuse(e.error, WSQ_ERR_BITRATE,
                      "bit rate %g out of range: no usable quality factor", bitrate);
    int k = unstorable(e.qs, e.zs);
    if (k >= 0)
        return refuse(e.error, WSQ_ERR_BITRATE,
                      "bit rate %g out of range: bin width of subband %d not storable", bitrate,
                      k);
    STAGE_DONE("quality", e);
    return WSQ_OK;
}

/* The three blocks: integers, symbols, tables and coded bytes. */
int code_blocks(image_encoder &e)
{
    int k = qntblocks(e.words1.get(), e.qcoefs, e.nqcoefs, e.contents, e.numcoefs, e.qs, e.zs,
                      e.team);
    if (k >= 0)
        return refuse(e.error, WSQ_ERR_BITRATE,
                      "bit rate %g too high: a coefficient of subband %d needs more than "
                      "65535 bins",
                      e.options.bitrate, k);
    STAGE_DONE("quantize", e);
    ui32 counts[WSQ_BLOCKS][256];
    symblocks(e.symbytes.get(), e.symbols, e.symlen, e.qcoefs, e.nqcoefs, e.team, counts);
    STAGE_DONE("symbols", e);
    e.numdhts = makedhts(e.dht, e.dhtlen, e.Th, e.symbols, e.symlen, e.team, counts);
    STAGE_DONE("tables", e);
    /* The subbands are quantized: the blocks' coded bytes go where they were,
     * each block at 4 bytes per integer before it (a block codes to at most 4
     * bytes per integer and a byte of padding; 3 integers per 4 pixels). */
    teamfor(e.team, WSQ_BLOCKS, [&](size_t b0, size_t b1) {
        for (size_t b = b0; b < b1; ++b) {
            ui8 *at = (ui8 *)e.words0.get() + 4 * (size_t)(e.qcoefs[b] - e.qcoefs[0]) + b;
            bitio ecs = {at, at, 128, 0, 0};
            ecsblock(&ecs, e.symbols[b], e.symlen[b], e.dht[e.Th[b]]);
            e.coded[b] = at;
            e.codedlen[b] = ecs.length / 8;
        }
    });
    STAGE_DONE("entropy", e);
    return WSQ_OK;
}

/* Bytes of a block's coded data once every FF is followed by 00. */
size_t stuffed_length(const ui8 *coded, ui32 length)
{
    return length + (size_t)std::count(coded, coded + length, 0xFF);
}

ui8 *put_segment(ui8 *out, ui16 marker, const void *body, size_t length)
{
    out = wsqwhead(out, marker, (ui32)length);
    std::memcpy(out, body, length);
    return out + length;
}

/* The stream, in the order the encoder program writes it. */
int write_stream(image_encoder &e, ui8 **stream, size_t *stream_size)
{
    ui8 dtt[3074], sof[15], dqt[3 + 6 * WSQ_SUBBANDS];
    ui8 dhts[WSQ_MAXDHTS * (1 + WSQ_DHT_BYTES)];
    size_t dttlen = (size_t)(wsqwdtt(dtt, e.h0qf, e.h1qf) - dtt);
    wsqwsof(sof, e.options.black, e.options.white, e.rows, e.cols, e.midpoint, e.rescale);
    wsqwdqt(dqt, (real)WSQ_CENTER, e.qs, e.zs, WSQ_SUBBANDS);
    size_t dhtslen = (size_t)(wsqwdht(dhts, e.dht, e.dhtlen, e.numdhts) - dhts);
    const char *comment = e.options.comment;
    size_t commentlen = comment ? std::strlen(comment) : 0;

    size_t size = 2 + (comment ? 4 + commentlen : 0) + 4 + dttlen + 4 + sizeof sof + 4 +
                  sizeof dqt + 4 + dhtslen + 2;
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        size += 5 + stuffed_length(e.coded[b], e.codedlen[b]);
    ui8 *out = (ui8 *)std::malloc(size);
    if (!out)
        return refuse(e.error, WSQ_ERR_MEMORY, "no memory for a stream of %zu bytes", size);
    ui8 *at = sput2(out, WSQ_SOI);
    if (comment)
        at = put_segment(at, WSQ_COM, comment, commentlen);
    at = put_segment(at, WSQ_DTT, dtt, dttlen);
    at = put_segment(at, WSQ_SOF, sof, sizeof sof);
    at = put_segment(at, WSQ_DQT, dqt, sizeof dqt);
    at = put_segment(at, WSQ_DHT, dhts, dhtslen);
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        ui8 table = (ui8)e.Th[b];
        at = put_segment(at, WSQ_SOB, &table, 1);
        at = wsqstuff(at, e.coded[b], e.codedlen[b]);
    }
    sput2(at, WSQ_EOI);
    *stream = out;
    *stream_size = size;
    STAGE_DONE("output", e);
    return WSQ_OK;
}

int encode(image_encoder &e, ui8 **stream, size_t *stream_size, size_t pixels_size)
{
    int status = e.given ? take_options(&e.options, e.given, encode_layout, e.error) : WSQ_OK;
    if (status == WSQ_OK)
        status = check_settings(e, pixels_size);
    if (status == WSQ_OK)
        status = prepare(e);
    if (status == WSQ_OK)
        status = analyse(e);
    if (status == WSQ_OK)
        status = allocate_bits(e);
    if (status == WSQ_OK)
        status = code_blocks(e);
    if (status == WSQ_OK)
        status = write_stream(e, stream, stream_size);
    return status;
}

#ifdef WSQ_STAGE_CLOCK
wsq_stage_view stage_view(const stream_decoder &d)
{
    wsq_stage_view v = {};
    v.width = d.info->width;
    v.height = d.info->height;
    v.midpoint = d.info->midpoint;
    v.rescale = d.info->rescale;
    std::copy(d.filters, d.filters + 4, v.filters);
    v.image = d.image;
    v.contents = d.contents;
    v.xs = d.xs;
    v.ys = d.ys;
    v.center = d.center;
    v.qs = d.qs;
    v.zs = d.zs;
    v.tables = d.tables;
    v.table_of_block = d.info->block_table;
    for (int b = 0; b < d.info->blocks; ++b) {
        const coded_block &block = d.blocks[b];
        v.coded[b] = block.coded;
        v.coded_bytes[b] = block.interval_ends.empty() ? 0 : block.interval_ends.back();
    }
    return v;
}

wsq_stage_view stage_view(const image_encoder &e)
{
    wsq_stage_view v = {};
    v.width = e.cols;
    v.height = e.rows;
    v.midpoint = e.midpoint;
    v.rescale = e.rescale;
    v.filters[0] = e.h0qf;
    v.filters[1] = e.h1qf;
    v.image = e.words0.get();
    v.contents = e.contents;
    v.xs = e.xs;
    v.ys = e.ys;
    v.numcoefs = e.numcoefs;
    v.variance = e.variance;
    v.qs = e.qs;
    v.zs = e.zs;
    v.tables = e.dht;
    v.table_of_block = e.Th;
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        v.integers[b] = e.qcoefs[b];
        v.integer_count[b] = e.nqcoefs[b];
        v.symbols[b] = e.symbols[b];
        v.symbol_count[b] = (size_t)e.symlen[b];
        v.coded[b] = e.coded[b];
        v.coded_bytes[b] = e.codedlen[b];
    }
    return v;
}
#endif

}  // namespace

/* ==== The C interface ===================================================== */

extern "C" {

const char *wsq_strerror(int status)
{
    switch (status) {
    case WSQ_OK: return "success";
    case WSQ_ERR_NOT_WSQ: return "not a WSQ stream";
    case WSQ_ERR_TRUNCATED: return "truncated stream";
    case WSQ_ERR_MARKER: return "misplaced or unknown marker";
    case WSQ_ERR_SEGMENT: return "bad segment length";
    case WSQ_ERR_FRAME: return "bad frame header";
    case WSQ_ERR_TRANSFORM: return "bad transform table";
    case WSQ_ERR_QUANTIZATION: return "bad quantization table";
    case WSQ_ERR_HUFFMAN: return "bad Huffman table";
    case WSQ_ERR_BLOCK: return "bad entropy-coded block";
    case WSQ_ERR_TRAILING: return "trailing garbage";
    case WSQ_ERR_LIMIT: return "beyond the decoder's limits";
    case WSQ_ERR_MEMORY: return "out of memory";
    case WSQ_ERR_ARGUMENT: return "bad argument";
    case WSQ_ERR_IMAGE: return "image cannot be coded";
    case WSQ_ERR_BITRATE: return "bit rate cannot be honoured";
    case WSQ_ERR_TX_BAD_TAG: return "bad-tag";
    case WSQ_ERR_TX_LEN_NOT_FIRST: return "len-not-first";
    case WSQ_ERR_TX_LEN_NOT_NUMERIC: return "len-not-numeric";
    case WSQ_ERR_TX_LEN_PAST_END: return "len-past-end";
    case WSQ_ERR_TX_FS_MISSING: return "fs-missing";
    case WSQ_ERR_TX_LEN_MISMATCH: return "len-mismatch";
    case WSQ_ERR_TX_BINARY_LEN_SHORT: return "binary-len-short";
    case WSQ_ERR_TX_CNT_MALFORMED: return "cnt-malformed";
    case WSQ_ERR_TX_CNT_COUNT: return "cnt-count";
    case WSQ_ERR_TX_TRAILING_BYTES: return "trailing-bytes";
    case WSQ_ERR_TX_CNT_MISMATCH: return "cnt-mismatch";
    case WSQ_ERR_TX_IDC_DUPLICATE: return "idc-duplicate";
    case WSQ_ERR_TX_MANDATORY_MISSING: return "mandatory-missing";
    case WSQ_ERR_TX_CGA_UNKNOWN: return "cga-unknown";
    case WSQ_ERR_TX_HLL_VLL_MISMATCH: return "hll-vll-mismatch";
    case WSQ_ERR_TX_WSQ_BAD: return "wsq-bad";
    case WSQ_ERR_TX_RAW_SIZE_MISMATCH: return "raw-size-mismatch";
    case WSQ_ERR_TX_BAD_VALUE: return "bad-value";
    default: return "unknown status";
    }
}

void (wsq_encode_defaults)(wsq_encode_options *options, size_t size)
{
    const wsq_encode_options defaults = {sizeof defaults, 0.75, 0, 255, nullptr, 1};
    fill_options(options, size, &defaults, encode_layout);
}

int wsq_encode(uint8_t **stream, size_t *stream_size, wsq_error *error, const uint8_t *pixels,
               size_t pixels_size, int32_t width, int32_t height,
               const wsq_encode_options *options)
{
    clear(error);
    set_if_given(stream, (uint8_t *)nullptr);
    set_if_given(stream_size, (size_t)0);
    if (!stream || !stream_size || !pixels)
        return refuse(error, WSQ_ERR_ARGUMENT, "a null stream, size or pixels pointer");
    image_encoder e(pixels, height, width, options, error);
    try {
        return encode(e, stream, stream_size, pixels_size);
    } catch (const std::bad_alloc &) {
        return refuse(error, WSQ_ERR_MEMORY, "out of memory");
    }
}

void (wsq_decode_defaults)(wsq_decode_options *options, size_t size)
{
    const wsq_decode_options defaults = {sizeof defaults, WSQ_DEFAULT_MAX_PIXELS, 1, 1};
    fill_options(options, size, &defaults, decode_layout);
}

int wsq_decode(uint8_t **pixels, wsq_info *info, wsq_error *error, const uint8_t *data,
               size_t size, const wsq_decode_options *options)
{
    if (!pixels) {
        clear(error);
        return refuse(error, WSQ_ERR_ARGUMENT, "a null pixels pointer");
    }
    *pixels = nullptr;
    return decode(pixels, info, error, data, size, options,
                  {decoding_goal::new_pixels, nullptr, 0, UINT32_MAX});
}

int wsq_decode_into(uint8_t *pixels, size_t capacity, wsq_info *info, wsq_error *error,
                    const uint8_t *data, size_t size, const wsq_decode_options *options)
{
    return decode_into(nullptr, pixels, capacity, info, error, data, size, options);
}

wsq_workspace *wsq_workspace_new(void)
{
    return new (std::nothrow) wsq_workspace;
}

void wsq_workspace_free(wsq_workspace *workspace)
{
    if (workspace) {
        std::free(workspace->samples.buffer);
        std::free(workspace->coded.buffer);
    }
    delete workspace;
}

int wsq_decode_into_reusing(wsq_workspace *workspace, uint8_t *pixels, size_t capacity,
                            wsq_info *info, wsq_error *error, const uint8_t *data, size_t size,
                            const wsq_decode_options *options)
{
    if (!workspace) {
        clear(error);
        return refuse(error, WSQ_ERR_ARGUMENT, "a null workspace pointer");
    }
    return decode_into(workspace, pixels, capacity, info, error, data, size, options);
}

int wsq_read_info(wsq_info *info, wsq_error *error, const uint8_t *data, size_t size)
{
    return decode(nullptr, info, error, data, size, nullptr,
                  {decoding_goal::facts, nullptr, 0, UINT32_MAX});
}

int wsq_comment(const uint8_t **text, size_t *length, wsq_error *error, const uint8_t *data,
                size_t size, uint32_t index)
{
    set_if_given(text, (const uint8_t *)nullptr);
    set_if_given(length, (size_t)0);
    if (!text || !length) {
        clear(error);
        return refuse(error, WSQ_ERR_ARGUMENT, "a null text or length pointer");
    }
    wsq_info info;
    segment found;
    int status = decode(nullptr, &info, error, data, size, nullptr,
                        {decoding_goal::facts, nullptr, 0, index}, &found);
    if (status != WSQ_OK)
        return status;
    if (index >= info.comments)
        return refuse(error, WSQ_ERR_ARGUMENT, "comment %u asked of a stream of %u comments",
                      index, info.comments);
    *text = data + found.body;
    *length = found.length;
    return WSQ_OK;
}

int wsq_gray_from_color(uint8_t *gray, const uint8_t *color, size_t count, int32_t channels)
{
    if ((count > 0 && (!gray || !color)) || (channels != 3 && channels != 4))
        return WSQ_ERR_ARGUMENT;
    for (size_t i = 0; i < count; ++i, color += channels)
        gray[i] = (uint8_t)((19595u * color[0] + 38470u * color[1] + 7471u * color[2] + 32768u) >> 16);
    return WSQ_OK;
}

void wsq_free(void *buffer)
{
    std::free(buffer);
}

const char *wsq_version(void)
{
    return WSQ_VERSION_STRING;
}

}  // extern "C"

int decoderows(wsq_workspace *workspace, uint8_t *pixels, size_t capacity, wsq_info *info,
               wsq_error *error, const uint8_t *data, size_t size,
               const wsq_decode_options *options, const wsq_row_sink *sink)
{
    return decode_into(workspace, pixels, capacity, info, error, data, size, options, sink);
}
