/* wsq.h - libwsq: WSQ gray-scale fingerprint image compression, whole images in memory.
 *
 * wsq_encode() compresses 8-bit gray-scale pixels into a WSQ stream steered to a nominal bit
 * rate; wsq_decode() rebuilds the pixels of a stream; wsq_read_info() and wsq_comment() read a
 * stream's header facts and comments without decoding it. A stream written by wsq_encode() is
 * byte for byte the one the wsq1 program writes for the same pixels and settings.
 *
 * Threads: a call may share its work among threads of its own (the options' threads, 1 by
 * default), started and ended within the call. A call takes no more threads than have half a
 * megapixel each (2 for 1024x1024, 8 for 2048x2048): below that, sharing costs more than it
 * saves. The bytes and pixels never depend on how many: each output value is still computed
 * alone, the same way.
 *
 * The contract of every function declared here:
 *  - It never ends the process and never prints. Every failure is returned as a wsq_status
 *    (0 is success) and, when an error record is passed, described there with the byte offset
 *    of the flaw and a message in words. A failed call returns no buffer: every output
 *    pointer it was given is null afterwards, every output length 0, whatever was wrong.
 *  - It keeps no state between calls and shares nothing mutable: any number of threads may
 *    call any of them at once, on the same input or on different ones.
 *  - Streams are untrusted: every length, count and dimension is validated before it is used.
 *  - A buffer returned through a uint8_t ** parameter is new, belongs to the caller and is
 *    released with wsq_free(). Input buffers are only read, and only during the call.
 *
 * This header compiles as C99 and as C++; the functions have C linkage, so that any language
 * with a C foreign-function interface can call them. The format's own building blocks (filters,
 * transforms, quantizers, Huffman coding) are declared for C++ in libwsq.h.
 *
 * A minimal round trip:
 *
 *     uint8_t *stream, *pixels;
 *     size_t stream_size;
 *     wsq_info info;
 *     wsq_error error;
 *     if (wsq_encode(&stream, &stream_size, &error, image, width * height, width, height, NULL)
 *         != WSQ_OK) { fprintf(stderr, "%s\n", error.message); return 1; }
 *     if (wsq_decode(&pixels, &info, &error, stream, stream_size, NULL) != WSQ_OK) { ... }
 *     wsq_free(stream);
 *     wsq_free(pixels);
 */
#ifndef WSQ_H
#define WSQ_H

#include <stddef.h>
#include <stdint.h>

/* The one place that sets the version of the whole project: the library, the programs, the
 * bindings and their packages take it from here (tests/version_test.sh holds the manual
 * pages, wsqjob and the README to it). */
#define WSQ_VERSION_MAJOR 3
#define WSQ_VERSION_MINOR 0
#define WSQ_VERSION_PATCH 0

/* The same as text, "MAJOR.MINOR.PATCH". */
#define WSQ_VERSION_STRING \
    WSQ_NUMBER_TEXT_(WSQ_VERSION_MAJOR) "." WSQ_NUMBER_TEXT_(WSQ_VERSION_MINOR) "." \
    WSQ_NUMBER_TEXT_(WSQ_VERSION_PATCH)
#define WSQ_NUMBER_TEXT_(number) WSQ_TEXT_(number)
#define WSQ_TEXT_(text) #text

/* Marks the library's public functions: a shared libwsq exports these and nothing else. */
#ifndef WSQ_API
#if defined(_WIN32) && defined(wsq_EXPORTS) /* defined while libwsq.dll itself is built */
#define WSQ_API __declspec(dllexport)
#elif defined(_WIN32)
#define WSQ_API
#elif defined(__GNUC__) || defined(__clang__)
#define WSQ_API __attribute__((visibility("default")))
#else
#define WSQ_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status -------------------------------------------------------------------------------- */

/* What a call did. The values are stable: new ones are only ever added. Values 1 to 11 tell what
 * is wrong with a stream given to the decoding functions; 13 to 15 what the encoder refused;
 * from 32 on, what is wrong with a transaction file (transaction.h). */
enum wsq_status {
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
    WSQ_ERR_MEMORY = 12,       /* working memory could not be allocated */
    WSQ_ERR_ARGUMENT = 13,     /* a null or short buffer, or a setting outside its range */
    WSQ_ERR_IMAGE = 14,        /* an image the format cannot code: too small, or flat */
    WSQ_ERR_BITRATE = 15       /* a bit rate that is not finite or that the coder cannot honour */
};

/* Where and why a call failed. On success status is WSQ_OK, offset 0 and message empty. */
typedef struct wsq_error {
    int32_t status;      /* a wsq_status, the value the call returned */
    size_t offset;       /* decoding: byte offset in the input where the flaw was found;
                            encoding: 0 */
    char message[200];   /* what is wrong, in words, NUL-terminated */
} wsq_error;

/* A short name of a status ("truncated stream"); "unknown status" for other values. The text
 * is static: never release it. */
WSQ_API const char *wsq_strerror(int status);

/* ---- Options ------------------------------------------------------------------------------- */

/* The option structures grow: a later version may append fields to them, never move or remove
 * one. Their first field, size, is the structure's size as the caller's program was compiled
 * (sizeof), so that a program and a library of different versions still agree:
 *  - wsq_encode_defaults(&options) and wsq_decode_defaults(&options) are macros that pass
 *    sizeof options to the functions of the same name, which set size, give every field the
 *    caller's structure holds its default and zero the rest of it. Start from them. (Bindings
 *    call the functions with their structure's size.)
 *  - The calls that take options read only the fields that lie within size: a program compiled
 *    against an older header gets the defaults for the fields added since.
 *  - A size below that of version 3's structure (the first with a size field) is
 *    WSQ_ERR_ARGUMENT; so is a larger size than this library knows whose bytes beyond the
 *    fields it knows are not all zero: a program compiled against a newer header than the
 *    library's may leave the fields this library does not know as its defaults call left them
 *    (zero), but not set them. */

/* ---- Encoding ------------------------------------------------------------------------------ */

/* Settings of wsq_encode(). Start from wsq_encode_defaults(); a null options pointer means the
 * defaults. */
typedef struct wsq_encode_options {
    size_t size;          /* sizeof (wsq_encode_options) as the caller was compiled (set by
                             wsq_encode_defaults()) */
    double bitrate;       /* nominal bits per pixel (0.75): must be finite. The coder refuses
                             a rate it cannot honour (WSQ_ERR_BITRATE): one that leaves no
                             subband active or no bin width storable, or so high that a
                             coefficient needs more than 65535 bins. Which rates near 0 are
                             honoured depends on the image: for some, 0 and small negative
                             rates still give a valid stream of a few hundred bytes */
    int32_t black;        /* scanner black calibration A stored in the frame header (0), 0-255 */
    int32_t white;        /* scanner white calibration B (255), 0-255 */
    const char *comment;  /* NUL-terminated text of a comment segment, at most 65533 bytes; null
                             writes none, "" an empty one (null) */
    int32_t threads;      /* threads sharing the work of one call, up to WSQ_MAX_THREADS; 0: one
                             per available core (1) */
} wsq_encode_options;

/* Most threads a call takes. */
#define WSQ_MAX_THREADS 256

/* Fills the size bytes at options with the defaults given above (see Options); the macro passes
 * sizeof *options. */
WSQ_API void wsq_encode_defaults(wsq_encode_options *options, size_t size);
#define wsq_encode_defaults(options) wsq_encode_defaults((options), sizeof *(options))

/* Compresses an image of height rows of width 8-bit pixels (row after row, top row first, 0 is
 * black) into one complete WSQ stream.
 *
 *   stream, stream_size  receive a new buffer holding the stream (release with wsq_free) and
 *                        its length in bytes
 *   error                receives the details of a failure; may be null
 *   pixels, pixels_size  the image and the bytes the buffer holds: at least width * height
 *   width, height        32 to 32767 each; the format measures every subband's central
 *                        region, so images below 81 x 81 (unless at least 49 wide and 145
 *                        high) are refused as too small
 *   options              the settings, or null for the defaults
 *
 * Returns WSQ_OK, or WSQ_ERR_ARGUMENT (null pointer, short buffer, width, height, calibration
 * or comment out of range, options this library cannot read: see Options), WSQ_ERR_IMAGE
 * (too small, or every pixel equal: nothing to compress), WSQ_ERR_BITRATE, WSQ_ERR_MEMORY. Working memory is about 11 bytes per pixel plus
 * the stream. A thread count out of range is WSQ_ERR_ARGUMENT; threads that cannot be started
 * leave the work to fewer. */
WSQ_API int wsq_encode(uint8_t **stream, size_t *stream_size, wsq_error *error,
                       const uint8_t *pixels, size_t pixels_size, int32_t width, int32_t height,
                       const wsq_encode_options *options);

/* ---- Decoding ------------------------------------------------------------------------------ */

/* Facts of one stream, as its segments state them. */
typedef struct wsq_info {
    int32_t width;             /* X: samples per line */
    int32_t height;            /* Y: lines */
    int32_t black, white;      /* scanner calibrations A and B */
    float midpoint, rescale;   /* M and R of the pixel normalisation */
    int32_t encoder;           /* Ev: the encoder's parameterization number */
    int32_t software;          /* Sf: the encoder's software number */
    int32_t filter_lengths[2]; /* L0 and L1 of the transform table */
    float center;              /* bin center C */
    uint32_t tables;           /* bit t set when Huffman table t was defined */
    int32_t restart_interval;  /* from a restart interval segment; 0 without one */
    int32_t blocks;            /* entropy-coded blocks read: 3 in a valid stream */
    int32_t block_table[3];    /* Huffman table of each block */
    size_t block_bytes[3];     /* coded bytes of each block as stored */
    uint32_t comments;         /* comment segments; wsq_comment() gives each one's text */
    size_t stream_bytes;       /* length of the stream, Start-Of-Image to End-Of-Image */
} wsq_info;

/* Largest image the decoder accepts by default: 2^28 pixels (16384 x 16384), which needs
 * about 9 bytes per pixel of working memory. */
#define WSQ_DEFAULT_MAX_PIXELS ((size_t)1 << 28)

/* Settings of the decoding functions. Start from wsq_decode_defaults(); a null options
 * pointer means the defaults. */
typedef struct wsq_decode_options {
    size_t size;        /* sizeof (wsq_decode_options) as the caller was compiled (set by
                           wsq_decode_defaults()) */
    size_t max_pixels;  /* images of more pixels are refused, WSQ_ERR_LIMIT
                           (WSQ_DEFAULT_MAX_PIXELS) */
    int32_t threads;    /* threads sharing the work of one call, up to WSQ_MAX_THREADS; 0: one
                           per available core (1) */
    int32_t reduce;     /* 1, 2, 4 or 8: the image at that fraction of each dimension, a preview
                           (1, the whole image); see "Reduced decoding" below */
} wsq_decode_options;

/* Reduced decoding. The wavelet decomposition keeps the image at a half, a quarter and an eighth
 * of each dimension in its lowest subbands, so with reduce 2, 4 or 8 the decoder rebuilds only
 * that low band and returns it as pixels: an image of
 *
 *     WSQ_REDUCED_SIZE(info->width, reduce) by WSQ_REDUCED_SIZE(info->height, reduce)
 *
 * pixels, each dimension divided by reduce and rounded up (437 x 391 at 1/8: 55 x 49). Each
 * pixel is the low band divided by the gain of the stream's low-pass filter at that depth
 * (the sum of its taps, squared per level: 2 for the format's own filters), converted with
 * the frame's M and R as a whole image's pixels are. Pixel (y, x) stands for the whole
 * image's samples around (reduce y, reduce x): near the average of the reduce x reduce square
 * there, though sharper. It skips the synthesis above that size and the entropy-coded blocks
 * whose subbands that size does not use (block 2 below the whole image, block 1 too at 1/4
 * and 1/8): a 1/8 preview of a 2048 x 2048 print takes about an eighth of a whole decoding's
 * time. Every segment, block included, is still read and checked as wsq_read_info() reads it,
 * and a stream refused is refused as a whole decoding refuses it (see Verdicts); only a flaw
 * inside the coded data of a skipped block, which only decoding that data finds, goes
 * unreported when the stream has no other. info still receives the
 * stream's facts: its width and height are the whole image's, from which WSQ_REDUCED_SIZE
 * gives the preview's. Any other reduce is WSQ_ERR_ARGUMENT. */
#define WSQ_REDUCED_SIZE(length, reduce) (((length) + (reduce) - 1) / (reduce))

/* Verdicts. A stream with several flaws is refused for the first by offset, by every call,
 * program and binding: the stream is judged as it is read from its start, each block's coded
 * data before the segments after it. A flaw inside a block's coded data is reported at the
 * offset where that data starts. wsq_read_info() and wsq_comment() decode no block's coded
 * data, and a reduced decoding not that of the blocks it skips: they accept a stream whose only
 * flaws lie there. A stream they refuse, they refuse for the flaw a whole decoding reports:
 * having found a flaw after a block they skipped, they decode the blocks before it to look for
 * an earlier one, with a decoding's memory. Streams stored back to back are judged in order:
 * the programs and bindings decode each before reading the next, so that an input is refused
 * for its first flaw too, its offset counted from the input's start. */

/* Fills the size bytes at options with the defaults given above (see Options); the macro passes
 * sizeof *options. */
WSQ_API void wsq_decode_defaults(wsq_decode_options *options, size_t size);
#define wsq_decode_defaults(options) wsq_decode_defaults((options), sizeof *(options))

/* Decodes the WSQ stream that starts at data[0] and lies within size bytes.
 *
 *   pixels   receives a new buffer of info->height rows of info->width pixels (release with
 *            wsq_free); with options->reduce above 1, of the reduced size given above
 *   info     receives the stream's facts
 *   error    receives the details of a failure; may be null
 *
 * The stream must end with its End-Of-Image marker, followed either by nothing or by the
 * Start-Of-Image marker of another stream: streams may be stored back to back, and
 * info->stream_bytes tells where the next one starts. Every length, count and dimension is
 * checked before it is used; any flaw is one of the statuses 1 to 12 and returns no pixels,
 * with *info holding the facts read before it; of several, the first (see Verdicts). WSQ_ERR_ARGUMENT for a null pointer (data may be
 * null when size is 0: an empty input is WSQ_ERR_NOT_WSQ), a thread count out of range, a
 * reduce other than 1, 2, 4 and 8, or options this library cannot read (see Options). */
WSQ_API int wsq_decode(uint8_t **pixels, wsq_info *info, wsq_error *error, const uint8_t *data,
                       size_t size, const wsq_decode_options *options);

/* As wsq_decode(), but into the caller's buffer of capacity bytes, which must hold the
 * image's width * height pixels (wsq_read_info() tells them first; with options->reduce above
 * 1, the reduced width and height), else WSQ_ERR_ARGUMENT.
 * On failure the buffer's contents are unspecified. */
WSQ_API int wsq_decode_into(uint8_t *pixels, size_t capacity, wsq_info *info, wsq_error *error,
                            const uint8_t *data, size_t size, const wsq_decode_options *options);

/* Work memory kept from one decoding to the next, for callers that decode many images: each
 * call of wsq_decode_into() takes 8 bytes per pixel of work memory (of which it touches about
 * 5) and a copy of the coded data, and gives them back. Large images' is fresh memory every
 * time, which the system clears before first use (a seventh of the time of decoding a 2048 x
 * 2048 image); a workspace keeps the largest it has needed, in huge pages where the system
 * grants them, until wsq_workspace_free(). It serves one call at a time: give each thread its
 * own. wsq_workspace_new() returns null when out of memory. */
typedef struct wsq_workspace wsq_workspace;
WSQ_API wsq_workspace *wsq_workspace_new(void);
WSQ_API void wsq_workspace_free(wsq_workspace *workspace);

/* As wsq_decode_into(), with its work memory from workspace (not null, else WSQ_ERR_ARGUMENT):
 * the same statuses, the same pixels. */
WSQ_API int wsq_decode_into_reusing(wsq_workspace *workspace, uint8_t *pixels, size_t capacity,
                                    wsq_info *info, wsq_error *error, const uint8_t *data,
                                    size_t size, const wsq_decode_options *options);

/* Reads and checks the segments of the stream at data[0] as wsq_decode() does, locating its
 * blocks without decoding them, and fills *info. Fast: no image-sized memory is used, unless
 * a flaw after a block makes it look for an earlier one in the blocks (see Verdicts). The
 * pixel limit of the default options applies. */
WSQ_API int wsq_read_info(wsq_info *info, wsq_error *error, const uint8_t *data, size_t size);

/* Points *text at the bytes of comment index (from 0, in stream order) of the stream at
 * data[0], inside data, and sets *length to their count; comments are stored without a
 * terminating NUL and may hold any bytes. The stream is read as by wsq_read_info(); an index
 * not below its info.comments is WSQ_ERR_ARGUMENT. */
WSQ_API int wsq_comment(const uint8_t **text, size_t *length, wsq_error *error,
                        const uint8_t *data, size_t size, uint32_t index);

/* ---- Colour ------------------------------------------------------------------------------- */

/* Converts count colour pixels of channels interleaved bytes each (3: red, green, blue; 4: the
 * same followed by alpha, which is ignored) into count gray pixels, by the rule every binding
 * of this library uses, so that a colour image gives the same gray pixels, and so the same
 * stream, from every language:
 *
 *     gray = (19595 red + 38470 green + 7471 blue + 32768) >> 16
 *
 * the luma weights 0.299, 0.587 and 0.114 in 16-bit fixed point, rounded to nearest (the
 * usual conversion of colour images to 8-bit gray, e.g. "L" in Python's imaging libraries).
 * gray and color may not overlap. Returns WSQ_OK, or WSQ_ERR_ARGUMENT for a null pointer with
 * count above 0, or channels other than 3 or 4. */
WSQ_API int wsq_gray_from_color(uint8_t *gray, const uint8_t *color, size_t count,
                                int32_t channels);

/* ---- Memory and version -------------------------------------------------------------------- */

/* Releases a buffer returned by this library; null is ignored. */
WSQ_API void wsq_free(void *buffer);

/* The library's version, "MAJOR.MINOR.PATCH", as built (the header's WSQ_VERSION_* macros tell
 * the version compiled against). The text is static. */
WSQ_API const char *wsq_version(void);

#ifdef __cplusplus
}
#endif

#endif
