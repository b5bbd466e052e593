/* Broken preconditions end the process with exactly one assertion report. */
#include "unit_helpers.h"

#include <functional>

using wsqtest::Filter;
using wsqtest::Hedge;
using wsqtest::Stream;

namespace {

/* Regular expression matching the whole of standard error after a failed
 * library assertion of the given expression text. */
std::string assertion_report(const std::string &expression)
{
    std::string escaped;
    for (char c : expression) {
        if (std::string(".[]()*+?{}|^$\\").find(c) != std::string::npos)
            escaped += '\\';
        escaped += c;
    }
    return "^libwsq\\.cpp:[0-9]+: failed assertion `" + escaped + "'\n$";
}

}  // namespace

TEST(AssertionDeathTest, OneReportAndStatusTwo)
{
    ui8 bytes[WSQ_DHT_BYTES] = {};
    real reals[64] = {};
    int32 values[4] = {};
    ui32 counts[256] = {};
    const ui8 symbol[1] = {181};
    const ui8 deep[4] = {1, 1, 1, 0};
    Hedge shallow(makehedge(4, nullptr, deep, nullptr));
    shallow->contents[0] = reals;
    Filter h = wsqtest::wsq_lowpass(), g = wsqtest::wsq_highpass();
    const real taps[3] = {1.0f, 2.0f, 1.0f};
    Filter periodic(makepqf("zero", taps, -1, 1, 0)), unknown(makepqf("six", taps, -1, 1, 6));
    Stream stream(makebitio(bytes, 8)), open(makebitio(bytes + 2, 0));
    const struct {
        std::function<void()> call;
        const char *expression;
    } rows[] = {
        {[&] { writefix24(bytes, -1.0f); }, "coeff>=0"},
        {[&] { cdplength(9, 0); }, "!(length&1)"},
        {[&] { makepqf("x", WSQh0hbqf, 1, -1, 2); }, "alpha <= 0"},
        {[&] { cbwp2(shallow.get(), 8, 8, 0, 0, reals, h.get(), g.get(), h.get(), g.get()); },
         "level<=(int)graph->levels[block]"},
        {[&] { acds(reals, 7, 1, reals, 4, 1, periodic.get(), 1); }, "olen == 2*ilen"},
        {[&] { cds(reals, 2, 1, reals, 4, 1, unknown.get(), 1); }, "0"},
        {[&] { putbits(stream.get(), 1, 33); }, "bits<33"},
        {[&] { getbits(stream.get(), 9); },
         "inarray->length==0 || (inarray->nextbit + bits) <= inarray->length"},
        {[&] { writesym(bytes, 65536); }, "!(absval(coeff)>>16)"},
        {[&] { makedht(bytes, counts, 8); }, "maxbits>8"},
        {[&] { wsqwecs(stream.get(), symbol, 1, bytes); }, "bits>0"}, /* no codeword */
        {[&] { wsqwecs(open.get(), symbol, 1, bytes); }, "bits>0"},   /* nor byte by byte */
        {[&] { wsqqnt(values, reals, 1, -1.0f, 1.0f); }, "qbin>=0"},
        {[&] { wsqb2r(reals, bytes, 1, 128.0f, 0.0f); }, "rescale != (real)0"},
        {[&] { puttiffg(stdout, bytes, 1, 0); }, "width>0"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.expression);
        EXPECT_EXIT(row.call(), ::testing::ExitedWithCode(WSQ_ASSERT_STATUS),
                    assertion_report(row.expression));
    }
}
