/* transaction.cpp - the transaction layer of libwsq (transaction.h tells the contract).
 *
 * A transaction keeps its bytes in one buffer and an index of them: records,
 * the fields of tagged records and the images. Every edit builds the new
 * bytes whole and indexes them again, so that the index always describes
 * bytes that reading accepts, and an edit that fails leaves the old ones.
 */
#include "transaction.h"

#include <strings.h>

#include <algorithm>
#include <bitset>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

namespace {

const uint8_t FS = 0x1C, GS = 0x1D, RS = 0x1E, US = 0x1F;

/* Numbers read from tags, counts and IDCs saturate just above this: beyond it
 * a value is out of every range the format has, and sums of offsets and
 * lengths cannot overflow. */
const uint32_t number_cap = 999999999;

const size_t no_index = (size_t)-1;

struct field_entry {
    int32_t number;
    uint32_t subfields;
    size_t tag, value, length;
};

struct record_entry {
    int32_t type, idc;    /* as CNT lists them */
    int32_t tag_type;     /* a tagged record's type as its tags state it */
    bool tagged;
    size_t offset, length;
    size_t first_field;
    uint32_t fields;
    size_t cnt_offset, cnt_length;  /* its CNT subfield, "type US IDC" */
};

/* Where an image's facts lie in its record, for the check's offsets. */
struct image_places {
    size_t width, compression;
};

/* An array of plain values that reports memory running out by its result
 * rather than by an exception: a transaction's bytes and index take memory
 * in proportion to an untrusted file, and a build without exceptions
 * (WebAssembly) must refuse such a file with WSQ_ERR_MEMORY as every build
 * does, and live on. */
template <class T>
class plain_array {
    static_assert(std::is_trivially_copyable<T>::value, "values are moved as bytes");

public:
    plain_array() = default;
    plain_array(plain_array &&other) noexcept { *this = std::move(other); }
    plain_array &operator=(plain_array &&other) noexcept
    {
        std::swap(items_, other.items_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    ~plain_array() { std::free(items_); }

    /* Appends count values; false, the array unchanged, when memory runs out. */
    bool append(const T *values, size_t count)
    {
        if (count > capacity_ - size_ && !grow(count))
            return false;
        if (count > 0)
            std::memcpy(items_ + size_, values, count * sizeof(T));
        size_ += count;
        return true;
    }
    bool push_back(const T &value) { return append(&value, 1); }
    void clear() { size_ = 0; }
    /* Gives back the room beyond the values. */
    void shrink_to_fit()
    {
        if (size_ == 0) {
            std::free(items_);
            items_ = nullptr;
            capacity_ = 0;
        } else if (T *fitted = (T *)std::realloc(items_, size_ * sizeof(T))) {
            items_ = fitted;
            capacity_ = size_;
        }
    }
    size_t size() const { return size_; }
    T *data() { return items_; }
    const T *data() const { return items_; }
    T &operator[](size_t index) { return items_[index]; }
    const T &operator[](size_t index) const { return items_[index]; }
    const T *begin() const { return items_; }
    const T *end() const { return items_ + size_; }

private:
    /* Room for count more values, the capacity at least doubled. */
    bool grow(size_t count)
    {
        const size_t most = SIZE_MAX / sizeof(T);
        if (count > most - size_)
            return false;
        size_t capacity = std::max(size_ + count, capacity_ <= most / 2 ? 2 * capacity_ : most);
        T *grown = (T *)std::realloc(items_, capacity * sizeof(T));
        if (!grown)
            return false;
        items_ = grown;
        capacity_ = capacity;
        return true;
    }

    T *items_ = nullptr;
    size_t size_ = 0, capacity_ = 0;
};

}  // namespace

struct wsq_transaction {
    plain_array<uint8_t> bytes;
    plain_array<record_entry> records;
    plain_array<field_entry> fields;
    plain_array<wsq_image_entry> images;
    plain_array<image_places> places;
    size_t count_offset = 0, count_length = 0;  /* CNT's count item */
    bool tolerant = false;                      /* read by wsq_transaction_read_tolerant() */
    wsq_error warning = wsq_error();            /* the first thing tolerated */
};

namespace {

/* ---- Errors and numbers ---------------------------------------------------- */

int describe(wsq_error *error, int status, size_t offset, const char *format, va_list args)
{
    if (error) {
        error->status = status;
        error->offset = offset;
        std::vsnprintf(error->message, sizeof error->message, format, args);
    }
    return status;
}

int report(wsq_error *error, int status, size_t offset, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    describe(error, status, offset, format, args);
    va_end(args);
    return status;
}

/* A reader's pass over a transaction, reporting its flaw in error_. */
class pass {
protected:
    explicit pass(wsq_error *error) : error_(error) {}

    int fail(int status, size_t offset, const char *format, ...)
    {
        va_list args;
        va_start(args, format);
        describe(error_, status, offset, format, args);
        va_end(args);
        return status;
    }

    wsq_error *error_;
};

int succeed(wsq_error *error)
{
    if (error)
        *error = wsq_error();
    return WSQ_OK;
}

bool is_digit(uint8_t c)
{
    return c >= '0' && c <= '9';
}

/* Reads the decimal digits at data[*p..end), moving *p past them, into
 * *value (number_cap + 1 when larger); returns how many there were. */
size_t read_digits(const uint8_t *data, size_t *p, size_t end, uint32_t *value)
{
    size_t start = *p;
    uint32_t v = 0;
    for (; *p < end && is_digit(data[*p]); ++*p)
        v = std::min(v * 10 + (data[*p] - '0'), number_cap + 1);
    *value = v;
    return *p - start;
}

/* The number that the bytes [from, from + length) spell, all of them
 * digits, or -1. */
int32_t number_in(const uint8_t *data, size_t from, size_t length)
{
    uint32_t value;
    size_t p = from;
    if (read_digits(data, &p, from + length, &value) != length || length == 0 || value > number_cap)
        return -1;
    return (int32_t)value;
}

uint32_t big_endian(const uint8_t *p, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | p[i];
    return value;
}

/* A number in decimal. (Not std::to_string: its digit tables are template
 * instances that a shared library would export.) */
std::string decimal(size_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%zu", value);
    return text;
}

size_t decimal_digits(size_t value)
{
    size_t count = 1;
    while (value >= 10) {
        value /= 10;
        ++count;
    }
    return count;
}

bool is_binary_type(int32_t type)
{
    return type >= 3 && type <= 8;
}

size_t binary_header_size(int32_t type)
{
    return type == 7 ? 5 : type == 8 ? 12 : 18;
}

/* ---- Compression ------------------------------------------------------------ */

const char *const compression_names[] = {"NONE", "WSQ20", "JPEGB", "JPEGL", "JP2", "JP2L", "PNG"};
const int32_t compression_codes = 7;

/* The code of a tagged record's compression label; -1 when unknown. The
 * older label "WSQ" is WSQ's too. */
int32_t compression_of_label(const uint8_t *label, size_t length, bool any_case)
{
    auto is = [&](const char *name) {
        const char *text = (const char *)label;
        return length == std::strlen(name) &&
               (any_case ? strncasecmp(text, name, length) : std::strncmp(text, name, length)) == 0;
    };
    if (is("WSQ"))
        return WSQ_COMPRESSION_WSQ;
    for (int32_t code = 0; code < compression_codes; ++code)
        if (is(compression_names[code]))
            return code;
    return -1;
}

void set_compression(wsq_image_entry &image, int32_t code)
{
    image.compression = code >= 0 && code < compression_codes ? code : -1;
    std::snprintf(image.compression_name, sizeof image.compression_name, "%s",
                  image.compression >= 0 ? compression_names[code] : "");
}

/* ---- Indexing ----------------------------------------------------------------- */

const field_entry *find_field(const wsq_transaction &tx, const record_entry &r, int32_t number)
{
    for (uint32_t i = 0; i < r.fields; ++i)
        if (tx.fields[r.first_field + i].number == number)
            return &tx.fields[r.first_field + i];
    return nullptr;
}

/* The number a field holds as its first item, or -1 (absent, not digits). */
int32_t field_number(const wsq_transaction &tx, const record_entry &r, int32_t number)
{
    const field_entry *f = find_field(tx, r, number);
    if (!f)
        return -1;
    const uint8_t *data = tx.bytes.data();
    size_t end = f->value;
    while (end < f->value + f->length && data[end] != RS && data[end] != US)
        ++end;
    return number_in(data, f->value, end - f->value);
}

struct cnt_entry {
    int32_t type, idc;
    size_t offset, length;
};

/* Reads tx.bytes into tx's index: records, fields, images. Fails with the
 * first flaw that keeps records from being told apart. */
class indexer : pass {
public:
    indexer(wsq_transaction &tx, wsq_error *error)
        : pass(error), tx_(tx), data_(tx.bytes.data()), size_(tx.bytes.size())
    {
    }
    int run();

private:
    bool tolerate(int status, size_t offset, const char *format, ...);
    bool read_tag(size_t at, size_t end, int32_t *type, int32_t *number, size_t *value) const;
    int tagged_record(size_t at, record_entry &r);
    int binary_record(size_t at, int32_t type, record_entry &r);
    int read_cnt(const field_entry &cnt, plain_array<cnt_entry> &entries);
    bool looks_like_record(size_t at) const;
    int index_images();
    int index_binary_image(size_t index, int32_t ppi_native);
    int index_tagged_image(size_t index);
    int add_image(const wsq_image_entry &image, const image_places &places);
    int32_t native_ppi() const;
    int no_memory();

    wsq_transaction &tx_;
    const uint8_t *data_;
    size_t size_;
};

int indexer::no_memory()
{
    return fail(WSQ_ERR_MEMORY, 0, "no memory to index a transaction of %zu bytes", size_);
}

/* Whether the transaction is read tolerating what would be the flaw status;
 * the first thing tolerated becomes its warning. */
bool indexer::tolerate(int status, size_t offset, const char *format, ...)
{
    if (!tx_.tolerant)
        return false;
    if (tx_.warning.status == WSQ_OK) {
        va_list args;
        va_start(args, format);
        describe(&tx_.warning, status, offset, format, args);
        va_end(args);
    }
    return true;
}

/* A tag "T.N:" at data[at..end): its type, number and where its value starts. */
bool indexer::read_tag(size_t at, size_t end, int32_t *type, int32_t *number, size_t *value) const
{
    uint32_t t, n;
    size_t p = at;
    if (read_digits(data_, &p, end, &t) == 0 || p >= end || data_[p] != '.')
        return false;
    ++p;
    if (read_digits(data_, &p, end, &n) == 0 || p >= end || data_[p] != ':' || t > number_cap ||
        n > number_cap)
        return false;
    *type = (int32_t)t;
    *number = (int32_t)n;
    *value = p + 1;
    return true;
}

int indexer::tagged_record(size_t at, record_entry &r)
{
    int32_t type, number;
    size_t p;
    if (!read_tag(at, size_, &type, &number, &p))
        return fail(WSQ_ERR_TX_BAD_TAG, at, "no field tag (\"T.N:\") where a tagged record begins");
    if (number != 1)
        return fail(WSQ_ERR_TX_LEN_NOT_FIRST, at, "the record begins with field %d.%03d, not with its length (%d.001)",
                    type, number, type);
    size_t digits_at = p;
    uint32_t length;
    if (read_digits(data_, &p, size_, &length) == 0 || (p < size_ && data_[p] != GS && data_[p] != FS))
        return fail(WSQ_ERR_TX_LEN_NOT_NUMERIC, p, "the length of the record at offset %zu is not a decimal number", at);
    if (data_[digits_at] == '0' && p - digits_at > 1 &&
        !tolerate(WSQ_ERR_TX_LEN_NOT_NUMERIC, digits_at, "the length of the record at offset %zu has a leading zero", at))
        return fail(WSQ_ERR_TX_LEN_NOT_NUMERIC, digits_at, "the length of the record at offset %zu has a leading zero", at);
    if (length == size_ - at + 1 && data_[size_ - 1] != FS &&
        tolerate(WSQ_ERR_TX_FS_MISSING, size_, "the last record lacks its final FS, added here")) {
        if (!tx_.bytes.push_back(FS))
            return no_memory();
        data_ = tx_.bytes.data();
        size_ = tx_.bytes.size();
    }
    if (length > size_ - at)
        return fail(WSQ_ERR_TX_LEN_PAST_END, at, "a record of %s%u bytes runs past the end of the file (%zu bytes on)",
                    length > number_cap ? "over " : "", std::min(length, number_cap), size_ - at);
    size_t end = at + length;
    if (length == 0 || data_[end - 1] != FS)
        return fail(WSQ_ERR_TX_FS_MISSING, length ? end - 1 : at,
                    "the record at offset %zu of %u bytes does not end with FS", at, length);
    r = record_entry{-1, -1, type, true, at, length, tx_.fields.size(), 0, 0, 0};
    if (!tx_.fields.push_back({1, 1, at, digits_at, p - digits_at}))
        return no_memory();
    /* The final FS stops every scan below: data_[end - 1] is FS. */
    size_t q = p;
    while (data_[q] == GS) {
        size_t tag = q + 1, value;
        int32_t field_type;
        if (!read_tag(tag, end - 1, &field_type, &number, &value) || field_type != type)
            return fail(WSQ_ERR_TX_BAD_TAG, tag, "a field of the Type-%d record at offset %zu has no tag \"%d.N:\"",
                        type, at, type);
        uint32_t subfields = 1;
        if (number == 999) {
            q = end - 1;
        } else {
            for (q = value; data_[q] != GS && data_[q] != FS; ++q)
                subfields += data_[q] == RS;
        }
        if (!tx_.fields.push_back({number, subfields, tag, value, q - value}))
            return no_memory();
    }
    r.fields = (uint32_t)(tx_.fields.size() - r.first_field);
    if (q != end - 1)
        return fail(WSQ_ERR_TX_LEN_MISMATCH, q, "FS ends the record at offset %zu before the %u bytes its length says",
                    at, length);
    return WSQ_OK;
}

int indexer::binary_record(size_t at, int32_t type, record_entry &r)
{
    if (size_ - at < 4)
        return fail(WSQ_ERR_TX_LEN_PAST_END, at, "the length of a Type-%d record runs past the end of the file", type);
    uint32_t length = big_endian(data_ + at, 4);
    size_t header = binary_header_size(type);
    if (length < header)
        return fail(WSQ_ERR_TX_BINARY_LEN_SHORT, at, "a Type-%d record of %u bytes, shorter than its %zu-byte header",
                    type, length, header);
    if (length > size_ - at)
        return fail(WSQ_ERR_TX_LEN_PAST_END, at, "a Type-%d record of %u bytes runs past the end of the file (%zu bytes on)",
                    type, length, size_ - at);
    r = record_entry{-1, -1, type, false, at, length, tx_.fields.size(), 0, 0, 0};
    return WSQ_OK;
}

/* CNT: "1 US count", then "type US IDC" for each record after Type-1. */
int indexer::read_cnt(const field_entry &cnt, plain_array<cnt_entry> &entries)
{
    size_t p = cnt.value, end = cnt.value + cnt.length;
    uint32_t first, count;
    if (read_digits(data_, &p, end, &first) == 0 || first != 1 || p >= end || data_[p] != US)
        return fail(WSQ_ERR_TX_CNT_MALFORMED, cnt.value, "CNT (1.003) does not begin with 1, US and the count of records");
    tx_.count_offset = ++p;
    if (read_digits(data_, &p, end, &count) == 0 || (p < end && data_[p] != RS))
        return fail(WSQ_ERR_TX_CNT_MALFORMED, p, "CNT's count of records is not a decimal number");
    tx_.count_length = p - tx_.count_offset;
    while (p < end) {
        size_t start = ++p;
        uint32_t type, idc;
        if (read_digits(data_, &p, end, &type) == 0 || p >= end || data_[p] != US ||
            (++p, read_digits(data_, &p, end, &idc) == 0) || (p < end && data_[p] != RS))
            return fail(WSQ_ERR_TX_CNT_MALFORMED, start, "CNT entry %zu is not a record type, US and an IDC",
                        entries.size() + 1);
        if (type < 2 || type > 99)
            return fail(WSQ_ERR_TX_CNT_MALFORMED, start, "CNT entry %zu lists a record of type %u",
                        entries.size() + 1, std::min(type, number_cap));
        if (!entries.push_back({(int32_t)type, (int32_t)idc, start, p - start}))
            return no_memory();
    }
    if (count != entries.size())
        return fail(WSQ_ERR_TX_CNT_COUNT, tx_.count_offset, "CNT counts %s%u records and lists %zu",
                    count > number_cap ? "over " : "", std::min(count, number_cap), entries.size());
    return WSQ_OK;
}

/* Whether the bytes at `at` begin a record: a tagged record's length tag,
 * or a binary length that the rest of the file holds. */
bool indexer::looks_like_record(size_t at) const
{
    int32_t type, number;
    size_t value;
    if (read_tag(at, size_, &type, &number, &value))
        return number == 1;
    if (size_ - at < 5)
        return false;
    uint32_t length = big_endian(data_ + at, 4);
    return length >= 5 && length <= size_ - at;
}

int indexer::run()
{
    record_entry first;
    int32_t type, number;
    size_t value;
    if (!read_tag(0, size_, &type, &number, &value) || type != 1)
        return fail(WSQ_ERR_TX_BAD_TAG, 0, "the file does not begin with a Type-1 record (\"1.001:\")");
    int status = tagged_record(0, first);
    if (status != WSQ_OK)
        return status;
    first.type = 1;
    if (!tx_.records.push_back(first))
        return no_memory();
    const field_entry *cnt = find_field(tx_, first, 3);
    if (!cnt)
        return fail(WSQ_ERR_TX_MANDATORY_MISSING, 0, "the Type-1 record has no CNT field (1.003)");
    plain_array<cnt_entry> entries;
    if ((status = read_cnt(*cnt, entries)) != WSQ_OK)
        return status;
    size_t at = first.length;
    for (const cnt_entry &e : entries) {
        if (at == size_)
            return fail(WSQ_ERR_TX_CNT_COUNT, at, "the file ends after %zu of the %zu records CNT lists",
                        tx_.records.size() - 1, entries.size());
        record_entry r;
        status = is_binary_type(e.type) ? binary_record(at, e.type, r) : tagged_record(at, r);
        if (status != WSQ_OK)
            return status;
        r.type = e.type;
        r.idc = e.idc;
        r.cnt_offset = e.offset;
        r.cnt_length = e.length;
        if (!tx_.records.push_back(r))
            return no_memory();
        at += r.length;
    }
    bool padding = std::all_of(data_ + at, data_ + size_, [](uint8_t c) { return c == '\r' || c == '\n' || c == 0; });
    if (at < size_ && padding &&
        tolerate(WSQ_ERR_TX_TRAILING_BYTES, at, "%zu bytes of CR, LF or NUL after the last record, outside every record",
                 size_ - at))
        size_ = at;
    if (at < size_) {
        if (looks_like_record(at))
            return fail(WSQ_ERR_TX_CNT_COUNT, at, "a record follows the %zu that CNT lists", entries.size());
        return fail(WSQ_ERR_TX_TRAILING_BYTES, at, "%zu bytes after the last record", size_ - at);
    }
    return index_images();
}

/* Type-1's native scanning resolution (1.011 NSR, "NN.NN" pixels per
 * millimetre) in pixels per inch; 0 when it is not of that form or 0. */
int32_t indexer::native_ppi() const
{
    const field_entry *nsr = find_field(tx_, tx_.records[0], 11);
    if (!nsr || nsr->length != 5 || data_[nsr->value + 2] != '.')
        return 0;
    int32_t whole = number_in(data_, nsr->value, 2), hundredths = number_in(data_, nsr->value + 3, 2);
    if (whole < 0 || hundredths < 0)
        return 0;
    return ((whole * 100 + hundredths) * 254 + 500) / 1000;
}

int indexer::index_images()
{
    int32_t ppi_native = native_ppi();
    for (size_t i = 1; i < tx_.records.size(); ++i) {
        int status = tx_.records[i].tagged ? index_tagged_image(i) : index_binary_image(i, ppi_native);
        if (status != WSQ_OK)
            return status;
    }
    return WSQ_OK;
}

int indexer::add_image(const wsq_image_entry &image, const image_places &places)
{
    return tx_.images.push_back(image) && tx_.places.push_back(places) ? WSQ_OK : no_memory();
}

wsq_image_entry blank_image(size_t index, const record_entry &r)
{
    wsq_image_entry image;
    std::memset(&image, 0, sizeof image);
    image.record = index;
    image.type = r.type;
    image.idc = r.idc;
    image.impression = image.compression = image.width = image.height = image.bits_per_pixel = -1;
    return image;
}

/* A Type-7 record carries Type-4's header when that header describes its
 * data: uncompressed pixels of its size, or a WSQ stream. */
bool has_print_header(const uint8_t *record, size_t length)
{
    if (length < 18)
        return false;
    uint32_t width = big_endian(record + 13, 2), height = big_endian(record + 15, 2);
    if (record[17] == 0)
        return width > 0 && height > 0 && (size_t)width * height == length - 18;
    return record[17] == 1 && length >= 20 && record[18] == 0xFF && record[19] == 0xA0;
}

int indexer::index_binary_image(size_t index, int32_t ppi_native)
{
    const record_entry &r = tx_.records[index];
    const uint8_t *record = data_ + r.offset;
    wsq_image_entry image = blank_image(index, r);
    image_places places = {r.offset + 13, r.offset + 17};
    bool print = r.type != 7 || has_print_header(record, r.length);
    size_t header = r.type == 7 && !print ? 5 : binary_header_size(r.type);
    if (r.type == 8) {
        image.width = (int32_t)big_endian(record + 8, 2);
        image.height = (int32_t)big_endian(record + 10, 2);
        set_compression(image, record[6] == 0 ? WSQ_COMPRESSION_NONE : -1);
        image.ppi = record[7] == 0 ? 500 : record[7] == 1 ? ppi_native : 0;
        places = {r.offset + 8, r.offset + 6};
    } else if (print) {
        image.impression = record[5];
        for (int k = 0; k < 6; ++k)
            if (record[6 + k] != 255)
                image.positions[image.position_count++] = record[6 + k];
        image.width = (int32_t)big_endian(record + 13, 2);
        image.height = (int32_t)big_endian(record + 15, 2);
        bool bilevel = r.type == 5 || r.type == 6;
        image.bits_per_pixel = bilevel ? 1 : 8;
        set_compression(image, bilevel && record[17] != 0 ? -1 : record[17]);
        /* The minimum scanning resolution: 500 ppi, 250 for the low-resolution Types 3 and 5. */
        int32_t minimum = r.type == 3 || r.type == 5 ? 250 : 500;
        image.ppi = record[12] == 0 ? minimum : record[12] == 1 ? ppi_native : 0;
    }
    image.data_offset = r.offset + header;
    image.data_length = r.length - header;
    return add_image(image, places);
}

bool is_image_type(int32_t type)
{
    return type == 10 || (type >= 13 && type <= 17) || type == 19;
}

/* Types whose fields 3, 12 and 13 are impression, bits per pixel and positions. */
bool is_print_type(int32_t type)
{
    return (type >= 13 && type <= 15) || type == 19;
}

int indexer::index_tagged_image(size_t index)
{
    const record_entry &r = tx_.records[index];
    const field_entry *data = find_field(tx_, r, 999);
    bool declares_size = find_field(tx_, r, 6) && find_field(tx_, r, 7);
    if (!data || !(is_image_type(r.type) || declares_size))
        return WSQ_OK;
    wsq_image_entry image = blank_image(index, r);
    image.width = field_number(tx_, r, 6);
    image.height = field_number(tx_, r, 7);
    if (is_print_type(r.type))
        image.impression = field_number(tx_, r, 3);
    if (r.type != 10)
        image.bits_per_pixel = field_number(tx_, r, 12);
    if (const field_entry *positions = is_print_type(r.type) ? find_field(tx_, r, 13) : nullptr) {
        /* The first item of each subfield, in one pass over the value. */
        size_t item = positions->value, end = item + positions->length;
        while (image.position_count < 6) {
            size_t p = item;
            while (p < end && data_[p] != US && data_[p] != RS)
                ++p;
            int32_t position = number_in(data_, item, p - item);
            if (position >= 0 && position != 255)
                image.positions[image.position_count++] = position;
            const void *next = std::memchr(data_ + p, RS, end - p);
            if (!next)
                break;
            item = (size_t)((const uint8_t *)next - data_) + 1;
        }
    }
    const field_entry *label = find_field(tx_, r, 11);
    if (label) {
        int32_t code = compression_of_label(data_ + label->value, label->length, false);
        if (code < 0 && (code = compression_of_label(data_ + label->value, label->length, tx_.tolerant)) >= 0)
            tolerate(WSQ_ERR_TX_CGA_UNKNOWN, label->value, "the compression label of the Type-%d record at offset %zu is not in capitals", r.type, r.offset);
        set_compression(image, code);
        if (image.compression < 0)
            std::snprintf(image.compression_name, sizeof image.compression_name, "%.*s",
                          (int)std::min<size_t>(label->length, 15), (const char *)data_ + label->value);
    }
    int32_t scale = field_number(tx_, r, 9), units = field_number(tx_, r, 8);
    if (scale > 0 && units == 1)
        image.ppi = scale;
    else if (scale > 0 && units == 2)
        image.ppi = (int32_t)(((int64_t)scale * 254 + 50) / 100);
    const field_entry *width = find_field(tx_, r, 6);
    image.data_offset = data->value;
    image.data_length = data->length;
    return add_image(image, {width ? width->value : r.offset, label ? label->value : r.offset});
}

/* Indexes the bytes of a transaction not yet indexed; on failure the index
 * is left empty. */
int index_transaction(wsq_transaction &tx, wsq_error *error)
{
    int status = indexer(tx, error).run();
    if (status != WSQ_OK) {
        tx.records.clear();
        tx.fields.clear();
        tx.images.clear();
        tx.places.clear();
    }
    /* The index takes no more than its entries: at most about 25 bytes for
     * each byte of the file (a 5-byte Type-7 record and its CNT entry). */
    tx.records.shrink_to_fit();
    tx.fields.shrink_to_fit();
    tx.images.shrink_to_fit();
    tx.places.shrink_to_fit();
    return status;
}

}  // namespace

/* ==== Reading ================================================================== */

namespace {

int read_transaction(wsq_transaction **transaction, wsq_error *error, const uint8_t *data, size_t size,
                     bool tolerant)
{
    if (transaction)
        *transaction = nullptr;
    if (!transaction || (!data && size > 0))
        return report(error, WSQ_ERR_ARGUMENT, 0, "a null pointer");
    wsq_transaction *tx = new (std::nothrow) wsq_transaction;
    if (!tx || !tx->bytes.append(data, size)) {
        delete tx;
        return report(error, WSQ_ERR_MEMORY, 0, "no memory for a transaction of %zu bytes", size);
    }
    tx->tolerant = tolerant;
    int status = index_transaction(*tx, error);
    if (status != WSQ_OK) {
        delete tx;
        return status;
    }
    *transaction = tx;
    return succeed(error);
}

}  // namespace

int wsq_transaction_read(wsq_transaction **transaction, wsq_error *error, const uint8_t *data,
                         size_t size)
{
    return read_transaction(transaction, error, data, size, false);
}

int wsq_transaction_read_tolerant(wsq_transaction **transaction, wsq_error *error,
                                  const uint8_t *data, size_t size)
{
    return read_transaction(transaction, error, data, size, true);
}

int wsq_transaction_warning(const wsq_transaction *transaction, wsq_error *warning)
{
    if (!transaction || !warning)
        return WSQ_ERR_ARGUMENT;
    *warning = transaction->warning;
    return WSQ_OK;
}

void wsq_transaction_free(wsq_transaction *transaction)
{
    delete transaction;
}

const uint8_t *wsq_transaction_bytes(const wsq_transaction *transaction, size_t *size)
{
    if (size)
        *size = transaction ? transaction->bytes.size() : 0;
    return transaction ? transaction->bytes.data() : nullptr;
}

int wsq_transaction_write(uint8_t **bytes, size_t *size, wsq_error *error,
                          const wsq_transaction *transaction)
{
    if (bytes)
        *bytes = nullptr;
    if (size)
        *size = 0;
    if (!bytes || !size || !transaction)
        return report(error, WSQ_ERR_ARGUMENT, 0, "a null pointer");
    size_t length = transaction->bytes.size();
    *bytes = (uint8_t *)std::malloc(length ? length : 1);
    if (!*bytes)
        return report(error, WSQ_ERR_MEMORY, 0, "no memory for %zu bytes", length);
    std::memcpy(*bytes, transaction->bytes.data(), length);
    *size = length;
    return succeed(error);
}

/* ==== Records and fields ======================================================= */

size_t wsq_transaction_record_count(const wsq_transaction *transaction)
{
    return transaction ? transaction->records.size() : 0;
}

int wsq_transaction_record(const wsq_transaction *transaction, size_t index, wsq_record *out)
{
    if (!transaction || !out || index >= transaction->records.size())
        return WSQ_ERR_ARGUMENT;
    const record_entry &r = transaction->records[index];
    *out = wsq_record{r.type, r.idc, r.tagged, r.fields, r.offset, r.length};
    return WSQ_OK;
}

namespace {

const field_entry *field_at(const wsq_transaction *tx, size_t record, size_t field)
{
    if (!tx || record >= tx->records.size() || field >= tx->records[record].fields)
        return nullptr;
    return &tx->fields[tx->records[record].first_field + field];
}

/* The span of piece `index` of [from, from + length) cut at separator. */
bool piece_of(const uint8_t *data, size_t from, size_t length, uint8_t separator, uint32_t index,
              size_t *offset, size_t *piece_length, uint32_t *pieces)
{
    size_t end = from + length, start = from;
    uint32_t k = 0;
    bool found = false;
    for (size_t p = from;; ++p) {
        if (p == end || data[p] == separator) {
            if (k == index) {
                *offset = start;
                *piece_length = p - start;
                found = true;
            }
            ++k;
            start = p + 1;
            if (p == end)
                break;
        }
    }
    if (pieces)
        *pieces = k;
    return found;
}

}  // namespace

int wsq_transaction_field(const wsq_transaction *transaction, size_t record, size_t index,
                          wsq_field *out)
{
    const field_entry *f = field_at(transaction, record, index);
    if (!f || !out)
        return WSQ_ERR_ARGUMENT;
    *out = wsq_field{f->number, f->subfields, f->tag, f->value, f->length};
    return WSQ_OK;
}

int wsq_transaction_find_field(const wsq_transaction *transaction, size_t record, int32_t number,
                               size_t *index)
{
    if (!index)
        return WSQ_ERR_ARGUMENT;
    *index = no_index;
    if (!transaction || record >= transaction->records.size())
        return WSQ_ERR_ARGUMENT;
    const record_entry &r = transaction->records[record];
    const field_entry *f = find_field(*transaction, r, number);
    if (!f)
        return WSQ_ERR_ARGUMENT;
    *index = (size_t)(f - &transaction->fields[r.first_field]);
    return WSQ_OK;
}

int wsq_transaction_subfield(const wsq_transaction *transaction, size_t record, size_t field,
                             uint32_t subfield, size_t *offset, size_t *length, uint32_t *items)
{
    const field_entry *f = field_at(transaction, record, field);
    if (!f || !offset || !length || subfield >= f->subfields)
        return WSQ_ERR_ARGUMENT;
    if (f->number == 999) {
        *offset = f->value;
        *length = f->length;
        if (items)
            *items = 1;
        return WSQ_OK;
    }
    const uint8_t *data = transaction->bytes.data();
    piece_of(data, f->value, f->length, RS, subfield, offset, length, nullptr);
    size_t item_offset, item_length;
    if (items)
        piece_of(data, *offset, *length, US, 0, &item_offset, &item_length, items);
    return WSQ_OK;
}

int wsq_transaction_item(const wsq_transaction *transaction, size_t record, size_t field,
                         uint32_t subfield, uint32_t item, size_t *offset, size_t *length)
{
    size_t from, span;
    int status = wsq_transaction_subfield(transaction, record, field, subfield, &from, &span, nullptr);
    if (status != WSQ_OK || !offset || !length)
        return WSQ_ERR_ARGUMENT;
    if (field_at(transaction, record, field)->number == 999) {
        if (item != 0)
            return WSQ_ERR_ARGUMENT;
        *offset = from;
        *length = span;
        return WSQ_OK;
    }
    return piece_of(transaction->bytes.data(), from, span, US, item, offset, length, nullptr)
               ? WSQ_OK
               : WSQ_ERR_ARGUMENT;
}

int wsq_transaction_binary_header(const wsq_transaction *transaction, size_t record,
                                  wsq_binary_header *out)
{
    if (!transaction || !out || record >= transaction->records.size() ||
        transaction->records[record].tagged)
        return WSQ_ERR_ARGUMENT;
    const record_entry &r = transaction->records[record];
    const uint8_t *b = transaction->bytes.data() + r.offset;
    wsq_binary_header h;
    h.idc = b[4];
    h.impression = h.resolution = h.width = h.height = h.compression = -1;
    h.signature = h.representation = -1;
    for (int32_t &position : h.positions)
        position = -1;
    if (r.type == 8) {
        h.size = 12;
        h.signature = b[5];
        h.representation = b[6];
        h.resolution = b[7];
        h.width = (int32_t)big_endian(b + 8, 2);
        h.height = (int32_t)big_endian(b + 10, 2);
    } else if (r.type != 7 || has_print_header(b, r.length)) {
        h.size = 18;
        h.impression = b[5];
        for (int k = 0; k < 6; ++k)
            h.positions[k] = b[6 + k];
        h.resolution = b[12];
        h.width = (int32_t)big_endian(b + 13, 2);
        h.height = (int32_t)big_endian(b + 15, 2);
        h.compression = b[17];
    } else {
        h.size = 5;
    }
    *out = h;
    return WSQ_OK;
}

size_t wsq_transaction_image_count(const wsq_transaction *transaction)
{
    return transaction ? transaction->images.size() : 0;
}

int wsq_transaction_image(const wsq_transaction *transaction, size_t index, wsq_image_entry *out)
{
    if (!transaction || !out || index >= transaction->images.size())
        return WSQ_ERR_ARGUMENT;
    *out = transaction->images[index];
    return WSQ_OK;
}

/* ==== Check ==================================================================== */

namespace {

bool is_leap(int32_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

/* YYYYMMDD, a day of the calendar. */
bool is_date(const uint8_t *text, size_t length)
{
    if (length != 8)
        return false;
    int32_t year = number_in(text, 0, 4), month = number_in(text, 4, 2), day = number_in(text, 6, 2);
    static const int32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return year >= 0 && month >= 1 && month <= 12 && day >= 1 &&
           day <= days[month - 1] + (month == 2 && is_leap(year));
}

/* NN.NN, a resolution in pixels per millimetre. */
bool is_resolution(const uint8_t *text, size_t length)
{
    return length == 5 && number_in(text, 0, 2) >= 0 && text[2] == '.' && number_in(text, 3, 2) >= 0;
}

/* The check of one transaction: each method returns WSQ_OK or its flaw. */
class checker : pass {
public:
    explicit checker(const wsq_transaction &tx) : pass(&found_), tx_(tx), data_(tx.bytes.data()) {}
    size_t run(wsq_error *flaws, size_t capacity, bool all);

private:
    /* Bit type x 100 + IDC for each record of a type and IDC met. */
    using identities = std::bitset<100 * 100>;

    int check_type1();
    int check_identity(size_t index, identities &seen);
    int check_mandatory(const record_entry &r, uint32_t fields, const char *what);
    int check_tagged_image_fields(const record_entry &r);
    int check_image(const wsq_image_entry &image, const image_places &places);
    int check_wsq(const wsq_image_entry &image, const image_places &places);

    const wsq_transaction &tx_;
    const uint8_t *data_;
    wsq_error found_;  /* the flaw a check method found */
};

uint32_t field_bits(std::initializer_list<int> numbers)
{
    uint32_t bits = 0;
    for (int n : numbers)
        bits |= 1u << n;
    return bits;
}

/* Fields (bit n for field n, n below 32) that record r must have. */
int checker::check_mandatory(const record_entry &r, uint32_t fields, const char *what)
{
    for (int32_t n = 1; n < 32; ++n)
        if (fields >> n & 1 && !find_field(tx_, r, n))
            return fail(WSQ_ERR_TX_MANDATORY_MISSING, r.offset, "the Type-%d record at offset %zu has no field %d.%03d%s",
                        r.type, r.offset, r.type, n, what);
    return WSQ_OK;
}

int checker::check_type1()
{
    const record_entry &r = tx_.records[0];
    int status = check_mandatory(r, field_bits({1, 2, 3, 4, 5, 7, 8, 9, 11, 12}), "");
    if (status != WSQ_OK)
        return status;
    const field_entry *version = find_field(tx_, r, 2), *date = find_field(tx_, r, 5);
    if (version->length != 4 || number_in(data_, version->value, 4) < 0)
        return fail(WSQ_ERR_TX_BAD_VALUE, version->value, "VER (1.002) is not four digits");
    if (!is_date(data_ + date->value, date->length))
        return fail(WSQ_ERR_TX_BAD_VALUE, date->value, "DAT (1.005) is not a date YYYYMMDD");
    for (int32_t n : {11, 12}) {
        const field_entry *f = find_field(tx_, r, n);
        if (!is_resolution(data_ + f->value, f->length))
            return fail(WSQ_ERR_TX_BAD_VALUE, f->value, "%s (1.%03d) is not a resolution NN.NN",
                        n == 11 ? "NSR" : "NTR", n);
    }
    return WSQ_OK;
}

/* The record has CNT's type and IDC, and no other record its type and IDC. */
int checker::check_identity(size_t index, identities &seen)
{
    const record_entry &r = tx_.records[index];
    if (r.idc > 99)
        return fail(WSQ_ERR_TX_BAD_VALUE, r.cnt_offset, "CNT lists IDC %d, above 99", r.idc);
    if (r.tagged) {
        if (r.tag_type != r.type)
            return fail(WSQ_ERR_TX_CNT_MISMATCH, r.offset, "a Type-%d record where CNT lists a Type-%d",
                        r.tag_type, r.type);
        const field_entry *idc = find_field(tx_, r, 2);
        if (!idc)
            return fail(WSQ_ERR_TX_MANDATORY_MISSING, r.offset, "the Type-%d record at offset %zu has no IDC (%d.002)",
                        r.type, r.offset, r.type);
        if (number_in(data_, idc->value, idc->length) != r.idc)
            return fail(WSQ_ERR_TX_CNT_MISMATCH, idc->value, "IDC \"%.*s\" where CNT lists %d",
                        (int)std::min<size_t>(idc->length, 20), (const char *)data_ + idc->value, r.idc);
    } else if (data_[r.offset + 4] != r.idc) {
        return fail(WSQ_ERR_TX_CNT_MISMATCH, r.offset + 4, "IDC %d where CNT lists %d", data_[r.offset + 4], r.idc);
    }
    size_t key = (size_t)r.type * 100 + (size_t)r.idc;
    if (seen[key])
        return fail(WSQ_ERR_TX_IDC_DUPLICATE, r.offset, "a second Type-%d record with IDC %d", r.type, r.idc);
    seen[key] = true;
    return WSQ_OK;
}

/* A tagged image record's fields: those it must have when it holds data,
 * and its capture date. */
int checker::check_tagged_image_fields(const record_entry &r)
{
    if (!find_field(tx_, r, 999) || !is_image_type(r.type))
        return WSQ_OK;
    uint32_t fields = field_bits({3, 6, 7, 8, 9, 10, 11, 12});  /* Type-17 */
    if (is_print_type(r.type))
        fields = field_bits({3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
    else if (r.type == 16)
        fields = field_bits({3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    else if (r.type == 10)
        fields = field_bits({3, 4, 5, 6, 7, 8, 9, 10, 11});
    int status = check_mandatory(r, fields, " that an image needs");
    if (status != WSQ_OK)
        return status;
    const field_entry *date = find_field(tx_, r, 5);
    if (date && !is_date(data_ + date->value, date->length))
        return fail(WSQ_ERR_TX_BAD_VALUE, date->value, "the date %d.005 is not YYYYMMDD", r.type);
    return WSQ_OK;
}

int checker::check_wsq(const wsq_image_entry &image, const image_places &places)
{
    const uint8_t *stream = data_ + image.data_offset;
    if (image.data_length < 2 || stream[0] != 0xFF || stream[1] != 0xA0)
        return fail(WSQ_ERR_TX_WSQ_BAD, image.data_offset,
                    "the Type-%d record's data does not start a WSQ stream (FF A0)", image.type);
    wsq_info info;
    wsq_error problem;
    if (wsq_read_info(&info, &problem, stream, image.data_length) != WSQ_OK)
        return fail(WSQ_ERR_TX_WSQ_BAD, image.data_offset + problem.offset, "the Type-%d record's WSQ stream: %s",
                    image.type, problem.message);
    if (info.stream_bytes != image.data_length)
        return fail(WSQ_ERR_TX_WSQ_BAD, image.data_offset + info.stream_bytes,
                    "another stream follows the Type-%d record's WSQ stream", image.type);
    if (info.width != image.width || info.height != image.height)
        return fail(WSQ_ERR_TX_HLL_VLL_MISMATCH, places.width,
                    "the Type-%d record declares %d x %d pixels, its WSQ stream holds %d x %d", image.type,
                    image.width, image.height, info.width, info.height);
    return WSQ_OK;
}

int checker::check_image(const wsq_image_entry &image, const image_places &places)
{
    const record_entry &r = tx_.records[image.record];
    bool labelled = r.tagged ? find_field(tx_, r, 11) != nullptr : r.type == 3 || r.type == 4;
    if (labelled && image.compression < 0)
        return fail(WSQ_ERR_TX_CGA_UNKNOWN, places.compression, "the Type-%d record's compression %s%s is unknown",
                    image.type, r.tagged ? "label " : "code ",
                    r.tagged ? image.compression_name : decimal(data_[places.compression]).c_str());
    if (image.compression == WSQ_COMPRESSION_WSQ)
        return check_wsq(image, places);
    if (image.compression == WSQ_COMPRESSION_NONE && image.bits_per_pixel >= 8 && image.width >= 0 &&
        image.height >= 0) {
        uint64_t bits = (uint64_t)image.width * (uint64_t)image.height * (uint64_t)image.bits_per_pixel;
        if ((bits + 7) / 8 != image.data_length)
            return fail(WSQ_ERR_TX_RAW_SIZE_MISMATCH, image.data_offset,
                        "%zu bytes of uncompressed data, and %d x %d pixels of %d bits take %llu",
                        image.data_length, image.width, image.height, image.bits_per_pixel,
                        (unsigned long long)((bits + 7) / 8));
    }
    return WSQ_OK;
}

/* The first flaw of each record in file order, as many as capacity of them
 * into flaws; returns their number. With all false, the first flaw alone. */
size_t checker::run(wsq_error *flaws, size_t capacity, bool all)
{
    size_t count = 0;
    identities seen;
    size_t image = 0;
    for (size_t i = 0; i < tx_.records.size(); ++i) {
        int status = i == 0 ? check_type1() : check_identity(i, seen);
        if (status == WSQ_OK && tx_.records[i].tagged && i > 0)
            status = check_tagged_image_fields(tx_.records[i]);
        for (; image < tx_.images.size() && tx_.images[image].record == i; ++image)
            if (status == WSQ_OK)
                status = check_image(tx_.images[image], tx_.places[image]);
        if (status != WSQ_OK) {
            if (count < capacity)
                flaws[count] = found_;
            ++count;
            if (!all)
                break;
        }
    }
    return count;
}

}  // namespace

int wsq_transaction_check(const wsq_transaction *transaction, wsq_error *error)
{
    if (!transaction)
        return report(error, WSQ_ERR_ARGUMENT, 0, "a null transaction");
    wsq_error flaw;
    if (checker(*transaction).run(&flaw, 1, false) == 0)
        return succeed(error);
    if (error)
        *error = flaw;
    return flaw.status;
}

int wsq_transaction_check_all(const wsq_transaction *transaction, wsq_error *flaws, size_t capacity,
                              size_t *count)
{
    if (count)
        *count = 0;
    if (!transaction || !count || (!flaws && capacity > 0))
        return WSQ_ERR_ARGUMENT;
    *count = checker(*transaction).run(flaws, capacity, true);
    return WSQ_OK;
}

/* ==== Edits ==================================================================== */

namespace {

/* SHA-256 of a run of bytes, as 64 hexadecimal digits. */
class sha256 {
public:
    std::string hex(const uint8_t *data, size_t size, bool lower);

private:
    void block(const uint8_t *p);
    uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
};

uint32_t rotate(uint32_t x, int n)
{
    return x >> n | x << (32 - n);
}

void sha256::block(const uint8_t *p)
{
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = big_endian(p + 4 * i, 4);
    for (int i = 16; i < 64; ++i)
        w[i] = w[i - 16] + (rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ w[i - 15] >> 3) + w[i - 7] +
               (rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ w[i - 2] >> 10);
    uint32_t v[8];
    std::copy(h_, h_ + 8, v);
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 = v[7] + (rotate(v[4], 6) ^ rotate(v[4], 11) ^ rotate(v[4], 25)) +
                      ((v[4] & v[5]) ^ (~v[4] & v[6])) + k[i] + w[i];
        uint32_t t2 = (rotate(v[0], 2) ^ rotate(v[0], 13) ^ rotate(v[0], 22)) +
                      ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
        std::copy_backward(v, v + 7, v + 8);
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i)
        h_[i] += v[i];
}

std::string sha256::hex(const uint8_t *data, size_t size, bool lower)
{
    size_t whole = size / 64 * 64;
    for (size_t at = 0; at < whole; at += 64)
        block(data + at);
    uint8_t tail[128] = {};
    size_t rest = size - whole, padded = rest < 56 ? 64 : 128;
    std::memcpy(tail, data + whole, rest);
    tail[rest] = 0x80;
    for (int i = 0; i < 8; ++i)
        tail[padded - 1 - i] = (uint8_t)((uint64_t)size * 8 >> 8 * i);
    for (size_t at = 0; at < padded; at += 64)
        block(tail + at);
    std::string text;
    char digits[9];
    for (uint32_t h : h_) {
        std::snprintf(digits, sizeof digits, lower ? "%08x" : "%08X", h);
        text += digits;
    }
    return text;
}

std::string text_of(const wsq_transaction &tx, size_t from, size_t length)
{
    return std::string((const char *)tx.bytes.data() + from, length);
}

/* A field of a tagged record being rebuilt: its number, tag and value. */
struct piece {
    int32_t number;
    std::string tag, value;
};

std::vector<piece> pieces_of(const wsq_transaction &tx, const record_entry &r)
{
    std::vector<piece> pieces;
    for (uint32_t i = 0; i < r.fields; ++i) {
        const field_entry &f = tx.fields[r.first_field + i];
        pieces.push_back({f.number, text_of(tx, f.tag, f.value - f.tag), text_of(tx, f.value, f.length)});
    }
    return pieces;
}

/* The bytes of a tagged record of these fields, the first its length: the
 * smallest that counts its own digits (a base of 998 gives 1002, not 1001). */
std::string tagged_bytes(std::vector<piece> fields)
{
    size_t base = fields.size();  /* a GS after each field but the last, then FS */
    for (size_t i = 0; i < fields.size(); ++i)
        base += fields[i].tag.size() + (i > 0 ? fields[i].value.size() : 0);
    size_t digits = 1;
    while (decimal_digits(base + digits) != digits)
        ++digits;
    fields[0].value = decimal(base + digits);
    std::string bytes;
    bytes.reserve(base + digits);
    for (size_t i = 0; i < fields.size(); ++i)
        bytes += fields[i].tag + fields[i].value + (char)(i + 1 < fields.size() ? GS : FS);
    return bytes;
}

/* Sets a field's value where it stands, or inserts the field before the
 * first of a higher number; an empty value removes it. */
void set_piece(std::vector<piece> &fields, int32_t type, int32_t number, std::string value)
{
    auto it = std::find_if(fields.begin(), fields.end(), [&](const piece &p) { return p.number == number; });
    if (it != fields.end()) {
        if (value.empty())
            fields.erase(it);
        else
            it->value = std::move(value);
        return;
    }
    if (value.empty())
        return;
    auto before = std::find_if(fields.begin() + 1, fields.end(), [&](const piece &p) { return p.number > number; });
    char tag[32];
    std::snprintf(tag, sizeof tag, "%d.%03d:", type, number);
    fields.insert(before, {number, tag, std::move(value)});
}

/* CNT's entries after its first subfield, "type US IDC", as they stand. */
std::vector<std::string> cnt_entries(const wsq_transaction &tx)
{
    std::vector<std::string> entries;
    for (size_t i = 1; i < tx.records.size(); ++i)
        entries.push_back(text_of(tx, tx.records[i].cnt_offset, tx.records[i].cnt_length));
    return entries;
}

std::string cnt_entry(int32_t type, int32_t idc)
{
    return decimal(type) + (char)US + decimal(idc);
}

/* The Type-1 record with CNT listing entries; its count keeps its spelling
 * while its value holds. */
std::string type1_listing(const wsq_transaction &tx, const std::vector<std::string> &entries)
{
    const record_entry &r = tx.records[0];
    const field_entry *cnt = find_field(tx, r, 3);
    std::string listing = text_of(tx, cnt->value, tx.count_offset - cnt->value);
    bool same_count = number_in(tx.bytes.data(), tx.count_offset, tx.count_length) == (int32_t)entries.size();
    listing += same_count ? text_of(tx, tx.count_offset, tx.count_length) : decimal(entries.size());
    for (const std::string &entry : entries)
        listing += (char)RS + entry;
    std::vector<piece> fields = pieces_of(tx, r);
    set_piece(fields, r.tag_type, 3, listing);
    return tagged_bytes(fields);
}

/* What an edit changes: records replaced, one inserted, one removed. */
struct rewrite {
    std::vector<std::pair<size_t, std::string>> replaced;
    size_t inserted_at = no_index, removed = no_index;
    std::string inserted;
};

bool append(plain_array<uint8_t> &out, const std::string &bytes)
{
    return out.append((const uint8_t *)bytes.data(), bytes.size());
}

/* Appends the bytes of record i after the edit: none when it is removed. */
bool append_record(plain_array<uint8_t> &out, const wsq_transaction &tx, const rewrite &w, size_t i)
{
    if (i == w.removed)
        return true;
    auto replaced = std::find_if(w.replaced.begin(), w.replaced.end(),
                                 [&](const std::pair<size_t, std::string> &r) { return r.first == i; });
    if (replaced != w.replaced.end())
        return append(out, replaced->second);
    return out.append(tx.bytes.data() + tx.records[i].offset, tx.records[i].length);
}

/* Builds the edited bytes and indexes them; tx changes only on success. */
int apply(wsq_transaction *tx, const rewrite &w, wsq_error *error)
{
    wsq_transaction next;
    next.tolerant = tx->tolerant;
    size_t count = tx->records.size();
    for (size_t i = 0; i <= count; ++i) {
        bool room = i != w.inserted_at || append(next.bytes, w.inserted);
        if (!room || (i < count && !append_record(next.bytes, *tx, w, i)))
            return report(error, WSQ_ERR_MEMORY, 0, "no memory for the edited transaction");
    }
    int status = index_transaction(next, error);
    if (status != WSQ_OK)
        return status;
    *tx = std::move(next);
    return succeed(error);
}

int refuse(wsq_error *error, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    describe(error, WSQ_ERR_ARGUMENT, 0, format, args);
    va_end(args);
    return WSQ_ERR_ARGUMENT;
}

bool idc_taken(const wsq_transaction &tx, int32_t type, int32_t idc, size_t except)
{
    for (size_t i = 1; i < tx.records.size(); ++i)
        if (i != except && tx.records[i].type == type && tx.records[i].idc == idc)
            return true;
    return false;
}

/* Whether record can take a WSQ print; the reason in error when not. */
int check_print_record(const wsq_transaction *tx, size_t record, wsq_error *error)
{
    if (!tx)
        return refuse(error, "a null transaction");
    if (record == 0 || record >= tx->records.size())
        return refuse(error, "no record %zu to put an image in (records 1 to %zu)", record, tx->records.size() - 1);
    const record_entry &r = tx->records[record];
    if (r.type != 4 && !(r.tagged && (is_print_type(r.type) || r.type == 16)))
        return refuse(error, "record %zu is of Type-%d, which holds no WSQ print", record, r.type);
    return WSQ_OK;
}

void put_big_endian(std::string &bytes, size_t at, uint32_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes[at + i] = (char)(value >> 8 * (count - 1 - i));
}

/* The record with the new stream as its image. */
std::string record_with_image(const wsq_transaction &tx, const record_entry &r, const uint8_t *stream,
                              size_t size, const wsq_info &info)
{
    std::string data((const char *)stream, size);
    if (!r.tagged) {
        std::string record = text_of(tx, r.offset, 18) + data;
        put_big_endian(record, 0, (uint32_t)record.size(), 4);
        put_big_endian(record, 13, (uint32_t)info.width, 2);
        put_big_endian(record, 15, (uint32_t)info.height, 2);
        record[17] = WSQ_COMPRESSION_WSQ;
        return record;
    }
    std::vector<piece> fields = pieces_of(tx, r);
    int32_t version = field_number(tx, tx.records[0], 2);
    set_piece(fields, r.tag_type, 6, decimal(info.width));
    set_piece(fields, r.tag_type, 7, decimal(info.height));
    set_piece(fields, r.tag_type, 11, version >= 0 && version < 400 ? "WSQ" : "WSQ20");
    set_piece(fields, r.tag_type, 12, "8");
    if (const field_entry *hash = find_field(tx, r, 996)) {
        const uint8_t *old = tx.bytes.data() + hash->value;
        bool lower = std::any_of(old, old + hash->length, [](uint8_t c) { return c >= 'a' && c <= 'f'; });
        set_piece(fields, r.tag_type, 996, sha256().hex(stream, size, lower));
    }
    set_piece(fields, r.tag_type, 999, data);
    return tagged_bytes(fields);
}

}  // namespace

int wsq_transaction_replace_image(wsq_transaction *transaction, size_t record, const uint8_t *stream,
                                  size_t size, wsq_error *error)
{
    int status = check_print_record(transaction, record, error);
    if (status != WSQ_OK)
        return status;
    wsq_info info;
    if ((status = wsq_read_info(&info, error, stream, size)) != WSQ_OK)
        return status;
    if (info.stream_bytes != size)
        return report(error, WSQ_ERR_TRAILING, info.stream_bytes, "%zu bytes after the stream's End-Of-Image",
                      size - info.stream_bytes);
    if (size > UINT32_MAX - 18)
        return refuse(error, "a stream of %zu bytes is too long for a record", size);
    try {
        rewrite w;
        const record_entry &r = transaction->records[record];
        w.replaced.push_back({record, record_with_image(*transaction, r, stream, size, info)});
        return apply(transaction, w, error);
    } catch (const std::bad_alloc &) {
        return report(error, WSQ_ERR_MEMORY, 0, "no memory for the edited transaction");
    }
}

int wsq_transaction_replace_pixels(wsq_transaction *transaction, size_t record, const uint8_t *pixels,
                                   size_t pixels_size, int32_t width, int32_t height,
                                   const wsq_encode_options *options, wsq_error *error)
{
    int status = check_print_record(transaction, record, error);
    if (status != WSQ_OK)
        return status;
    uint8_t *stream;
    size_t size;
    if ((status = wsq_encode(&stream, &size, error, pixels, pixels_size, width, height, options)) != WSQ_OK)
        return status;
    status = wsq_transaction_replace_image(transaction, record, stream, size, error);
    wsq_free(stream);
    return status;
}

namespace {

int check_insertion(const wsq_transaction *tx, size_t index, int32_t type, int32_t idc, wsq_error *error)
{
    if (index == 0 || index > tx->records.size())
        return refuse(error, "a record inserted at %zu: records go at 1 to %zu", index, tx->records.size());
    if (idc < 0 || idc > 99)
        return refuse(error, "IDC %d: IDCs are 0 to 99", idc);
    if (idc_taken(*tx, type, idc, no_index))
        return refuse(error, "a Type-%d record with IDC %d is there already", type, idc);
    return WSQ_OK;
}

int insert(wsq_transaction *tx, size_t index, int32_t type, int32_t idc, std::string record, wsq_error *error)
{
    try {
        std::vector<std::string> entries = cnt_entries(*tx);
        entries.insert(entries.begin() + (index - 1), cnt_entry(type, idc));
        rewrite w;
        w.replaced.push_back({0, type1_listing(*tx, entries)});
        w.inserted_at = index;
        w.inserted = std::move(record);
        return apply(tx, w, error);
    } catch (const std::bad_alloc &) {
        return report(error, WSQ_ERR_MEMORY, 0, "no memory for the edited transaction");
    }
}

}  // namespace

int wsq_transaction_insert_binary(wsq_transaction *transaction, size_t index, int32_t type,
                                  const uint8_t *bytes, size_t length, wsq_error *error)
{
    if (!transaction || !bytes)
        return refuse(error, "a null pointer");
    if (type != 4 && type != 7 && type != 8)
        return refuse(error, "Type-%d: the binary records written are of Types 4, 7 and 8", type);
    if (length < binary_header_size(type) || length > UINT32_MAX)
        return refuse(error, "a Type-%d record of %zu bytes: its header takes %zu and its length 4 bytes", type,
                      length, binary_header_size(type));
    int status = check_insertion(transaction, index, type, bytes[4], error);
    if (status != WSQ_OK)
        return status;
    std::string record((const char *)bytes, length);
    put_big_endian(record, 0, (uint32_t)length, 4);
    return insert(transaction, index, type, bytes[4], std::move(record), error);
}

int wsq_transaction_insert_tagged(wsq_transaction *transaction, size_t index, int32_t type, int32_t idc,
                                  wsq_error *error)
{
    if (!transaction)
        return refuse(error, "a null transaction");
    if (type != 2 && (type < 9 || type > 99))
        return refuse(error, "Type-%d: tagged records are of Types 2 and 9 to 99", type);
    int status = check_insertion(transaction, index, type, idc, error);
    if (status != WSQ_OK)
        return status;
    std::string prefix = decimal(type);
    return insert(transaction, index, type, idc,
                  tagged_bytes({{1, prefix + ".001:", ""}, {2, prefix + ".002:", decimal(idc)}}), error);
}

int wsq_transaction_remove(wsq_transaction *transaction, size_t index, wsq_error *error)
{
    if (!transaction)
        return refuse(error, "a null transaction");
    if (index == 0 || index >= transaction->records.size())
        return refuse(error, "no record %zu to remove (records 1 to %zu)", index, transaction->records.size() - 1);
    try {
        std::vector<std::string> entries = cnt_entries(*transaction);
        entries.erase(entries.begin() + (index - 1));
        rewrite w;
        w.replaced.push_back({0, type1_listing(*transaction, entries)});
        w.removed = index;
        return apply(transaction, w, error);
    } catch (const std::bad_alloc &) {
        return report(error, WSQ_ERR_MEMORY, 0, "no memory for the edited transaction");
    }
}

namespace {

int check_field_edit(const wsq_transaction *tx, size_t record, int32_t number, const uint8_t *value,
                     size_t length, wsq_error *error)
{
    if (!tx || (!value && length > 0))
        return refuse(error, "a null pointer");
    if (record >= tx->records.size() || !tx->records[record].tagged)
        return refuse(error, "record %zu is not a tagged record", record);
    if (number < 1 || (uint32_t)number > number_cap)
        return refuse(error, "field number %d", number);
    if (number == 1 || (record == 0 && number == 3))
        return refuse(error, "field %d.%03d is the transaction's to set", tx->records[record].type, number);
    if (number == 2 && length == 0)
        return refuse(error, "a record keeps its field %d.002", tx->records[record].type);
    if (number != 999 && (std::memchr(value, FS, length) || std::memchr(value, GS, length)))
        return refuse(error, "a text field's value holds no FS or GS byte");
    if (record > 0 && number == 2) {
        int32_t idc = number_in(value, 0, length);
        if (idc < 0 || idc > 99)
            return refuse(error, "IDC \"%.*s\": IDCs are 0 to 99", (int)std::min<size_t>(length, 20), (const char *)value);
        if (idc_taken(*tx, tx->records[record].type, idc, record))
            return refuse(error, "a Type-%d record with IDC %d is there already", tx->records[record].type, idc);
    }
    return WSQ_OK;
}

}  // namespace

int wsq_transaction_set_field(wsq_transaction *transaction, size_t record, int32_t number,
                              const uint8_t *value, size_t length, wsq_error *error)
{
    int status = check_field_edit(transaction, record, number, value, length, error);
    if (status != WSQ_OK)
        return status;
    try {
        const record_entry &r = transaction->records[record];
        std::vector<piece> fields = pieces_of(*transaction, r);
        set_piece(fields, r.tag_type, number, std::string((const char *)value, length));
        rewrite w;
        w.replaced.push_back({record, tagged_bytes(fields)});
        if (record > 0 && number == 2) {
            std::vector<std::string> entries = cnt_entries(*transaction);
            entries[record - 1] = cnt_entry(r.type, number_in(value, 0, length));
            w.replaced.push_back({0, type1_listing(*transaction, entries)});
        }
        return apply(transaction, w, error);
    } catch (const std::bad_alloc &) {
        return report(error, WSQ_ERR_MEMORY, 0, "no memory for the edited transaction");
    }
}
