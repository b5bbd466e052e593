/* transaction.h - libwsq: fingerprint transaction files (.an2, .eft, .int) in memory.
 *
 * A transaction is a sequence of logical records: first the Type-1 record, whose CNT field
 * (1.003) lists the type and IDC of every later record in file order, then those records.
 * Tagged records (Types 1, 2, 9-99) are text fields "T.NNN:value" separated by GS and ended by
 * FS, the first field (T.001, LEN) their length in decimal; their field .999 holds binary data
 * up to the final FS. Binary records (Types 3-8) are fixed big-endian headers whose first four
 * bytes are the length, followed by the image; only CNT tells their type.
 *
 * wsq_transaction_read() copies a transaction and indexes it: its records, the fields of its
 * tagged records, the headers of its binary records and one entry per image. Reading refuses
 * a file it cannot walk (lengths, separators and CNT that disagree with the bytes there);
 * wsq_transaction_check() then gives the verdict on the rest (CNT's types and IDCs, mandatory
 * fields, codes, dates, and every embedded WSQ stream against its record). The edits replace
 * an image, insert and remove records and set fields; each leaves a transaction whose every
 * LEN and whose CNT agree with its bytes, which wsq_transaction_write() returns. A transaction
 * read and written without edits gives back the bytes it was read from.
 *
 * Every byte offset below is an offset into the transaction's bytes as wsq_transaction_bytes()
 * gives them: until the first edit, the bytes it was read from (with the final FS that a
 * tolerant reading may add).
 *
 * The contract of wsq.h holds for every function declared here: none ends the process or
 * prints; failures are a status with, when an error record is passed, the byte offset of the
 * flaw and a message; no state is kept between calls. A wsq_transaction is one object: any
 * number of threads may call the functions taking a const wsq_transaction * on it at once, but
 * an edit or wsq_transaction_free() needs it alone. Distinct transactions are independent.
 * Files are untrusted: every length, count and number is checked before it is used, and a
 * transaction takes memory of a small multiple of the file's size, whatever it declares.
 *
 * Reading and checking a file:
 *
 *     wsq_transaction *tx;
 *     wsq_error error;
 *     if (wsq_transaction_read(&tx, &error, data, size) != WSQ_OK ||
 *         wsq_transaction_check(tx, &error) != WSQ_OK)
 *         printf("offset %zu: %s: %s\n", error.offset, wsq_strerror(error.status), error.message);
 *     for (size_t i = 0; tx && i < wsq_transaction_image_count(tx); ++i) {
 *         wsq_image_entry image;
 *         wsq_transaction_image(tx, i, &image);
 *         ... data + image.data_offset, image.data_length bytes, image.width ...
 *     }
 *     wsq_transaction_free(tx);
 */
#ifndef WSQ_TRANSACTION_H
#define WSQ_TRANSACTION_H

#include "wsq.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Flaws --------------------------------------------------------------------------------- */

/* The statuses of a transaction's flaws, beside those of wsq.h; wsq_strerror() gives each one's
 * short name (the one after each value, e.g. "len-mismatch"). Reading refuses a file with one
 * of the flaws 32 to 41, by which its records cannot be told apart, or without CNT (44); the
 * others are wsq_transaction_check()'s verdicts. */
enum wsq_transaction_status {
    WSQ_ERR_TX_BAD_TAG = 32,            /* bad-tag: a field that does not begin "T.N:" with the
                                           record's type, or a Type-1 record not first */
    WSQ_ERR_TX_LEN_NOT_FIRST = 33,      /* len-not-first: a tagged record not beginning T.001 */
    WSQ_ERR_TX_LEN_NOT_NUMERIC = 34,    /* len-not-numeric: LEN not all decimal digits, or with
                                           a leading zero */
    WSQ_ERR_TX_LEN_PAST_END = 35,       /* len-past-end: a record running past the file's end */
    WSQ_ERR_TX_FS_MISSING = 36,         /* fs-missing: a tagged record's last byte not FS */
    WSQ_ERR_TX_LEN_MISMATCH = 37,       /* len-mismatch: an FS before LEN's end, or a field
                                           running past it */
    WSQ_ERR_TX_BINARY_LEN_SHORT = 38,   /* binary-len-short: a binary record shorter than its
                                           header */
    WSQ_ERR_TX_CNT_MALFORMED = 39,      /* cnt-malformed: CNT not "1 US count" then pairs of
                                           type and IDC */
    WSQ_ERR_TX_CNT_COUNT = 40,          /* cnt-count: CNT's count not its entries, or records
                                           missing from the file or after the last listed */
    WSQ_ERR_TX_TRAILING_BYTES = 41,     /* trailing-bytes: bytes after the last record */
    WSQ_ERR_TX_CNT_MISMATCH = 42,       /* cnt-mismatch: a record's type or IDC not CNT's */
    WSQ_ERR_TX_IDC_DUPLICATE = 43,      /* idc-duplicate: two records of one type and IDC */
    WSQ_ERR_TX_MANDATORY_MISSING = 44,  /* mandatory-missing: a field a record must have */
    WSQ_ERR_TX_CGA_UNKNOWN = 45,        /* cga-unknown: a compression code or label unknown */
    WSQ_ERR_TX_HLL_VLL_MISMATCH = 46,   /* hll-vll-mismatch: a WSQ frame of another size than
                                           the record's width (HLL) and height (VLL) */
    WSQ_ERR_TX_WSQ_BAD = 47,            /* wsq-bad: WSQ data that is not a WSQ stream */
    WSQ_ERR_TX_RAW_SIZE_MISMATCH = 48,  /* raw-size-mismatch: uncompressed data not width x
                                           height x bits per pixel / 8 bytes */
    WSQ_ERR_TX_BAD_VALUE = 49           /* bad-value: a date, resolution, IDC or VER out of
                                           its form */
};

/* ---- Reading ------------------------------------------------------------------------------- */

typedef struct wsq_transaction wsq_transaction;

/* Reads the transaction of size bytes at data into a new wsq_transaction (release with
 * wsq_transaction_free), which holds its own copy of the bytes: data may be released after.
 * Returns WSQ_OK, one of the flaws 32 to 41 or WSQ_ERR_TX_MANDATORY_MISSING (the file cannot be
 * read as records; error tells the first, with its offset), WSQ_ERR_MEMORY or WSQ_ERR_ARGUMENT (a null pointer; data may be
 * null when size is 0). On failure *transaction is null. */
WSQ_API int wsq_transaction_read(wsq_transaction **transaction, wsq_error *error,
                                 const uint8_t *data, size_t size);

/* As wsq_transaction_read(), tolerating what no edition allows but files are reported to hold:
 * a length (LEN) with leading zeros; a last record without its final FS (LEN then counts one
 * byte past the end: the FS is added); CR, LF or NUL bytes after the last record (kept in the
 * bytes until an edit, which leaves them out); compression labels in lower case. What was
 * tolerated first is the transaction's warning. */
WSQ_API int wsq_transaction_read_tolerant(wsq_transaction **transaction, wsq_error *error,
                                          const uint8_t *data, size_t size);

/* Fills *warning with the first thing wsq_transaction_read_tolerant() tolerated in reading the
 * transaction or since, at its last edit: the status of the flaw it would have been, its
 * offset and a message; status WSQ_OK when nothing was. Returns WSQ_OK or WSQ_ERR_ARGUMENT. */
WSQ_API int wsq_transaction_warning(const wsq_transaction *transaction, wsq_error *warning);

/* Releases a transaction and everything it holds; null is ignored. */
WSQ_API void wsq_transaction_free(wsq_transaction *transaction);

/* The transaction's bytes as they stand: a pointer into the transaction, valid until its next
 * edit or its release; *size receives their count. */
WSQ_API const uint8_t *wsq_transaction_bytes(const wsq_transaction *transaction, size_t *size);

/* A copy of the transaction's bytes in a new buffer (release with wsq_free), for writing: every
 * LEN and the CNT already agree with the records, edited or not. Returns WSQ_OK,
 * WSQ_ERR_MEMORY or WSQ_ERR_ARGUMENT. */
WSQ_API int wsq_transaction_write(uint8_t **bytes, size_t *size, wsq_error *error,
                                  const wsq_transaction *transaction);

/* ---- Records and fields -------------------------------------------------------------------- */

/* One logical record. */
typedef struct wsq_record {
    int32_t type;     /* 1 to 99: Type-1's, then as CNT lists it */
    int32_t idc;      /* the IDC that CNT lists for the record; -1 for Type-1, which has none */
    int32_t tagged;   /* 1: a tagged record, with fields; 0: a binary record (Types 3-8) */
    uint32_t fields;  /* a tagged record's field count, LEN included; 0 for a binary record */
    size_t offset;    /* its first byte */
    size_t length;    /* its bytes, LEN: the final FS or the whole binary header included */
} wsq_record;

/* The number of records, Type-1 included: 1 more than CNT's count. */
WSQ_API size_t wsq_transaction_record_count(const wsq_transaction *transaction);

/* Fills *out with record index (0, the Type-1 record, to record_count - 1). Returns WSQ_OK or
 * WSQ_ERR_ARGUMENT (a null pointer, an index out of range). */
WSQ_API int wsq_transaction_record(const wsq_transaction *transaction, size_t index,
                                   wsq_record *out);

/* One field of a tagged record, in the record's order. */
typedef struct wsq_field {
    int32_t number;      /* the field number, the N of "T.N:" read as a number (1 is LEN) */
    uint32_t subfields;  /* subfields of the value: 1 + its RS separators; 1 for field 999,
                            whose value is binary data and has no separators */
    size_t tag_offset;   /* the tag's first byte */
    size_t offset;       /* the value's first byte, after the colon */
    size_t length;       /* the value's bytes, up to the GS or the FS that ends the field */
} wsq_field;

/* Fills *out with field index (0 to the record's fields - 1) of tagged record record. Returns
 * WSQ_OK or WSQ_ERR_ARGUMENT (a null pointer, a binary record, an index out of range). */
WSQ_API int wsq_transaction_field(const wsq_transaction *transaction, size_t record,
                                  size_t index, wsq_field *out);

/* Sets *index to the index of the first field of tagged record record numbered number.
 * Returns WSQ_OK, or WSQ_ERR_ARGUMENT (a null pointer, a binary record or an index out of
 * range, no such field: then *index is (size_t)-1). */
WSQ_API int wsq_transaction_find_field(const wsq_transaction *transaction, size_t record,
                                       int32_t number, size_t *index);

/* The bytes of subfield subfield (from 0) of a field, and of item item (from 0, US-separated)
 * of that subfield: *offset and *length receive where they lie, *items (when not null) the
 * number of items of the subfield. Returns WSQ_OK or WSQ_ERR_ARGUMENT (a null pointer, a binary
 * record, an index out of range). */
WSQ_API int wsq_transaction_subfield(const wsq_transaction *transaction, size_t record,
                                     size_t field, uint32_t subfield, size_t *offset,
                                     size_t *length, uint32_t *items);
WSQ_API int wsq_transaction_item(const wsq_transaction *transaction, size_t record, size_t field,
                                 uint32_t subfield, uint32_t item, size_t *offset, size_t *length);

/* The header of a binary record, as its bytes state it. A value the record's type does not
 * have is -1. */
typedef struct wsq_binary_header {
    int32_t size;           /* header bytes: 18 (Types 3-6, and 7 read as Type-4's header), 12
                               (Type-8), 5 (Type-7: LEN and IDC only) */
    int32_t idc;            /* IDC byte */
    int32_t impression;     /* IMP, impression type */
    int32_t positions[6];   /* FGP, finger positions, first most probable; 255 unused */
    int32_t resolution;     /* ISR: 0 the minimum scanning resolution (500 ppi), 1 Type-1's NSR */
    int32_t width, height;  /* HLL, VLL */
    int32_t compression;    /* GCA (Types 3, 4, 7) or BCA (Types 5, 6): 0 none, 1 WSQ */
    int32_t signature;      /* Type-8 SIG: 0 the subject's, 1 an official's */
    int32_t representation; /* Type-8 SRT: 0 scanned, 1 scanned compressed, 2 vectors */
} wsq_binary_header;

/* Fills *out with the header of binary record record. A Type-7 record is read with Type-4's
 * header when that header is plausible (compression 0 with width x height bytes of data, or 1
 * with data that starts a WSQ stream), else as LEN and IDC alone. Returns WSQ_OK or
 * WSQ_ERR_ARGUMENT (a null pointer, a tagged record, an index out of range). */
WSQ_API int wsq_transaction_binary_header(const wsq_transaction *transaction, size_t record,
                                          wsq_binary_header *out);

/* ---- Images -------------------------------------------------------------------------------- */

/* Compression codes, as binary records state them; tagged records name them by label. */
enum wsq_compression {
    WSQ_COMPRESSION_NONE = 0,   /* "NONE": one byte per pixel (bits per pixel / 8), row by row */
    WSQ_COMPRESSION_WSQ = 1,    /* "WSQ20" (written "WSQ" before VER 0400): a WSQ stream */
    WSQ_COMPRESSION_JPEGB = 2,  /* "JPEGB", JPEG baseline */
    WSQ_COMPRESSION_JPEGL = 3,  /* "JPEGL", JPEG lossless */
    WSQ_COMPRESSION_JP2 = 4,    /* "JP2", JPEG 2000 */
    WSQ_COMPRESSION_JP2L = 5,   /* "JP2L", JPEG 2000 lossless */
    WSQ_COMPRESSION_PNG = 6     /* "PNG" */
};

/* One image record: a binary record of Types 3 to 8, or a tagged record with image data
 * (field 999) of Types 10, 13 to 17 and 19, or of another type when it has width and height
 * fields (.006, .007) too. What the record does not declare is -1, or 0 for ppi. */
typedef struct wsq_image_entry {
    size_t record;             /* the record's index */
    int32_t type, idc;         /* the record's type and IDC */
    int32_t positions[6];      /* finger or palm positions (FGP), the first position_count
                                  entries: Type 3-7 header bytes other than 255, or the first
                                  item of each subfield of field 13, in order */
    int32_t position_count;
    int32_t impression;        /* IMP (binary header, or field 3 of Types 13-15, 19) */
    int32_t compression;       /* a wsq_compression; -1 for a code or label not in the table */
    char compression_name[16]; /* its name in the table ("WSQ20" for "WSQ" too); for another
                                  label, the label as stored (at most 15 bytes); "" when the
                                  record declares none */
    int32_t width, height;     /* as the record declares them (HLL, VLL) */
    int32_t bits_per_pixel;    /* 8, field 12 (BPX) of Types 13-16, 19, or 1 for Types 5, 6 */
    int32_t ppi;               /* pixels per inch declared, rounded; 0 when none is */
    size_t data_offset;        /* the image data: after the binary header, or field 999's value */
    size_t data_length;
} wsq_image_entry;

WSQ_API size_t wsq_transaction_image_count(const wsq_transaction *transaction);

/* Fills *out with image index (0 to image_count - 1, in file order). Returns WSQ_OK or
 * WSQ_ERR_ARGUMENT (a null pointer, an index out of range). */
WSQ_API int wsq_transaction_image(const wsq_transaction *transaction, size_t index,
                                  wsq_image_entry *out);

/* ---- Check --------------------------------------------------------------------------------- */

/* The verdict on a transaction that reading accepted: WSQ_OK, or the first flaw in file order
 * (statuses 42 to 49), with its offset and a message in error. It checks that each record
 * has CNT's type and IDC and that no two records share a type and an IDC; the mandatory
 * fields (Type-1's LEN, VER, CNT, TOT, DAT, DAI, ORI, TCN, NSR, NTR; each tagged record's IDC;
 * a tagged image's fields 3 to 11, and 12 and 13 where they are bits per pixel and
 * positions); dates (YYYYMMDD), NSR and NTR (NN.NN), IDCs (0-99), VER (four digits); the
 * compression code or label; an image's WSQ data, read with wsq_read_info() (one whole
 * stream, of the record's width and height); the length of uncompressed data. It accepts
 * what real files hold: field numbers with leading zeros, IDCs of one or two digits, "WSQ"
 * or "WSQ20", fields in any order after the IDC, separator bytes inside binary data, Type-7
 * with or without Type-4's header, tagged image records without data (an amputated finger),
 * any VER of four digits. Returns WSQ_ERR_ARGUMENT for a null transaction. */
WSQ_API int wsq_transaction_check(const wsq_transaction *transaction, wsq_error *error);

/* Every flaw wsq_transaction_check() finds, the first of each record, in file order: as many as
 * capacity of them into flaws (which may be null when capacity is 0), and their number, which
 * may exceed capacity, into *count (0 for a valid transaction). Returns WSQ_OK whatever the
 * flaws, or WSQ_ERR_ARGUMENT (a null transaction or count). */
WSQ_API int wsq_transaction_check_all(const wsq_transaction *transaction, wsq_error *flaws,
                                      size_t capacity, size_t *count);

/* ---- Edits --------------------------------------------------------------------------------- */

/* Each edit either succeeds whole or leaves the transaction as it was; it updates the lengths,
 * CNT and the indexes above, so record, field and image indices and offsets read before an
 * edit may no longer hold after it. A refused edit returns WSQ_ERR_ARGUMENT with the reason
 * in the message, or WSQ_ERR_MEMORY. */

/* Puts the WSQ stream of size bytes at stream (one whole stream, checked by wsq_read_info())
 * in place of the image of record record: a Type-4 record, or a tagged record of Types 13-16
 * or 19. Its width and height become the stream's, its compression WSQ (Type-4 GCA 1; the
 * label "WSQ20", or "WSQ" for a VER below 0400), its bits per pixel 8, and its hash (field
 * 996), if it has one, the new data's SHA-256. A stream that is not one is the status
 * wsq_read_info() gives. */
WSQ_API int wsq_transaction_replace_image(wsq_transaction *transaction, size_t record,
                                          const uint8_t *stream, size_t size, wsq_error *error);

/* Encodes height rows of width 8-bit pixels (0 black) with wsq_encode() under options (null:
 * the defaults, 0.75 bits per pixel) and puts the stream in place of record's image as
 * wsq_transaction_replace_image() does. Returns what either call returns. */
WSQ_API int wsq_transaction_replace_pixels(wsq_transaction *transaction, size_t record,
                                           const uint8_t *pixels, size_t pixels_size,
                                           int32_t width, int32_t height,
                                           const wsq_encode_options *options, wsq_error *error);

/* Inserts a binary record of type 4, 7 or 8 as record index (1 to record_count: before the
 * record there, or last), its bytes being the length bytes of the record (their first four,
 * LEN, are set to length) followed by the rest of its header and its data; its IDC is its
 * fifth byte. CNT gains its entry. Refused: another type, a record shorter than its header, an
 * IDC above 99 or that a record of the same type has. */
WSQ_API int wsq_transaction_insert_binary(wsq_transaction *transaction, size_t index,
                                          int32_t type, const uint8_t *bytes, size_t length,
                                          wsq_error *error);

/* Inserts a tagged record of type type (2, or 9 to 99) as record index (1 to record_count),
 * holding only its LEN and its IDC idc (0 to 99), which no record of that type may have: set
 * its fields with wsq_transaction_set_field(). CNT gains its entry. */
WSQ_API int wsq_transaction_insert_tagged(wsq_transaction *transaction, size_t index,
                                          int32_t type, int32_t idc, wsq_error *error);

/* Removes record index (1 to record_count - 1; Type-1 stays) and its CNT entry. Records linked
 * to it by IDC (a Type-9 of a print's IDC) are left as they are. */
WSQ_API int wsq_transaction_remove(wsq_transaction *transaction, size_t index,
                                   wsq_error *error);

/* Sets field number of tagged record record to the length bytes at value: the field's value is
 * replaced where it stands, or, when the record has no such field, a new one is inserted
 * before the first field of a higher number (field 999 stays last), its tag written with three
 * digits at least. Length 0 removes the field. The record's LEN follows. Field 1 (LEN) and
 * Type-1's CNT (1.003) are the transaction's to set: refused, as is removing field 2; a new
 * IDC (field 2 of a record after Type-1) must be 0 to 99 and unused in the type: CNT follows
 * it. A value holds no FS or GS byte (RS and US separate its subfields and items), except
 * field 999's, which may hold any byte. */
WSQ_API int wsq_transaction_set_field(wsq_transaction *transaction, size_t record,
                                      int32_t number, const uint8_t *value, size_t length,
                                      wsq_error *error);

#ifdef __cplusplus
}
#endif

#endif
