// Fuzz target: the transaction reader on the fuzzer's bytes. A refusal is a
// full one; a transaction that reads gives records, fields, items and images
// within its bytes, a verdict, the same bytes written back, and survives an
// edit whose result reads again. A refused file is read again tolerantly.
#include "transaction.h"

#include "check.h"

namespace {

void check_error(int status, const wsq_error &error, size_t size)
{
    FUZZ_CHECK(status == error.status);
    FUZZ_CHECK(error.offset <= size);
    size_t length = strnlen(error.message, sizeof error.message);
    FUZZ_CHECK(length > 0 && length < sizeof error.message);
}

void check_within(size_t offset, size_t length, size_t size)
{
    FUZZ_CHECK(offset <= size && length <= size - offset);
}

void walk_fields(const wsq_transaction *tx, size_t record, const wsq_record &r, size_t size)
{
    for (uint32_t f = 0; f < r.fields; ++f) {
        wsq_field field;
        FUZZ_CHECK(wsq_transaction_field(tx, record, f, &field) == WSQ_OK);
        check_within(field.offset, field.length, size);
        FUZZ_CHECK(field.offset >= r.offset && field.offset + field.length < r.offset + r.length);
        for (uint32_t s = 0; s < field.subfields && s < 4; ++s) {
            size_t offset, length;
            uint32_t items;
            FUZZ_CHECK(wsq_transaction_subfield(tx, record, f, s, &offset, &length, &items) == WSQ_OK);
            check_within(offset, length, size);
            for (uint32_t i = 0; i < items && i < 4; ++i) {
                FUZZ_CHECK(wsq_transaction_item(tx, record, f, s, i, &offset, &length) == WSQ_OK);
                check_within(offset, length, size);
            }
        }
    }
}

/* The records follow one another from offset 0: to the end of the bytes, or
 * (tolerant reading) short of them by the padding it left out. */
void walk(const wsq_transaction *tx, size_t size, bool whole)
{
    size_t end = 0;
    for (size_t i = 0; i < wsq_transaction_record_count(tx); ++i) {
        wsq_record r;
        FUZZ_CHECK(wsq_transaction_record(tx, i, &r) == WSQ_OK);
        FUZZ_CHECK(r.offset == end);
        end += r.length;
        wsq_binary_header header;
        FUZZ_CHECK((wsq_transaction_binary_header(tx, i, &header) == WSQ_OK) == !r.tagged);
        walk_fields(tx, i, r, size);
    }
    FUZZ_CHECK(whole ? end == size : end <= size);
    for (size_t i = 0; i < wsq_transaction_image_count(tx); ++i) {
        wsq_image_entry image;
        FUZZ_CHECK(wsq_transaction_image(tx, i, &image) == WSQ_OK);
        check_within(image.data_offset, image.data_length, size);
        FUZZ_CHECK(image.position_count >= 0 && image.position_count <= 6);
    }
}

typedef int (*reader)(wsq_transaction **, wsq_error *, const uint8_t *, size_t);

/* Removes the last record, or sets a field of Type-1: what is written reads again. */
void edit(wsq_transaction *tx, reader read)
{
    wsq_error error;
    size_t count = wsq_transaction_record_count(tx);
    int status = count > 1 ? wsq_transaction_remove(tx, count - 1, &error)
                           : wsq_transaction_set_field(tx, 0, 4, (const uint8_t *)"CAR", 3, &error);
    FUZZ_CHECK(status == WSQ_OK);
    size_t size;
    const uint8_t *bytes = wsq_transaction_bytes(tx, &size);
    wsq_transaction *again;
    FUZZ_CHECK(read(&again, &error, bytes, size) == WSQ_OK);
    wsq_transaction_free(again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const ui8 *data, size_t size)
{
    wsq_transaction *tx = nullptr;
    wsq_error error;
    int status = wsq_transaction_read(&tx, &error, data, size);
    if (status != WSQ_OK) {
        FUZZ_CHECK(tx == nullptr);
        FUZZ_CHECK((status >= WSQ_ERR_TX_BAD_TAG && status <= WSQ_ERR_TX_TRAILING_BYTES) ||
                   status == WSQ_ERR_TX_MANDATORY_MISSING);
        check_error(status, error, size);
        wsq_transaction *tolerant;
        if (wsq_transaction_read_tolerant(&tolerant, &error, data, size) == WSQ_OK) {
            size_t length;
            wsq_transaction_bytes(tolerant, &length);
            FUZZ_CHECK(length == size || length == size + 1);
            walk(tolerant, length, false);
            edit(tolerant, wsq_transaction_read_tolerant);
            wsq_transaction_free(tolerant);
        }
        return 0;
    }
    walk(tx, size, true);
    status = wsq_transaction_check(tx, &error);
    wsq_error first;
    size_t count;
    FUZZ_CHECK(wsq_transaction_check_all(tx, &first, 1, &count) == WSQ_OK);
    FUZZ_CHECK((count == 0) == (status == WSQ_OK) && count < wsq_transaction_record_count(tx) + 1);
    if (status != WSQ_OK) {
        FUZZ_CHECK(status > WSQ_ERR_TX_TRAILING_BYTES && status <= WSQ_ERR_TX_BAD_VALUE);
        check_error(status, error, size);
        FUZZ_CHECK(first.status == status && first.offset == error.offset);
    }
    uint8_t *written;
    size_t length;
    FUZZ_CHECK(wsq_transaction_write(&written, &length, nullptr, tx) == WSQ_OK);
    FUZZ_CHECK(length == size && std::memcmp(written, data, size) == 0);
    wsq_free(written);
    edit(tx, wsq_transaction_read);
    wsq_transaction_free(tx);
    return 0;
}
