// Rows of the encoder's hostile-input table not covered by the option,
// choice and limit tests: output and log files that cannot be opened. Each
// is fatal (exit status 1) before any image: no stream, no summary line, no
// file of the name given.
#include "support.h"

#include <filesystem>

namespace cli {
namespace {

class HostileEncoder : public Wsq1Test {};

TEST_F(HostileEncoder, FilesThatCannotBeOpenedAreFatal)
{
    write("in.raw", noise_image(512, 512));
    std::filesystem::create_directory(path("dir.wsq"));
    struct Row {
        const char *option, *message, *file;
    };
    for (Row row : {Row{"-ono/such/dir/out", "-o: could not open output file", "no/such/dir/out.wsq"},
                    Row{"-odir.wsq", "-o: could not open output file", ""},
                    Row{"-lno/such/dir/run", "-l: could not open log file", "no/such/dir/run.log"}}) {
        SCOPED_TRACE(row.option);
        Outcome run = wsq1({"-v2", row.option, "in.raw"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(past_banner(run.err), fatal_line(row.message));
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(*row.file == 0 || !exists(row.file));
    }
}

}  // namespace
}  // namespace cli
