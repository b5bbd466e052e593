/* wsqtx.cpp - the prints inside transaction files (.an2, .eft, .int): their
 * records and images listed, the file checked, each image extracted, and an
 * image replaced, through the library's transaction layer (transaction.h).
 *
 * A file this program writes appears under its name only when complete: it
 * is written to a temporary file beside it and renamed over it, so that a
 * failed run leaves the file that was there as it was. Exit status: 0 on
 * success (check: every file valid), 1 otherwise.
 */
#include "image_files.h"
#include "platform.h"
#include "transaction.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char version_text[] = "wsqtx " WSQ_VERSION_STRING "\n";

const char usage_text[] =
    "Usage: wsqtx info [--json] FILE\n"
    "       wsqtx check FILE...\n"
    "       wsqtx extract FILE [-d DIR] [-f png|pgm|raw]\n"
    "       wsqtx replace FILE --record N IMAGE [-r W,H] [-Z BITRATE]\n"
    "       (each with --tolerant as well)\n"
    "The prints inside transaction files (.an2, .eft, .int).\n"
    "\n"
    "  info      the records (type, IDC, offset, length) and the images (record,\n"
    "            positions, impression, compression, size, ppi, data) as a table,\n"
    "            or with --json as one JSON object\n"
    "  check     each FILE's verdict: \"FILE: valid\", or its flaws (the first of\n"
    "            each record) as \"FILE: offset N: message\"; exit status 0 when\n"
    "            every FILE is valid\n"
    "  extract   each image into a file of its own, named by record type, IDC and\n"
    "            first position (type14-idc3-pos2.wsq), into the current directory\n"
    "            or DIR: the bytes as stored (.wsq, .raw, .jpg, .jp2, .png, .bin),\n"
    "            or with -f a WSQ or uncompressed image decoded to PNG, PGM or raw\n"
    "  replace   the image of record N (as info numbers records, the Type-1 record\n"
    "            being 0) by IMAGE: a WSQ stream, put in as it is, or a PNG, PGM or\n"
    "            raw image (-r W,H) encoded at BITRATE bits per pixel (0.75); the\n"
    "            record's size and compression fields, lengths and CNT follow\n"
    "  --tolerant  read a file holding what no edition allows but files are reported\n"
    "            to: a length with leading zeros, no FS after the last record, CR,\n"
    "            LF or NUL bytes after it, compression labels in lower case; what\n"
    "            was tolerated is said on standard error\n"
    "  -h, --help  print this text     --version  print the version\n"
    "Exit status: 0 on success, 1 otherwise.\n";

const char usage_hint[] = "Usage: wsqtx info|check|extract|replace ...   (wsqtx --help for details)\n";

/* Why a file failed, in words; reported as "wsqtx: FILE: what". */
struct failure {
    std::string what;
};

/* A transaction that reading refuses: its first flaw, "offset N: ...". */
struct flawed {
    std::string what;
};

/* A command line that cannot be run. */
struct usage_error {
    std::string what;
};

std::string system_error(const std::string &action)
{
    return action + ": " + std::strerror(errno);
}

/* ---- Files ------------------------------------------------------------------ */

std::vector<uint8_t> read_file(const std::string &name)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> in(wsq_platform::open_file(name.c_str(), "rb"), std::fclose);
    if (!in)
        throw failure{system_error("cannot open")};
    std::vector<uint8_t> bytes;
    uint8_t block[1 << 16];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, in.get())) > 0)
        bytes.insert(bytes.end(), block, block + got);
    if (std::ferror(in.get()))
        throw failure{system_error("cannot read")};
    return bytes;
}

/* Writes the file name through write(FILE *), which throws a failure when it
 * cannot, as wsq1 writes its output: to a temporary file beside it, with the
 * permissions of the file it replaces (a new file's otherwise), removed if a
 * signal ends the run, put in its place once complete; a link stays a link,
 * its target replaced; a file this process may not write is refused.
 * Nothing else in this program writes a file. */
template <typename Write>
void write_file(const std::string &name, Write write)
{
    using namespace wsq_platform;
    unsigned mode = new_file_mode();
    file_kind kind = kind_of(name.c_str(), &mode);
    if (kind != file_kind::missing && kind != file_kind::regular)
        throw failure{"cannot write " + name + ": not a regular file"};
    std::string target = name, temporary;
    if (kind == file_kind::regular && (!writable(name.c_str()) || !full_name(name.c_str(), &target)))
        throw failure{system_error("cannot write " + name)};
    std::FILE *out = create_beside(target, mode, &temporary);
    if (!out)
        throw failure{system_error("cannot create " + name)};
    remove_on_signal(temporary.c_str());
    auto abandon = [&]() {
        remove_file(temporary.c_str());
        remove_on_signal(nullptr);
    };
    try {
        write(out);
    } catch (...) {
        std::fclose(out);
        abandon();
        throw;
    }
    int flushed = std::fflush(out), failed = std::ferror(out), closed = std::fclose(out);
    bool written = flushed == 0 && !failed && closed == 0;
    if (!written || !replace_file(temporary.c_str(), target.c_str())) {
        failure problem{system_error(written ? "cannot rename " + temporary + " to " + name : "cannot write " + name)};
        abandon();
        throw problem;
    }
    remove_on_signal(nullptr);
}

void write_bytes(const std::string &name, const uint8_t *bytes, size_t size)
{
    write_file(name, [&](std::FILE *out) { std::fwrite(bytes, 1, size, out); });
}

/* ---- Transactions ----------------------------------------------------------- */

std::string flaw_text(const wsq_error &error)
{
    return "offset " + std::to_string(error.offset) + ": " + wsq_strerror(error.status) + ": " + error.message;
}

/* Whether files are read tolerating what no edition allows (--tolerant). */
bool tolerant = false;

/* A transaction read from memory, released with it; what a tolerant reading
 * tolerated is said on standard error. */
class transaction {
public:
    transaction(const std::string &name, const std::vector<uint8_t> &bytes)
    {
        wsq_error error;
        if ((tolerant ? wsq_transaction_read_tolerant : wsq_transaction_read)(&tx_, &error, bytes.data(),
                                                                            bytes.size()) != WSQ_OK)
            throw flawed{flaw_text(error)};
        wsq_transaction_warning(tx_, &error);
        if (error.status != WSQ_OK)
            std::fprintf(stderr, "wsqtx: %s: tolerated: %s\n", name.c_str(), flaw_text(error).c_str());
    }
    ~transaction() { wsq_transaction_free(tx_); }
    transaction(const transaction &) = delete;
    transaction &operator=(const transaction &) = delete;

    wsq_transaction *get() const { return tx_; }

    std::vector<wsq_record> records() const
    {
        std::vector<wsq_record> out(wsq_transaction_record_count(tx_));
        for (size_t i = 0; i < out.size(); ++i)
            wsq_transaction_record(tx_, i, &out[i]);
        return out;
    }

    std::vector<wsq_image_entry> images() const
    {
        std::vector<wsq_image_entry> out(wsq_transaction_image_count(tx_));
        for (size_t i = 0; i < out.size(); ++i)
            wsq_transaction_image(tx_, i, &out[i]);
        return out;
    }

    /* Type-1's VER as it stands. */
    std::string version() const
    {
        size_t index, size;
        wsq_field field;
        if (wsq_transaction_find_field(tx_, 0, 2, &index) != WSQ_OK)
            return "(none)";
        wsq_transaction_field(tx_, 0, index, &field);
        const uint8_t *bytes = wsq_transaction_bytes(tx_, &size);
        return std::string((const char *)bytes + field.offset, field.length);
    }

private:
    wsq_transaction *tx_ = nullptr;
};

/* ---- info ------------------------------------------------------------------- */

std::string positions_of(const wsq_image_entry &image, const char *separator)
{
    std::string text;
    for (int k = 0; k < image.position_count; ++k)
        text += (k ? separator : "") + std::to_string(image.positions[k]);
    return text;
}

/* An undeclared value (-1; 0 for ppi) as "-" in the table, null in JSON. */
std::string value_or(int32_t value, const char *none)
{
    return value < 0 ? none : std::to_string(value);
}

void print_table(const std::string &name, const transaction &tx)
{
    std::vector<wsq_record> records = tx.records();
    std::vector<wsq_image_entry> images = tx.images();
    std::printf("%s: VER %s, %zu records, %zu images\n\nrecord type IDC     offset     length\n", name.c_str(),
                tx.version().c_str(), records.size(), images.size());
    for (size_t i = 0; i < records.size(); ++i)
        std::printf("%6zu %4d %3s %10zu %10zu\n", i, records[i].type, value_or(records[i].idc, "-").c_str(),
                    records[i].offset, records[i].length);
    if (images.empty())
        return;
    std::printf("\nrecord type IDC positions impression compression  width height  ppi data offset data length\n");
    for (const wsq_image_entry &image : images)
        std::printf("%6zu %4d %3d %-9s %10s %-11s %6s %6s %4s %11zu %11zu\n", image.record, image.type, image.idc,
                    positions_of(image, ",").c_str(), value_or(image.impression, "-").c_str(),
                    image.compression_name[0] ? image.compression_name : "-", value_or(image.width, "-").c_str(),
                    value_or(image.height, "-").c_str(), value_or(image.ppi ? image.ppi : -1, "-").c_str(),
                    image.data_offset, image.data_length);
}

/* A JSON string of bytes read as Latin-1: every byte a character. */
std::string json_string(const char *text)
{
    std::string out = "\"";
    for (const unsigned char *p = (const unsigned char *)text; *p; ++p) {
        char escaped[8];
        if (*p == '"' || *p == '\\')
            out += std::string("\\") + (char)*p;
        else if (*p >= 0x20 && *p < 0x7F)
            out += (char)*p;
        else {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", *p);
            out += escaped;
        }
    }
    return out + "\"";
}

void print_json(const transaction &tx)
{
    std::vector<wsq_record> records = tx.records();
    std::vector<wsq_image_entry> images = tx.images();
    std::printf("{\"records\": [");
    for (size_t i = 0; i < records.size(); ++i)
        std::printf("%s\n  {\"type\": %d, \"idc\": %s, \"offset\": %zu, \"length\": %zu}", i ? "," : "",
                    records[i].type, value_or(records[i].idc, "null").c_str(), records[i].offset, records[i].length);
    std::printf("\n], \"images\": [");
    for (size_t i = 0; i < images.size(); ++i) {
        const wsq_image_entry &image = images[i];
        std::printf("%s\n  {\"record\": %zu, \"type\": %d, \"idc\": %d, \"positions\": [%s], \"impression\": %s, "
                    "\"compression\": %s, \"width\": %s, \"height\": %s, \"ppi\": %s, \"data_offset\": %zu, "
                    "\"data_length\": %zu}",
                    i ? "," : "", image.record, image.type, image.idc, positions_of(image, ", ").c_str(),
                    value_or(image.impression, "null").c_str(),
                    image.compression_name[0] ? json_string(image.compression_name).c_str() : "null",
                    value_or(image.width, "null").c_str(), value_or(image.height, "null").c_str(),
                    value_or(image.ppi ? image.ppi : -1, "null").c_str(), image.data_offset, image.data_length);
    }
    std::printf("\n]}\n");
}

/* ---- extract ------------------------------------------------------------------ */

const char *stored_extension(const wsq_image_entry &image)
{
    switch (image.compression) {
    case WSQ_COMPRESSION_NONE: return ".raw";
    case WSQ_COMPRESSION_WSQ: return ".wsq";
    case WSQ_COMPRESSION_JPEGB:
    case WSQ_COMPRESSION_JPEGL: return ".jpg";
    case WSQ_COMPRESSION_JP2:
    case WSQ_COMPRESSION_JP2L: return ".jp2";
    case WSQ_COMPRESSION_PNG: return ".png";
    default: return ".bin";
    }
}

std::string image_name(const wsq_image_entry &image, const std::string &extension)
{
    std::string name = "type" + std::to_string(image.type) + "-idc" + std::to_string(image.idc);
    if (image.position_count > 0)
        name += "-pos" + std::to_string(image.positions[0]);
    return name + extension;
}

/* The gray pixels of an image: a WSQ stream decoded, or uncompressed 8-bit
 * pixels as they are. */
std::vector<uint8_t> decoded_pixels(const uint8_t *data, const wsq_image_entry &image, int *width, int *height)
{
    if (image.compression == WSQ_COMPRESSION_WSQ) {
        uint8_t *pixels;
        wsq_info info;
        wsq_error error;
        if (wsq_decode(&pixels, &info, &error, data, image.data_length, nullptr) != WSQ_OK)
            throw failure{"record " + std::to_string(image.record) + ": " + wsq_strerror(error.status) +
                          " at byte " + std::to_string(image.data_offset + error.offset) + ": " + error.message};
        std::vector<uint8_t> out(pixels, pixels + (size_t)info.width * info.height);
        wsq_free(pixels);
        *width = info.width;
        *height = info.height;
        return out;
    }
    if (image.compression == WSQ_COMPRESSION_NONE && image.bits_per_pixel == 8 && image.width > 0 &&
        image.height > 0 && (size_t)image.width * image.height == image.data_length) {
        *width = image.width;
        *height = image.height;
        return std::vector<uint8_t>(data, data + image.data_length);
    }
    throw failure{"record " + std::to_string(image.record) + ": a " +
                  (image.compression_name[0] ? image.compression_name : "undeclared") +
                  " image is not decoded here; extract it without -f"};
}

void write_decoded(const std::string &path, const std::vector<uint8_t> &pixels, int width, int height,
                   const std::string &format)
{
    write_file(path, [&](std::FILE *out) {
        char why[png_message_size];
        if (format == "png" && !write_png(out, pixels.data(), width, height, why))
            throw failure{"cannot write " + path + ": " + why};
        if (format == "pgm")
            write_pgm(out, pixels.data(), width, height);
        if (format == "raw")
            std::fwrite(pixels.data(), 1, pixels.size(), out);
    });
}

/* Writes each image; one that cannot be written is reported and the others
 * still are. Returns the exit status. */
int extract(const std::string &name, const std::string &directory, const std::string &format)
{
    transaction tx(name, read_file(name));
    size_t size;
    const uint8_t *bytes = wsq_transaction_bytes(tx.get(), &size);
    int status = 0;
    for (const wsq_image_entry &image : tx.images()) {
        std::string path = (directory.empty() ? "" : directory + "/") +
                           image_name(image, format.empty() ? stored_extension(image) : "." + format);
        try {
            const uint8_t *data = bytes + image.data_offset;
            if (format.empty()) {
                write_bytes(path, data, image.data_length);
            } else {
                int width, height;
                std::vector<uint8_t> pixels = decoded_pixels(data, image, &width, &height);
                write_decoded(path, pixels, width, height, format);
            }
            std::printf("%s\n", path.c_str());
        } catch (const failure &f) {
            std::fprintf(stderr, "wsqtx: %s: %s\n", name.c_str(), f.what.c_str());
            status = 1;
        }
    }
    return status;
}

/* ---- replace ------------------------------------------------------------------ */

struct replace_options {
    size_t record = 0;
    bool has_record = false, has_size = false, has_bitrate = false;
    int width = 0, height = 0;
    double bitrate = 0.75;
};

/* Puts IMAGE's stream, or its pixels encoded, in place of the record's image. */
void replace_image(transaction &tx, const std::string &image_file, const replace_options &opts)
{
    std::vector<uint8_t> input = read_file(image_file);
    wsq_error error;
    int status;
    bool is_wsq = input.size() >= 2 && input[0] == 0xFF && input[1] == 0xA0;
    if (opts.has_size && (is_wsq || is_png(input.data(), input.size()) || is_pgm(input.data(), input.size())))
        throw failure{image_file + " is not raw pixels: -r is for raw pixels only"};
    if (is_wsq) {
        if (opts.has_bitrate)
            throw failure{image_file + " is a WSQ stream, put in as it is: -Z is for images to encode"};
        status = wsq_transaction_replace_image(tx.get(), opts.record, input.data(), input.size(), &error);
    } else {
        gray_image image;
        std::string why;
        if (is_png(input.data(), input.size()) ? !read_png(input.data(), input.size(), &image, &why)
            : is_pgm(input.data(), input.size()) ? !read_pgm(input.data(), input.size(), &image, &why)
                                                  : false)
            throw failure{image_file + ": " + why};
        if (image.pixels.empty()) {
            if (!opts.has_size)
                throw failure{image_file + " is neither WSQ, PNG nor PGM: give raw pixels' width and height with -r W,H"};
            if (input.size() != (size_t)opts.width * opts.height)
                throw failure{image_file + " holds " + std::to_string(input.size()) + " bytes, not the " +
                              std::to_string(opts.width) + " x " + std::to_string(opts.height) + " pixels of -r"};
            image = gray_image{opts.width, opts.height, std::move(input)};
        }
        wsq_encode_options encoding;
        wsq_encode_defaults(&encoding);
        encoding.bitrate = opts.bitrate;
        status = wsq_transaction_replace_pixels(tx.get(), opts.record, image.pixels.data(), image.pixels.size(),
                                                image.width, image.height, &encoding, &error);
    }
    if (status != WSQ_OK)
        throw failure{image_file + ": " + wsq_strerror(status) + ": " + error.message};
}

void replace(const std::string &name, const std::string &image_file, const replace_options &opts)
{
    transaction tx(name, read_file(name));
    replace_image(tx, image_file, opts);
    size_t size;
    const uint8_t *bytes = wsq_transaction_bytes(tx.get(), &size);
    write_bytes(name, bytes, size);
}

/* ---- Command line --------------------------------------------------------------- */

struct command {
    std::string name;
    std::vector<std::string> files;
    bool json = false;
    std::string directory, format;
    replace_options replacing;
};

/* A number read whole, as strtod reads it. */
bool read_real(const std::string &text, double *value)
{
    char *end;
    errno = 0;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0 && std::isfinite(*value);
}

void parse_size(const std::string &text, replace_options *opts)
{
    int end = 0;
    if (std::sscanf(text.c_str(), "%d,%d%n", &opts->width, &opts->height, &end) != 2 || end != (int)text.size() ||
        opts->width < 1 || opts->height < 1)
        throw usage_error{"-r takes W,H, two numbers of pixels: not " + text};
    opts->has_size = true;
}

void parse_record(const std::string &text, replace_options *opts)
{
    char *end;
    errno = 0;
    unsigned long long record = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0)
        throw usage_error{"--record takes a record's number (as info lists them): not " + text};
    opts->record = (size_t)record;
    opts->has_record = true;
}

/* The value of the option at argv[*i]: the rest of the argument, or the next one. */
std::string option_value(int argc, char **argv, int *i, size_t prefix)
{
    std::string arg = argv[*i];
    if (arg.size() > prefix)
        return arg.substr(arg[prefix] == '=' ? prefix + 1 : prefix);
    if (*i + 1 >= argc)
        throw usage_error{arg + " needs a value"};
    return argv[++*i];
}

void parse_option(int argc, char **argv, int *i, command *cmd)
{
    std::string arg = argv[*i];
    auto takes = [&](const char *option, const char *in) {
        if (cmd->name != in)
            throw usage_error{std::string(option) + " is not an option of " + cmd->name};
    };
    if (arg == "--tolerant") {
        tolerant = true;
    } else if (arg == "--json") {
        takes("--json", "info");
        cmd->json = true;
    } else if (arg.compare(0, 8, "--record") == 0 && (arg.size() == 8 || arg[8] == '=')) {
        takes("--record", "replace");
        parse_record(option_value(argc, argv, i, 8), &cmd->replacing);
    } else if (arg.compare(0, 2, "-d") == 0) {
        takes("-d", "extract");
        cmd->directory = option_value(argc, argv, i, 2);
    } else if (arg.compare(0, 2, "-f") == 0) {
        takes("-f", "extract");
        cmd->format = option_value(argc, argv, i, 2);
        if (cmd->format != "png" && cmd->format != "pgm" && cmd->format != "raw")
            throw usage_error{"-f takes png, pgm or raw: not " + cmd->format};
    } else if (arg.compare(0, 2, "-r") == 0) {
        takes("-r", "replace");
        parse_size(option_value(argc, argv, i, 2), &cmd->replacing);
    } else if (arg.compare(0, 2, "-Z") == 0) {
        takes("-Z", "replace");
        std::string value = option_value(argc, argv, i, 2);
        if (!read_real(value, &cmd->replacing.bitrate))
            throw usage_error{"-Z takes a bit rate in bits per pixel: not " + value};
        cmd->replacing.has_bitrate = true;
    } else {
        throw usage_error{"unknown option " + arg};
    }
}

/* False when the run is over (help or version printed). */
bool parse_command(int argc, char **argv, command *cmd)
{
    if (argc < 2)
        throw usage_error{"no command"};
    cmd->name = argv[1];
    if (cmd->name == "-h" || cmd->name == "--help" || cmd->name == "--version") {
        std::fputs(cmd->name == "--version" ? version_text : usage_text, stdout);
        return false;
    }
    if (cmd->name != "info" && cmd->name != "check" && cmd->name != "extract" && cmd->name != "replace")
        throw usage_error{"unknown command " + cmd->name};
    bool options = true;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (options && arg == "--")
            options = false;
        else if (options && arg.size() > 1 && arg[0] == '-')
            parse_option(argc, argv, &i, cmd);
        else
            cmd->files.push_back(arg);
    }
    size_t wanted = cmd->name == "replace" ? 2 : 1;
    if (cmd->files.empty() || (cmd->name != "check" && cmd->files.size() != wanted))
        throw usage_error{cmd->name + (cmd->name == "replace" ? " takes FILE and IMAGE" :
                                       cmd->name == "check" ? " takes one FILE or more" : " takes one FILE")};
    if (cmd->name == "replace" && !cmd->replacing.has_record)
        throw usage_error{"replace needs --record N, the record whose image to replace"};
    return true;
}

/* Prints each flaw of the file, the first of each record, or that it is valid. */
int check(const std::string &name)
{
    transaction tx(name, read_file(name));
    size_t count;
    wsq_transaction_check_all(tx.get(), nullptr, 0, &count);
    std::vector<wsq_error> flaws(count);
    wsq_transaction_check_all(tx.get(), flaws.data(), flaws.size(), &count);
    for (const wsq_error &flaw : flaws)
        std::printf("%s: %s\n", name.c_str(), flaw_text(flaw).c_str());
    if (flaws.empty())
        std::printf("%s: valid\n", name.c_str());
    return flaws.empty() ? 0 : 1;
}

/* Runs the command on one file; the one place where a failure becomes a
 * message and a status. A file that reading refuses is a check's verdict. */
int run(const command &cmd, const std::string &file)
{
    try {
        if (cmd.name == "check")
            return check(file);
        if (cmd.name == "extract")
            return extract(file, cmd.directory, cmd.format);
        if (cmd.name == "replace") {
            replace(file, cmd.files[1], cmd.replacing);
        } else {
            transaction tx(file, read_file(file));
            if (cmd.json)
                print_json(tx);
            else
                print_table(file, tx);
        }
        return 0;
    } catch (const flawed &f) {
        std::fprintf(cmd.name == "check" ? stdout : stderr, "%s%s: %s\n", cmd.name == "check" ? "" : "wsqtx: ",
                     file.c_str(), f.what.c_str());
    } catch (const failure &f) {
        std::fprintf(stderr, "wsqtx: %s: %s\n", file.c_str(), f.what.c_str());
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "wsqtx: %s: out of memory\n", file.c_str());
    }
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    wsq_platform::start_program(&argc, &argv);
    command cmd;
    try {
        if (!parse_command(argc, argv, &cmd))
            return 0;
    } catch (const usage_error &e) {
        std::fprintf(stderr, "wsqtx: %s\n%s", e.what.c_str(), usage_hint);
        return 1;
    }
    if (cmd.name != "check")
        return run(cmd, cmd.files[0]);
    int status = 0;
    for (const std::string &file : cmd.files)
        status |= run(cmd, file);
    return status;
}
