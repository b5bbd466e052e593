// The transaction layer of transaction.h on transactions built here from the
// bundled prints: what reading finds, every flaw's verdict and offset, the
// edits, and the bytes written back.
#include "transaction_fixture.h"
#include "../cli/sha256.h"

#include <gtest/gtest.h>


#include <cstdio>
#include <cstdlib>
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

// The smallest whole transaction: Type-1 (bytes 0-116: CNT's count at 29,
// DAT's value at 51, its FS at 116) and one uncompressed 3 x 2 Type-4
// (117-140: IDC at 121, HLL at 130, GCA at 134, pixels from 135, one of them
// the FS byte, which is data there).
std::string smallest()
{
    return transaction("0400", {{4, 1, print_record(1, 1, 2, 3, 2, 0, std::string("\x10\x80\xff\x1c\x40\x00", 6))}},
                       {{"004", "CAR"}, {"005", "20240131"}, {"007", "DAI1"}, {"008", "ORI1"},
                        {"009", "TCN1"}, {"011", "19.69"}, {"012", "19.69"}});
}

TEST(Transaction, ReadsTheSmallestTransactionByteForByte)
{
    std::string file = smallest();
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
    // Scanned at Type-1's native resolution (ISR 1) of 39.37 pixels per millimetre.
    r = read(file.replace(129, 1, "\x01").replace(99, 5, "39.37"));
    EXPECT_EQ(image(r.tx, 0).ppi, 1000);
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

namespace {


std::string with(std::string bytes, size_t at, const std::string &put)
{
    return bytes.replace(at, put.size(), put);
}

std::string wsq_print(int idc, int width = crop_width)
{
    return print_record(idc, 1, idc, width, crop_height, 1, stream_of(crop_of(0)));
}

struct flaw {
    const char *name;
    std::string file;
    int status;
    size_t offset;
};

// The verdict on a file: reading's refusal, or the check's.
wsq_error verdict(const std::string &file)
{
    read_result r = read(file);
    if (r.status == WSQ_OK) {
        check(r.tx, &r.error);
        wsq_transaction_free(r.tx);
    }
    return r.error;
}

TEST(Transaction, GivesEveryFlawItsVerdictAndOffset)
{
    const std::string base = smallest(), cnt_two = "1.003:1\x1f" "2\x1e" "4\x1f" "1\x1e" "4\x1f" "2";
    fields no_dai = type1_fields();
    no_dai.erase(no_dai.begin() + 2);
    std::string two_prints = transaction("0500", {{4, 1, wsq_print(1)}, {4, 2, wsq_print(2)}});
    std::string tagged = transaction("0500", {{14, 1, tagged_print(14, 1, 1, "WSQ20", stream_of(crop_of(0)))}});
    std::string mistyped = transaction("0500", {{2, 0, tagged_record(9, {{"002", "0"}})}});
    std::string bare_print = tagged_record(14, {{"002", "1"}, {"006", "3"}, {"999", "x"}});
    std::string twice = transaction("0500", {{4, 1, wsq_print(1)}, {4, 1, wsq_print(1)}});
    std::string wider = transaction("0500", {{4, 1, wsq_print(1, crop_width + 1)}});
    std::string cut = with(tagged, tagged.size() - 3, std::string(2, '\0'));
    size_t data_at = tagged.find("14.999:") + 7;
    wsq_info info;
    wsq_error in_stream;
    wsq_read_info(&info, &in_stream, (const uint8_t *)cut.data() + data_at, cut.size() - 1 - data_at);
    size_t tagged_width = tagged.find("14.006:") + 7;
    const flaw flaws[] = {
        {"no Type-1 first", with(base, 0, "2"), WSQ_ERR_TX_BAD_TAG, 0},
        {"a tag without its period", with(base, 36, "x"), WSQ_ERR_TX_BAD_TAG, 35},
        {"VER before LEN", with(base, 4, "2"), WSQ_ERR_TX_LEN_NOT_FIRST, 0},
        {"a letter in LEN", with(base, 7, "a"), WSQ_ERR_TX_LEN_NOT_NUMERIC, 7},
        {"30 digits of LEN", "1.001:" + std::string(30, '9') + base.substr(9), WSQ_ERR_TX_LEN_PAST_END, 0},
        {"a binary length near 2^32", with(base, 117, "\xff\xff\xff\xf0"), WSQ_ERR_TX_LEN_PAST_END, 117},
        {"GS for the last FS", with(base, 116, "\x1d"), WSQ_ERR_TX_FS_MISSING, 116},
        {"an FS inside the text", with(base, 44, "\x1c"), WSQ_ERR_TX_LEN_MISMATCH, 44},
        {"a Type-4 of 17 bytes", with(base, 120, "\x11"), WSQ_ERR_TX_BINARY_LEN_SHORT, 117},
        {"CNT not beginning with 1", with(base, 27, "2"), WSQ_ERR_TX_CNT_MALFORMED, 27},
        {"CNT counting 2 of 1 entry", with(base, 29, "2"), WSQ_ERR_TX_CNT_COUNT, 29},
        {"a listed record missing", two_prints.substr(0, two_prints.size() - wsq_print(2).size()),
         WSQ_ERR_TX_CNT_COUNT, two_prints.size() - wsq_print(2).size()},
        {"a record not listed", base + print_record(2, 1, 2, 3, 2, 0, "abcdef"), WSQ_ERR_TX_CNT_COUNT, 141},
        {"CR LF after the last record", base + "\r\n", WSQ_ERR_TX_TRAILING_BYTES, 141},
        {"another IDC than CNT's", with(base, 121, "\x02"), WSQ_ERR_TX_CNT_MISMATCH, 121},
        {"another type than CNT's", mistyped, WSQ_ERR_TX_CNT_MISMATCH, mistyped.find("9.001:")},
        {"IDC 1 twice", twice, WSQ_ERR_TX_IDC_DUPLICATE, twice.size() - wsq_print(1).size()},
        {"no DAI", transaction("0400", {}, no_dai), WSQ_ERR_TX_MANDATORY_MISSING, 0},
        {"a Type-14 without its impression", transaction("0500", {{14, 1, bare_print}}),
         WSQ_ERR_TX_MANDATORY_MISSING, transaction("0500", {{14, 1, bare_print}}).find("14.001:")},
        {"GCA 9", with(base, 134, "\x09"), WSQ_ERR_TX_CGA_UNKNOWN, 134},
        {"the label PNM", with(tagged, tagged.find("WSQ20"), "PNM20"), WSQ_ERR_TX_CGA_UNKNOWN,
         tagged.find("WSQ20")},
        {"a Type-4 of another width", wider, WSQ_ERR_TX_HLL_VLL_MISMATCH, wider.find('\x1c') + 1 + 13},
        {"a Type-14 of another width", with(tagged, tagged_width, "161"), WSQ_ERR_TX_HLL_VLL_MISMATCH, tagged_width},
        {"raw pixels labelled WSQ", with(base, 134, "\x01"), WSQ_ERR_TX_WSQ_BAD, 135},
        {"no WSQ stream", with(tagged, data_at, "\xff\xa1"), WSQ_ERR_TX_WSQ_BAD, data_at},
        {"a WSQ stream without its end", cut, WSQ_ERR_TX_WSQ_BAD, data_at + in_stream.offset},
        {"6 pixels for 4 x 2", with(base, 131, "\x04"), WSQ_ERR_TX_RAW_SIZE_MISMATCH, 135},
        {"31 February", with(base, 51, "20240231"), WSQ_ERR_TX_BAD_VALUE, 51},
        {"IDC 100", transaction("0500", {{4, 100, wsq_print(100)}}), WSQ_ERR_TX_BAD_VALUE,
         transaction("0500", {{4, 100, wsq_print(100)}}).find("\x1e" "4") + 1},
        {"VER of three digits and a letter", with(base, 16, "04a0"), WSQ_ERR_TX_BAD_VALUE, 16},
        {"NSR without its period", with(base, 99, "19069"), WSQ_ERR_TX_BAD_VALUE, 99},
    };
    // Every flaw, the first of each record: here the Type-1's and the Type-4's.
    read_result r = read(with(with(base, 51, "20240231"), 121, "\x02"));
    wsq_error all[3];
    size_t count;
    ASSERT_EQ(wsq_transaction_check_all(r.tx, all, 3, &count), WSQ_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(all[0].offset, 51u);
    EXPECT_EQ(all[1].status, WSQ_ERR_TX_CNT_MISMATCH);
    wsq_transaction_free(r.tx);
    for (const flaw &f : flaws) {
        wsq_error error = verdict(f.file);
        EXPECT_EQ(error.status, f.status) << f.name << ": " << error.message;
        EXPECT_EQ(error.offset, f.offset) << f.name << ": " << error.message;
        EXPECT_STRNE(error.message, "") << f.name;
        EXPECT_STRNE(wsq_strerror(error.status), wsq_strerror(-1)) << f.name << ": a verdict without its name";
    }
    // What real files hold passes: IDC "01" for CNT's 1, a Type-14 without
    // data, Type-7 whose bytes are no Type-4 header.
    const std::string tolerated[] = {
        transaction("0500", {{14, 1, tagged_record(14, {{"002", "01"}, {"003", "1"}})}}),
        transaction("0500", {{7, 1, big_endian(9, 4) + "\x01" + "\xff\xa0\x1c\x1d"}}),
        transaction("0500", {{4, 99, wsq_print(99)}}),
    };
    for (const std::string &file : tolerated)
        EXPECT_EQ(verdict(file).status, WSQ_OK) << verdict(file).message;
}

}  // namespace

namespace {

// Images replaced from pixels and from streams, in Type-4 and Type-14
// records of both editions: the records' facts follow, and the result checks.
TEST(Transaction, ReplacesImagesAndTheirFacts)
{
    std::string raw = crop_of(2), small = raw.substr(0, 100 * 120);
    for (const char *version : {"0300", "0500"}) {
        std::string file = transaction(
            version, {{4, 1, print_record(1, 1, 1, 3, 2, 0, "abcdef")},
                      {14, 2, tagged_record(14, {{"002", "2"}, {"003", "1"}, {"004", "S"}, {"005", "20240131"},
                                                 {"006", "3"}, {"007", "2"}, {"008", "1"}, {"009", "500"},
                                                 {"010", "500"}, {"011", "NONE"}, {"012", "8"}, {"013", "2"},
                                                 {"996", std::string(64, 'a')}, {"999", "abcdef"}})}});
        read_result r = read(file);
        ASSERT_EQ(r.status, WSQ_OK);
        wsq_encode_options options;
        wsq_encode_defaults(&options);
        options.bitrate = 1.5;
        ASSERT_EQ(wsq_transaction_replace_pixels(r.tx, 1, (const uint8_t *)raw.data(), raw.size(), crop_width,
                                                 crop_height, &options, &r.error), WSQ_OK) << r.error.message;
        std::string stream = stream_of(small, 100, 120);
        ASSERT_EQ(wsq_transaction_replace_image(r.tx, 2, (const uint8_t *)stream.data(), stream.size(), &r.error),
                  WSQ_OK) << r.error.message;
        EXPECT_EQ(check(r.tx, &r.error), WSQ_OK) << r.error.message;
        wsq_image_entry four = image(r.tx, 0), fourteen = image(r.tx, 1);
        EXPECT_EQ(four.compression, WSQ_COMPRESSION_WSQ);
        EXPECT_EQ(four.width, crop_width);
        EXPECT_GT(four.data_length, stream_of(raw).size()) << "encoded at 1.5 bits per pixel";
        EXPECT_EQ(fourteen.width, 100);
        EXPECT_EQ(fourteen.height, 120);
        EXPECT_EQ(field_text(r.tx, 2, 11), std::string(version) == "0300" ? "WSQ" : "WSQ20");
        EXPECT_EQ(field_text(r.tx, 2, 996), sha256_hex(stream));
        EXPECT_EQ(field_text(r.tx, 2, 999), stream);
        std::string again = written(r.tx);
        EXPECT_EQ(verdict(again).status, WSQ_OK);
        // A stream with bytes after it, and a record without prints, are refused and change nothing.
        std::string longer = stream + "xy";
        EXPECT_EQ(wsq_transaction_replace_image(r.tx, 2, (const uint8_t *)longer.data(), longer.size(), &r.error),
                  WSQ_ERR_TRAILING);
        EXPECT_EQ(wsq_transaction_replace_image(r.tx, 0, (const uint8_t *)stream.data(), stream.size(), &r.error),
                  WSQ_ERR_ARGUMENT);
        EXPECT_EQ(written(r.tx), again);
        wsq_transaction_free(r.tx);
    }
}

// Records inserted and removed, fields set and removed: CNT and every LEN
// follow, a LEN crossing a power of ten included, and undoing an edit gives
// the bytes back.
TEST(Transaction, InsertsRemovesAndSetsFields)
{
    const std::string base = smallest();
    read_result r = read(base);
    ASSERT_EQ(r.status, WSQ_OK);
    wsq_transaction *tx = r.tx;
    ASSERT_EQ(wsq_transaction_insert_tagged(tx, 1, 2, 0, &r.error), WSQ_OK) << r.error.message;
    std::string print = print_record(7, 1, 3, 3, 2, 0, "\x1c\x1c\x1c\x1c\x1c\x1c");
    ASSERT_EQ(wsq_transaction_insert_binary(tx, 3, 4, (const uint8_t *)print.data(), print.size(), &r.error), WSQ_OK);
    EXPECT_EQ(field_text(tx, 0, 3), "1\x1f" "3\x1e" "2\x1f" "0\x1e" "4\x1f" "1\x1e" "4\x1f" "7");
    EXPECT_EQ(wsq_transaction_insert_tagged(tx, 1, 2, 0, &r.error), WSQ_ERR_ARGUMENT) << "IDC 0 is taken";
    EXPECT_EQ(wsq_transaction_insert_binary(tx, 1, 3, (const uint8_t *)print.data(), print.size(), &r.error),
              WSQ_ERR_ARGUMENT) << "Type-3 is never written";
    for (size_t length : {75, 76, 77, 975, 976, 977}) {  // lengths of 97 to 99, 997 to 999 without their digits
        std::string name(length, 'N');
        ASSERT_EQ(wsq_transaction_set_field(tx, 1, 18, (const uint8_t *)name.data(), name.size(), &r.error), WSQ_OK);
        wsq_record type2;
        wsq_transaction_record(tx, 1, &type2);
        EXPECT_EQ(field_text(tx, 1, 1), std::to_string(type2.length)) << length;
    }
    ASSERT_EQ(wsq_transaction_set_field(tx, 1, 2, (const uint8_t *)"5", 1, &r.error), WSQ_OK);
    EXPECT_EQ(field_text(tx, 0, 3), "1\x1f" "3\x1e" "2\x1f" "5\x1e" "4\x1f" "1\x1e" "4\x1f" "7");
    EXPECT_EQ(wsq_transaction_set_field(tx, 0, 3, (const uint8_t *)"1", 1, &r.error), WSQ_ERR_ARGUMENT);
    EXPECT_EQ(wsq_transaction_set_field(tx, 4, 4, (const uint8_t *)"1", 1, &r.error), WSQ_ERR_ARGUMENT);
    EXPECT_EQ(wsq_transaction_set_field(tx, 1, 20, (const uint8_t *)"A\x1d" "B", 3, &r.error), WSQ_ERR_ARGUMENT);
    EXPECT_EQ(wsq_transaction_set_field(tx, 1, 4, (const uint8_t *)"X", 1, &r.error), WSQ_OK);
    wsq_field inserted;
    ASSERT_EQ(wsq_transaction_field(tx, 1, 2, &inserted), WSQ_OK);
    EXPECT_EQ(inserted.number, 4) << "before field 18";
    EXPECT_EQ(check(tx, &r.error), WSQ_OK) << r.error.message;
    ASSERT_EQ(wsq_transaction_remove(tx, 1, &r.error), WSQ_OK);
    ASSERT_EQ(wsq_transaction_remove(tx, 2, &r.error), WSQ_OK);
    EXPECT_EQ(wsq_transaction_remove(tx, 0, &r.error), WSQ_ERR_ARGUMENT);
    EXPECT_EQ(written(tx), base);
    wsq_transaction_free(tx);
}

}  // namespace

namespace {

// Strict reading refuses what no edition allows; tolerant reading takes it,
// says what it tolerated first, and writes back what it read.
TEST(Transaction, ToleratesWhatRealFilesHoldOnlyWhenAsked)
{
    const std::string base = smallest(), text = transaction("0400", {{2, 0, tagged_record(2, {{"002", "0"}})}});
    std::string tagged = transaction("0500", {{14, 1, tagged_print(14, 1, 1, "wsq20", stream_of(crop_of(0)))}});
    const flaw tolerated[] = {
        {"LEN with a leading zero", "1.001:0118" + base.substr(9), WSQ_ERR_TX_LEN_NOT_NUMERIC, 6},
        {"no last FS", text.substr(0, text.size() - 1), WSQ_ERR_TX_FS_MISSING, text.size() - 1},
        {"CR LF after the last record", base + "\r\n", WSQ_ERR_TX_TRAILING_BYTES, base.size()},
        {"a label in lower case", tagged, WSQ_ERR_TX_CGA_UNKNOWN, tagged.find("wsq20")},
    };
    for (const flaw &f : tolerated) {
        EXPECT_EQ(verdict(f.file).status, f.name == tolerated[1].name ? WSQ_ERR_TX_LEN_PAST_END : f.status) << f.name;
        wsq_transaction *tx;
        ASSERT_EQ(wsq_transaction_read_tolerant(&tx, nullptr, (const uint8_t *)f.file.data(), f.file.size()), WSQ_OK)
            << f.name;
        wsq_error warning;
        ASSERT_EQ(wsq_transaction_warning(tx, &warning), WSQ_OK);
        EXPECT_EQ(warning.status, f.status) << f.name;
        EXPECT_EQ(warning.offset, f.offset) << f.name;
        EXPECT_EQ(check(tx, &warning), WSQ_OK) << f.name << ": " << warning.message;
        EXPECT_EQ(written(tx), f.file + (f.status == WSQ_ERR_TX_FS_MISSING ? "\x1c" : "")) << f.name;
        wsq_transaction_free(tx);
    }
}

}  // namespace
