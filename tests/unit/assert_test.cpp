/* Broken preconditions end the process with exactly one assertion report. */
#include "unit_helpers.h"

using wsqtest::Filter;
using wsqtest::Hedge;
using wsqtest::Stream;

TEST(NumbersDeathTest, Fix24RejectsNegativeValuesAndNullOutput)
{
    ui8 bytes[3];
    EXPECT_ASSERTION(writefix24(bytes, -1.0f), "coeff>=0");
    EXPECT_ASSERTION(writefix24(nullptr, 1.0f), "output");
    real value;
    EXPECT_ASSERTION(readfix48(&value, nullptr), "input");
}

TEST(FiltersDeathTest, TypesAndLengths)
{
    EXPECT_ASSERTION(cpqftype(6), "0");
    EXPECT_ASSERTION(cpqftype(-1), "0");
    EXPECT_ASSERTION(cdplength(9, 7), "!(length&1)");
    EXPECT_ASSERTION(cdplength(9, 0), "!(length&1)");
}

TEST(FiltersDeathTest, MakePqfChecksRangeThenTaps)
{
    EXPECT_ASSERTION(makepqf("x", WSQh0hbqf, 1, -1, 2), "alpha <= 0");
    EXPECT_ASSERTION(makepqf("x", WSQh0hbqf, 0, -1, 2), "0 <= omega");
    EXPECT_ASSERTION(makepqf("x", nullptr, -1, 1, 2), "coefs");
    real fq[8];
    EXPECT_ASSERTION(periodize(fq, 0, WSQh0hbqf + 4, -4, 4), "q>0");
    EXPECT_ASSERTION(periodize(fq, 10, WSQh0hbqf + 4, -4, 4), "q<=omega-alpha");
}

TEST(HedgeDeathTest, DepthBelowTheWalk)
{
    const ui8 levels[4] = {1, 1, 1, 0};
    Hedge graph(makehedge(4, nullptr, levels, nullptr));
    Filter h = wsqtest::wsq_lowpass(), g = wsqtest::wsq_highpass();
    int xs[4], ys[4];
    EXPECT_ASSERTION(xywp2(xs, ys, 8, 8, graph->levels, 0, 0, h.get(), g.get(), h.get(), g.get()),
                     "level<=(int)levels[block]");
    EXPECT_ASSERTION(xywp2(xs, ys, 0, 8, graph->levels, 0, 0, h.get(), g.get(), h.get(), g.get()),
                     "ix");
    EXPECT_ASSERTION(makehedge(-1, nullptr, nullptr, nullptr), "blocks>=0");

    real data[64], work[64];
    graph->contents[0] = data;
    EXPECT_ASSERTION(cbwp2(graph.get(), 8, 8, 0, 0, work, h.get(), g.get(), h.get(), g.get()),
                     "level<=(int)graph->levels[block]");
}

TEST(TransformDeathTest, SidesOfOneCannotBeSplitOrMerged)
{
    const ui8 levels[4] = {1, 1, 1, 1};
    Hedge graph(makehedge(4, nullptr, levels, nullptr));
    wsqtest::FilterBank bank = wsqtest::wsq_filter_bank();
    real data[4] = {}, work[4];
    graph->contents[0] = data;
    for (int b = 1; b < 4; b++)
        graph->contents[b] = data;
    EXPECT_ASSERTION(cbwp2(graph.get(), 1, 4, 0, 0, work, bank.h0.get(), bank.h1.get(),
                           bank.h0.get(), bank.h1.get()),
                     "oxg>0");
    EXPECT_ASSERTION(rbwp2(graph.get(), 1, 4, 0, 0, work, bank.f0.get(), bank.f1.get(),
                           bank.f0.get(), bank.f1.get()),
                     "ix>0");
}

TEST(TransformDeathTest, FilterTypesAndLengths)
{
    const real taps[3] = {1.0f, 2.0f, 1.0f};
    Filter odd_type(makepqf("six", taps, -1, 1, 6)), periodic(makepqf("zero", taps, -1, 1, 0));
    const real in[4] = {};
    real out[8];
    EXPECT_ASSERTION(cds(out, 2, 1, in, 4, 1, odd_type.get(), 1), "0");
    EXPECT_ASSERTION(acds(out, 8, 1, in, 4, 1, odd_type.get(), 1), "0");
    EXPECT_ASSERTION(acds(out, 7, 1, in, 4, 1, periodic.get(), 1), "olen == 2*ilen");
    EXPECT_ASSERTION(cds(out, 2, 1, in, 0, 1, periodic.get(), 1), "ilen>0");
}

TEST(BitioDeathTest, FieldWidthsAndBounds)
{
    ui8 bytes[2] = {};
    Stream stream(makebitio(bytes, 8));
    EXPECT_ASSERTION(putbits(stream.get(), 1, 0), "bits>0");
    EXPECT_ASSERTION(putbits(stream.get(), 1, 33), "bits<33");
    EXPECT_ASSERTION(putbits(stream.get(), 0, 9),
                     "outarray->length==0 || (outarray->nextbit+bits)<=outarray->length");
    EXPECT_ASSERTION(padbits(stream.get(), 2), "pad==0 || pad==1");
    EXPECT_ASSERTION(padbits(stream.get(), -1), "pad==0 || pad==1");
    EXPECT_ASSERTION(getbits(stream.get(), 9),
                     "inarray->length==0 || (inarray->nextbit + bits) <= inarray->length");
    EXPECT_ASSERTION(rewbits(nullptr), "item");

    getbits(stream.get(), 8);
    EXPECT_ASSERTION(getbit(stream.get()),
                     "inarray->length==0 || inarray->nextbit < inarray->length");
}

TEST(SymbolsDeathTest, ValuesOutOfRange)
{
    ui8 out[3];
    EXPECT_ASSERTION(writesym(out, 0), "coeff != 0");
    EXPECT_ASSERTION(writesym(out, 65536), "!(absval(coeff)>>16)");
    EXPECT_ASSERTION(writesym(out, -65536), "!(absval(coeff)>>16)");
    const int32 values[1] = {1};
    EXPECT_ASSERTION(wsqwsym(out, values, 0), "length>0");
}

TEST(HuffmanDeathTest, TablesAndSegments)
{
    ui32 counts[256] = {};
    ui8 body[WSQ_DHT_BYTES] = {};
    EXPECT_ASSERTION(makedht(body, counts, 8), "maxbits>8");
    EXPECT_ASSERTION(wsqcsym(counts, body, 0), "length>0");
    int tree[512];
    EXPECT_ASSERTION(dht2caht(tree, body, 0), "b>0");

    Stream stream(makebitio(body, 0));
    int32 values[4];
    EXPECT_ASSERTION(wsqrecs(values, stream.get(), 0, body), "length>0");

    const ui8 symbols[1] = {181}; /* no codeword in an empty table */
    EXPECT_ASSERTION(wsqwecs(stream.get(), symbols, 1, body), "bits>0");
}

TEST(QuantizeDeathTest, WidthsAndRescale)
{
    const real in[1] = {1.0f};
    int32 bins[1] = {1};
    real out[1];
    ui8 pixels[1] = {0};
    EXPECT_ASSERTION(wsqqnt(bins, in, 1, -1.0f, 1.0f), "qbin>=0");
    EXPECT_ASSERTION(wsqunq(out, bins, 1, 0.44f, 1.0f, -1.0f), "zbin >= 0");
    EXPECT_ASSERTION(wsqb2r(out, pixels, 1, 128.0f, 0.0f), "rescale != (real)0");
    EXPECT_ASSERTION(wsqr2b(pixels, nullptr, 1, 128.0f, 1.0f), "in");
}

TEST(SegmentsDeathTest, TableBodies)
{
    real center, qs[1], zs[1];
    const ui8 body[8] = {};
    EXPECT_ASSERTION(wsqrdqt(&center, qs, zs, 0, body), "blocks>0");
    ui8 out[16];
    EXPECT_ASSERTION(wsqwdqt(out, 0.44f, qs, zs, 0), "blocks>0");

    const real taps[3] = {1.0f, 2.0f, 1.0f};
    Filter bad(makepqf("six", taps, -1, 1, 6));
    Filter g = wsqtest::wsq_highpass();
    ui8 dtt[64];
    EXPECT_ASSERTION(wsqwdtt(dtt, bad.get(), g.get()), "0");
}

TEST(TiffDeathTest, EmptyImages)
{
    const ui8 pixels[1] = {0};
    EXPECT_ASSERTION(puttiffg(stdout, pixels, 1, 0), "width>0");
    EXPECT_ASSERTION(puttiffg(stdout, pixels, 0, 1), "height>0");
    EXPECT_ASSERTION(puttiffg(nullptr, pixels, 1, 1), "output");
}
