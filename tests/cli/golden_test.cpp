// Exact outputs of wsq1 for real fingerprints, and the exact pixels the
// library decodes from them, kept as lengths and SHA-256 digests in
// golden.tsv beside this file, so that no change of a single byte goes
// unnoticed.
//
// After an intended change of the output, regenerate the table with
//     WSQ_UPDATE_GOLDEN=1 ctest --test-dir BUILD -R Golden
// (or WSQ_UPDATE_GOLDEN=1 BUILD/tests/wsq_cli --gtest_filter='Golden*'),
// which rewrites the length and digest of every row it runs. A new case is a
// new row with "-" as length and digest, filled in the same way.
#include "sha256.h"
#include "wsq.h"
#include "support.h"

#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace cli {
namespace {

const std::string table_path = std::string(WSQ_TEST_DATA) + "/../cli/golden.tsv";

struct Row {
    std::string name;       // unique, letters, digits and '_'
    std::string image;      // NAME, or NAME@X,Y,WxH for a part of it
    std::string arguments;  // blank-separated, before the input name
    std::string length, sha256, decoded;  // decoded: digest of the decoded pixels
};

void PrintTo(const Row &row, std::ostream *out)
{
    *out << row.name;
}

std::vector<std::string> fields(const std::string &line, char separator)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);)
        if (separator != ' ' || !field.empty())
            out.push_back(field);
    if (separator == '\t' && !line.empty() && line.back() == '\t')
        out.push_back("");
    return out;
}

std::vector<Row> read_table()
{
    std::vector<Row> rows;
    for (const std::string &line : lines(read_file(table_path))) {
        std::vector<std::string> f = fields(line, '\t');
        if (line.empty() || line[0] == '#' || f.size() != 6)
            continue;
        rows.push_back({f[0], f[1], f[2], f[3], f[4], f[5]});
    }
    return rows;
}

// Rewrites the length and digest of one row, under a lock so that cases run
// side by side do not lose each other's updates.
void update_row(const Row &row)
{
    int fd = ::open(table_path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0) << table_path;
    ::flock(fd, LOCK_EX);
    std::string text;
    for (const std::string &line : lines(read_file(table_path))) {
        std::vector<std::string> f = fields(line, '\t');
        if (line[0] != '#' && f.size() == 6 && f[0] == row.name)
            text += row.name + "\t" + row.image + "\t" + row.arguments + "\t" + row.length + "\t" +
                    row.sha256 + "\t" + row.decoded + "\n";
        else
            text += line + "\n";
    }
    write_file(table_path, text);
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

// The pixels an image column names.
std::string pixels_of(const std::string &image)
{
    size_t at = image.find('@');
    const BundledImage &source = bundled(image.substr(0, at));
    if (at == std::string::npos)
        return source.pixels();
    int x, y, w, h;
    if (std::sscanf(image.c_str() + at + 1, "%d,%d,%dx%d", &x, &y, &w, &h) != 4 || x < 0 || y < 0 ||
        x + w > source.width || y + h > source.height)
        throw std::runtime_error("bad image column " + image);
    return crop(source.pixels(), source.width, x, y, w, h);
}

// The pixels the library decodes from one stream.
std::string decoded_pixels(const std::string &stream)
{
    ui8 *pixels = nullptr;
    wsqinfo info;
    wsqerror error;
    int status = wsqdecode(&pixels, &info, &error, (const ui8 *)stream.data(), stream.size(),
                           WSQ_DEFAULT_MAX_PIXELS);
    EXPECT_EQ(status, WSQ_OK) << error.message;
    std::string out(pixels ? (const char *)pixels : "", status ? 0 : (size_t)info.width * info.height);
    freevoid(pixels);
    return out;
}

class Golden : public Wsq1Test, public ::testing::WithParamInterface<Row> {};

TEST_P(Golden, OutputIsUnchanged)
{
    Row row = GetParam();
    write("in.raw", pixels_of(row.image));
    std::vector<std::string> args = fields(row.arguments, ' ');
    args.push_back("in.raw");
    Outcome run = wsq1(args);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(parsed(run.out).size(), 1u);
    std::string length = std::to_string(run.out.size()), digest = sha256(run.out);
    std::string decoded = sha256(decoded_pixels(run.out));
    const char *update = std::getenv("WSQ_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        row.length = length;
        row.sha256 = digest;
        row.decoded = decoded;
        update_row(row);
        return;
    }
    EXPECT_EQ(length, row.length);
    EXPECT_EQ(digest, row.sha256);
    EXPECT_EQ(decoded, row.decoded);
}

TEST(GoldenDecoding, StreamOfAnotherEncoder)
{
    EXPECT_EQ(sha256(decoded_pixels(read_file(std::string(WSQ_TEST_DATA) + "/wsq-original.wsq"))),
              "e931963e467408dcab345bc2cf2daec9ceaf2ed6d8db0859373993b45ab84912");
}

INSTANTIATE_TEST_SUITE_P(Table, Golden, ::testing::ValuesIn(read_table()),
                         [](const ::testing::TestParamInfo<Row> &info) { return info.param.name; });

TEST(GoldenTable, CoversEveryBundledImageAtTheDefaultRate)
{
    std::vector<Row> rows = read_table();
    for (const BundledImage &image : bundled_images()) {
        bool covered = false;
        for (const Row &row : rows) {
            std::vector<std::string> args = fields(row.arguments, ' ');
            bool full_size = image.width == 512 && image.height == 512;
            covered |=
                row.image == image.name && (args == std::vector<std::string>{image.size_option()} ||
                                            (full_size && args.empty()));
        }
        EXPECT_TRUE(covered) << image.name;
    }
}

TEST(Sha256, KnownDigests)
{
    EXPECT_EQ(sha256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
}  // namespace cli
