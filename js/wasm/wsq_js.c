/* wsq_js.c - the calls the JavaScript package makes into libwsq compiled to WebAssembly.
 *
 * Every argument is a scalar or a pointer into the module's memory: the options are filled by
 * wsq_encode_defaults() and wsq_decode_defaults() and set field by field here, so that the
 * JavaScript side never depends on the layout of a structure. Each call leaves its outcome in
 * one result record, read back through the accessors below: the status, the error's offset and
 * message, a buffer (owned, or a view into the caller's data), the dimensions of decoded pixels
 * and the stream's facts as JSON. The transaction calls read the transaction anew from the
 * bytes they are given each time, so that nothing is held between calls.
 * The module runs one call at a time, so one record serves them all; each call first releases
 * what the previous one left.
 */
#include "transaction.h"

#include <malloc.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static struct {
    wsq_error error;
    uint8_t *owned;      /* a buffer of the library's, released by the next call */
    char *text;          /* text of this file's allocation, released by the next call */
    const uint8_t *data; /* the result's bytes: owned, text, or inside the caller's input */
    size_t size;
    int32_t width, height; /* of the decoded pixels: the stream's, or reduced */
    char facts[768];     /* the stream's facts as one JSON object */
} result;

/* Releases the previous result and clears the record for a new call. */
static void begin(void)
{
    wsq_free(result.owned);
    free(result.text);
    memset(&result, 0, sizeof result);
}

/* Keeps the library's buffer as the result; returns status. */
static int keep(int status, uint8_t *buffer, size_t size)
{
    result.owned = buffer;
    result.data = buffer;
    result.size = size;
    return status;
}

static int refuse(int status, const char *message)
{
    result.error.status = status;
    snprintf(result.error.message, sizeof result.error.message, "%s", message);
    return status;
}

/* Threads: this build runs every call on the one thread it has. A count the library would
 * refuse is passed on, so that it is refused as everywhere else. */
static int32_t one_thread(int32_t threads)
{
    return threads >= 0 && threads <= WSQ_MAX_THREADS ? 1 : threads;
}

/* Encodes height rows of width pixels of channels bytes each: 1 gray, 3 red, green and blue,
 * 4 the same and alpha, converted to gray by wsq_gray_from_color(). The comment is
 * comment_size bytes, or none when comment is null. */
int wsqjs_encode(const uint8_t *pixels, size_t size, int32_t channels, int32_t width,
                 int32_t height, double bitrate, int32_t black, int32_t white,
                 const char *comment, size_t comment_size, int32_t threads)
{
    begin();
    if (comment && memchr(comment, 0, comment_size))
        return refuse(WSQ_ERR_ARGUMENT, "a comment cannot hold a NUL byte");
    wsq_encode_options options;
    wsq_encode_defaults(&options);
    options.bitrate = bitrate;
    options.black = black;
    options.white = white;
    options.comment = comment;
    options.threads = one_thread(threads);
    uint8_t *gray = NULL;
    if (channels != 1) {
        size_t count = size / (channels > 0 ? (size_t)channels : 1);
        gray = malloc(count ? count : 1);
        if (!gray)
            return refuse(WSQ_ERR_MEMORY, "out of memory");
        int status = wsq_gray_from_color(gray, pixels, count, channels);
        if (status != WSQ_OK) {
            free(gray);
            return refuse(status, "an image has 1, 3 or 4 channels");
        }
        pixels = gray;
        size = count;
    }
    uint8_t *stream = NULL;
    size_t stream_size = 0;
    int status = wsq_encode(&stream, &stream_size, &result.error, pixels, size, width, height,
                            &options);
    free(gray);
    return keep(status, stream, stream_size);
}

/* The facts of a stream as JSON: numbers, and arrays of them. */
static void describe(const wsq_info *info)
{
    char *at = result.facts, *end = result.facts + sizeof result.facts;
    at += snprintf(at, end - at,
                   "{\"width\":%d,\"height\":%d,\"black\":%d,\"white\":%d,\"midpoint\":%.17g,"
                   "\"rescale\":%.17g,\"encoder\":%d,\"software\":%d,\"filterLengths\":[%d,%d],"
                   "\"center\":%.17g,\"huffmanTables\":[",
                   info->width, info->height, info->black, info->white, (double)info->midpoint,
                   (double)info->rescale, info->encoder, info->software, info->filter_lengths[0],
                   info->filter_lengths[1], (double)info->center);
    const char *comma = "";
    for (int t = 0; t < 32; ++t)
        if (info->tables >> t & 1) {
            at += snprintf(at, end - at, "%s%d", comma, t);
            comma = ",";
        }
    at += snprintf(at, end - at, "],\"restartInterval\":%d,\"blockTables\":[",
                   info->restart_interval);
    for (int b = 0; b < info->blocks && b < 3; ++b)
        at += snprintf(at, end - at, "%s%d", b ? "," : "", info->block_table[b]);
    at += snprintf(at, end - at, "],\"blockBytes\":[");
    for (int b = 0; b < info->blocks && b < 3; ++b)
        at += snprintf(at, end - at, "%s%zu", b ? "," : "", info->block_bytes[b]);
    snprintf(at, end - at, "],\"comments\":%u,\"streamBytes\":%zu}", info->comments,
             info->stream_bytes);
}

/* Reads the facts of the stream at data[0] without decoding it. */
int wsqjs_info(const uint8_t *data, size_t size)
{
    begin();
    wsq_info info;
    int status = wsq_read_info(&info, &result.error, data, size);
    if (status == WSQ_OK)
        describe(&info);
    return status;
}

/* Decodes the stream at data[0]; images of more than max_pixels pixels are refused (a
 * negative max_pixels keeps the default limit). reduce 2, 4 or 8 gives the image at that
 * fraction of each dimension, 1 the whole; the library refuses any other. */
int wsqjs_decode(const uint8_t *data, size_t size, double max_pixels, int32_t threads,
                 int32_t reduce)
{
    begin();
    wsq_decode_options options;
    wsq_decode_defaults(&options);
    if (max_pixels >= 0)
        options.max_pixels = max_pixels >= (double)SIZE_MAX ? SIZE_MAX : (size_t)max_pixels;
    options.threads = one_thread(threads);
    options.reduce = reduce;
    wsq_info info;
    uint8_t *pixels = NULL;
    int status = wsq_decode(&pixels, &info, &result.error, data, size, &options);
    if (status != WSQ_OK)
        return status;
    describe(&info);
    result.width = WSQ_REDUCED_SIZE(info.width, reduce);
    result.height = WSQ_REDUCED_SIZE(info.height, reduce);
    return keep(status, pixels, (size_t)result.width * result.height);
}

/* Finds the text of comment index of the stream at data[0]: a view into data. */
int wsqjs_comment(const uint8_t *data, size_t size, uint32_t index)
{
    begin();
    return wsq_comment(&result.data, &result.size, &result.error, data, size, index);
}

/* ---- Transactions ------------------------------------------------------------------------- */

/* Text built up in a buffer of the library's allocator, kept as the result when complete. */
typedef struct {
    char *text;
    size_t length, capacity;
    int failed; /* memory ran out: the text is incomplete */
} text_buffer;

static void append(text_buffer *out, const char *format, ...)
{
    for (int attempt = 0; attempt < 2 && !out->failed; ++attempt) {
        va_list arguments;
        va_start(arguments, format);
        int needed = vsnprintf(out->text + out->length, out->capacity - out->length, format,
                               arguments);
        va_end(arguments);
        if (needed < 0) {
            out->failed = 1;
        } else if ((size_t)needed < out->capacity - out->length) {
            out->length += (size_t)needed;
            return;
        } else {
            size_t capacity = 2 * out->capacity + (size_t)needed + 1;
            char *grown = realloc(out->text, capacity);
            if (grown) {
                out->text = grown;
                out->capacity = capacity;
            } else {
                out->failed = 1;
            }
        }
    }
}

/* A number the record declares, or null when it declares none (-1). */
static void declared(text_buffer *out, const char *name, int32_t value)
{
    if (value < 0)
        append(out, ",\"%s\":null", name);
    else
        append(out, ",\"%s\":%d", name, value);
}

/* Text as a JSON string: its bytes as they are, escaped where JSON needs it, so that the
 * reader decodes them as UTF-8, as it decodes every other text of the library. */
static void quoted(text_buffer *out, const char *text)
{
    append(out, "\"");
    for (const unsigned char *at = (const unsigned char *)text; *at; ++at)
        append(out, *at < 0x20 || *at == '"' || *at == '\\' ? "\\u%04x" : "%c", *at);
    append(out, "\"");
}

static void record_index(text_buffer *out, const wsq_transaction *tx, size_t index)
{
    wsq_record record;
    wsq_transaction_record(tx, index, &record);
    append(out, "%s{\"type\":%d", index ? "," : "", record.type);
    declared(out, "idc", record.idc);
    append(out, ",\"tagged\":%s,\"offset\":%zu,\"length\":%zu,\"fields\":[",
           record.tagged ? "true" : "false", record.offset, record.length);
    for (uint32_t f = 0; f < record.fields; ++f) {
        wsq_field field;
        wsq_transaction_field(tx, index, f, &field);
        append(out, "%s{\"number\":%d,\"offset\":%zu,\"length\":%zu}", f ? "," : "",
               field.number, field.offset, field.length);
    }
    append(out, "]}");
}

static void image_index(text_buffer *out, const wsq_transaction *tx, size_t index)
{
    wsq_image_entry image;
    wsq_transaction_image(tx, index, &image);
    append(out, "%s{\"record\":%zu,\"type\":%d,\"idc\":%d,\"positions\":[", index ? "," : "",
           image.record, image.type, image.idc);
    for (int32_t p = 0; p < image.position_count; ++p)
        append(out, "%s%d", p ? "," : "", image.positions[p]);
    append(out, "]");
    declared(out, "impression", image.impression);
    declared(out, "compression", image.compression);
    append(out, ",\"compressionName\":");
    quoted(out, image.compression_name);
    declared(out, "width", image.width);
    declared(out, "height", image.height);
    declared(out, "bitsPerPixel", image.bits_per_pixel);
    declared(out, "ppi", image.ppi ? image.ppi : -1);
    append(out, ",\"dataOffset\":%zu,\"dataLength\":%zu}", image.data_offset, image.data_length);
}

/* Begins a call on the transaction at data[0]: the transaction read (tolerantly, when tolerant
 * is not 0), or null with the reason in the result's error. */
static wsq_transaction *opened(const uint8_t *data, size_t size, int32_t tolerant)
{
    begin();
    wsq_transaction *tx = NULL;
    if (tolerant)
        wsq_transaction_read_tolerant(&tx, &result.error, data, size);
    else
        wsq_transaction_read(&tx, &result.error, data, size);
    return tx;
}

/* Keeps complete text as the result; returns its status. */
static int keep_text(text_buffer *out)
{
    if (out->failed) {
        free(out->text);
        return refuse(WSQ_ERR_MEMORY, "out of memory");
    }
    result.text = out->text;
    result.data = (const uint8_t *)out->text;
    result.size = out->length;
    return WSQ_OK;
}

/* Reads the transaction at data[0] and leaves its index as JSON: {"records": [...], "images":
 * [...], "warning": ...}, each record with where its fields' values lie (the package splits
 * them into subfields and items in one pass), the warning what a tolerant reading tolerated
 * first, or null. */
int wsqjs_transaction_read(const uint8_t *data, size_t size, int32_t tolerant)
{
    wsq_transaction *tx = opened(data, size, tolerant);
    if (!tx)
        return result.error.status;
    text_buffer out = {0};
    wsq_error warning;
    wsq_transaction_warning(tx, &warning);
    if (warning.status == WSQ_OK) {
        append(&out, "{\"warning\":null");
    } else {
        append(&out, "{\"warning\":{\"status\":%d,\"offset\":%zu,\"message\":", warning.status,
               warning.offset);
        quoted(&out, warning.message);
        append(&out, "}");
    }
    append(&out, ",\"records\":[");
    for (size_t r = 0; r < wsq_transaction_record_count(tx); ++r)
        record_index(&out, tx, r);
    append(&out, "],\"images\":[");
    for (size_t i = 0; i < wsq_transaction_image_count(tx); ++i)
        image_index(&out, tx, i);
    append(&out, "]}");
    wsq_transaction_free(tx);
    return keep_text(&out);
}

/* Reads the transaction at data[0] and gives the verdict of wsq_transaction_check() on it. */
int wsqjs_transaction_check(const uint8_t *data, size_t size, int32_t tolerant)
{
    wsq_transaction *tx = opened(data, size, tolerant);
    if (!tx)
        return result.error.status;
    int status = wsq_transaction_check(tx, &result.error);
    wsq_transaction_free(tx);
    return status;
}

/* Reads the transaction at data[0] and leaves the first flaw of each record, in file order, as
 * JSON: [{"status": ..., "offset": ..., "message": ...}, ...], empty for a valid transaction. */
int wsqjs_transaction_check_all(const uint8_t *data, size_t size, int32_t tolerant)
{
    wsq_transaction *tx = opened(data, size, tolerant);
    if (!tx)
        return result.error.status;
    size_t count = 0;
    wsq_transaction_check_all(tx, NULL, 0, &count);
    wsq_error *flaws = calloc(count ? count : 1, sizeof *flaws);
    text_buffer out = {0};
    if (flaws) {
        wsq_transaction_check_all(tx, flaws, count, &count);
        append(&out, "[");
        for (size_t i = 0; i < count; ++i) {
            append(&out, "%s{\"status\":%d,\"offset\":%zu,\"message\":", i ? "," : "",
                   flaws[i].status, flaws[i].offset);
            quoted(&out, flaws[i].message);
            append(&out, "}");
        }
        append(&out, "]");
    }
    out.failed |= !flaws;
    free(flaws);
    wsq_transaction_free(tx);
    return keep_text(&out);
}

/* The transaction's bytes after an edit that gave status, kept as the result; tx is released. */
static int rewritten(wsq_transaction *tx, int status)
{
    uint8_t *bytes = NULL;
    size_t size = 0;
    if (status == WSQ_OK)
        status = wsq_transaction_write(&bytes, &size, &result.error, tx);
    wsq_transaction_free(tx);
    return keep(status, bytes, size);
}

/* The bytes of the transaction at data[0] as the library holds them: a tolerant reading's, with
 * the final FS it added. */
int wsqjs_transaction_write(const uint8_t *data, size_t size, int32_t tolerant)
{
    wsq_transaction *tx = opened(data, size, tolerant);
    return tx ? rewritten(tx, WSQ_OK) : result.error.status;
}

/* The transaction at data[0] with the WSQ stream put in place of record's image. */
int wsqjs_transaction_replace(const uint8_t *data, size_t size, int32_t tolerant, double record,
                              const uint8_t *stream, size_t stream_size)
{
    wsq_transaction *tx = opened(data, size, tolerant);
    return tx ? rewritten(tx, wsq_transaction_replace_image(tx, (size_t)record, stream,
                                                            stream_size, &result.error))
              : result.error.status;
}

/* The transaction at data[0] with field number of record set to the value's bytes. */
int wsqjs_transaction_set_field(const uint8_t *data, size_t size, int32_t tolerant,
                                double record, int32_t number, const uint8_t *value,
                                size_t value_size)
{
    wsq_transaction *tx = opened(data, size, tolerant);
    return tx ? rewritten(tx, wsq_transaction_set_field(tx, (size_t)record, number, value,
                                                        value_size, &result.error))
              : result.error.status;
}

/* The transaction at data[0] with a binary record of type inserted as record index: bytes are
 * the whole record, its length set by the library. */
int wsqjs_transaction_insert_binary(const uint8_t *data, size_t size, int32_t tolerant,
                                    double index, int32_t type, const uint8_t *bytes,
                                    size_t length)
{
    wsq_transaction *tx = opened(data, size, tolerant);
    return tx ? rewritten(tx, wsq_transaction_insert_binary(tx, (size_t)index, type, bytes,
                                                            length, &result.error))
              : result.error.status;
}

/* The transaction at data[0] with a tagged record of type and IDC idc inserted as record
 * index. */
int wsqjs_transaction_insert_tagged(const uint8_t *data, size_t size, int32_t tolerant,
                                    double index, int32_t type, int32_t idc)
{
    wsq_transaction *tx = opened(data, size, tolerant);
    return tx ? rewritten(tx, wsq_transaction_insert_tagged(tx, (size_t)index, type, idc,
                                                            &result.error))
              : result.error.status;
}

/* The transaction at data[0] without record index. */
int wsqjs_transaction_remove(const uint8_t *data, size_t size, int32_t tolerant, double index)
{
    wsq_transaction *tx = opened(data, size, tolerant);
    return tx ? rewritten(tx, wsq_transaction_remove(tx, (size_t)index, &result.error))
              : result.error.status;
}

double wsqjs_offset(void) { return (double)result.error.offset; }
const char *wsqjs_message(void) { return result.error.message; }
const uint8_t *wsqjs_data(void) { return result.data; }
double wsqjs_size(void) { return (double)result.size; }
int wsqjs_width(void) { return result.width; }
int wsqjs_height(void) { return result.height; }
const char *wsqjs_facts(void) { return result.facts; }
void wsqjs_release(void) { begin(); }

/* Bytes the module's allocator has handed out and not taken back. */
double wsqjs_heap_in_use(void) { return (double)mallinfo().uordblks; }
