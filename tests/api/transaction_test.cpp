// The transaction layer of transaction.h on transactions built here from the
// bundled prints: what reading finds, every flaw's verdict and offset, the
// edits, and the bytes written back.
#include "transaction_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

extern "C" long transaction_images_from_c(const uint8_t *data, size_t size);

namespace {

using namespace transaction_fixture;

struct read_result {
    int status;
    wsq_error error;
    wsq_transaction *tx;
};

read_result read(const std::string &bytes)
{
    read_result r;
    r.status = wsq_transaction_read(&r.tx, &r.error, (const uint8_t *)bytes.data(), bytes.size());
    return r;
}

std::string written(const wsq_transaction *tx)
{
    uint8_t *bytes;
    size_t size;
    EXPECT_EQ(wsq_transaction_write(&bytes, &size, nullptr, tx), WSQ_OK);
    std::string out((const char *)bytes, size);
    wsq_free(bytes);
    return out;
}

std::string field_text(const wsq_transaction *tx, size_t record, int number)
{
    size_t index, offset, length;
    if (wsq_transaction_find_field(tx, record, number, &index) != WSQ_OK)
        return "(none)";
    wsq_field field;
    wsq_transaction_field(tx, record, index, &field);
    size_t size;
    const uint8_t *bytes = wsq_transaction_bytes(tx, &size);
    offset = field.offset;
    length = field.length;
    return std::string((const char *)bytes + offset, length);
}

wsq_image_entry image(const wsq_transaction *tx, size_t index)
{
    wsq_image_entry entry;
    EXPECT_EQ(wsq_transaction_image(tx, index, &entry), WSQ_OK);
    return entry;
}

int check(const wsq_transaction *tx, wsq_error *error)
{
    return wsq_transaction_check(tx, error);
}

// The worked example of a Type-1 and one uncompressed 3 x 2 Type-4, byte for
// byte, its pixels holding FS.
TEST(Transaction, ReadsTheSmallestTransactionByteForByte)
{
    std::string pixels("\x10\x80\xff\x1c\x40\x00", 6);
    std::string file = transaction("0400", {{4, 1, print_record(1, 1, 2, 3, 2, 0, pixels)}},
                                   {{"004", "CAR"}, {"005", "20240131"}, {"007", "DAI1"}, {"008", "ORI1"},
                                    {"009", "TCN1"}, {"011", "19.69"}, {"012", "19.69"}});
    ASSERT_EQ(file.size(), 141u);
    EXPECT_EQ(file.substr(0, 10), "1.001:117\x1d");
    read_result r = read(file);
    ASSERT_EQ(r.status, WSQ_OK) << r.error.message;
    wsq_record type4;
    ASSERT_EQ(wsq_transaction_record(r.tx, 1, &type4), WSQ_OK);
    EXPECT_EQ(type4.type, 4);
    EXPECT_EQ(type4.idc, 1);
    EXPECT_EQ(type4.offset, 117u);
    EXPECT_EQ(type4.length, 24u);
    wsq_image_entry print = image(r.tx, 0);
    EXPECT_EQ(print.data_offset, 135u);
    EXPECT_EQ(print.data_length, 6u);
    EXPECT_EQ(print.positions[0], 2);
    EXPECT_EQ(print.position_count, 1);
    EXPECT_EQ(print.impression, 1);
    EXPECT_STREQ(print.compression_name, "NONE");
    EXPECT_EQ(print.ppi, 500);
    EXPECT_EQ(check(r.tx, &r.error), WSQ_OK) << r.error.message;
    EXPECT_EQ(written(r.tx), file);
    wsq_transaction_free(r.tx);
    EXPECT_EQ(transaction_images_from_c((const uint8_t *)file.data(), file.size()), 1);
}

// Type-2 text, Type-4 and Type-14 WSQ prints side by side, the labels of two
// editions, field numbers with leading zeros, binary data holding separator
// bytes: all read, checked and written back as they were.
TEST(Transaction, ReadsPrintsOfBothKindsAcrossEditions)
{
    const std::string &thumb = stream_of(crop_of(0)), &index = stream_of(crop_of(1));
    for (const char *version : {"0300", "0500"}) {
        const char *label = std::string(version) == "0300" ? "WSQ" : "WSQ20";
        std::string file = transaction(
            version, {{2, 0, tagged_record(2, {{"002", "00"}, {"000000018", "DOE\x1fJOHN"}, {"041", "A\x1e" "B"}})},
                      {4, 1, print_record(1, 1, 1, crop_width, crop_height, 1, thumb)},
                      {14, 2, tagged_print(14, 2, 2, label, index, "0006")},
                      {4, 3, print_record(3, 0, 7, 3, 2, 0, std::string("\x1c\x1d\x1e\x1f\x00\xff", 6))}});
        read_result r = read(file);
        ASSERT_EQ(r.status, WSQ_OK) << r.error.message;
        ASSERT_EQ(wsq_transaction_record_count(r.tx), 5u);
        EXPECT_EQ(field_text(r.tx, 1, 18), "DOE\x1fJOHN");
        size_t offset, length;
        uint32_t items;
        size_t field;
        ASSERT_EQ(wsq_transaction_find_field(r.tx, 1, 41, &field), WSQ_OK);
        ASSERT_EQ(wsq_transaction_subfield(r.tx, 1, field, 1, &offset, &length, &items), WSQ_OK);
        EXPECT_EQ(file.substr(offset, length), "B");
        ASSERT_EQ(wsq_transaction_find_field(r.tx, 1, 18, &field), WSQ_OK);
        ASSERT_EQ(wsq_transaction_item(r.tx, 1, field, 0, 1, &offset, &length), WSQ_OK);
        EXPECT_EQ(file.substr(offset, length), "JOHN");
        ASSERT_EQ(wsq_transaction_image_count(r.tx), 3u);
        wsq_image_entry four = image(r.tx, 0), fourteen = image(r.tx, 1), raw = image(r.tx, 2);
        EXPECT_EQ(four.record, 2u);
        EXPECT_EQ(file.substr(four.data_offset, four.data_length), thumb);
        EXPECT_EQ(fourteen.type, 14);
        EXPECT_EQ(fourteen.width, crop_width);
        EXPECT_EQ(fourteen.positions[0], 2);
        EXPECT_EQ(fourteen.ppi, 500);
        EXPECT_STREQ(fourteen.compression_name, "WSQ20");
        EXPECT_EQ(file.substr(fourteen.data_offset, fourteen.data_length), index);
        EXPECT_EQ(raw.compression, WSQ_COMPRESSION_NONE);
        wsq_binary_header header;
        ASSERT_EQ(wsq_transaction_binary_header(r.tx, 4, &header), WSQ_OK);
        EXPECT_EQ(header.positions[0], 7);
        EXPECT_EQ(header.positions[5], 255);
        EXPECT_EQ(check(r.tx, &r.error), WSQ_OK) << version << ": " << r.error.message;
        EXPECT_EQ(written(r.tx), file);
        wsq_transaction_free(r.tx);
    }
}

}  // namespace
