// Reading and checking a transaction of 14 prints (about 1 MB): ten rolled
// fingers in Type-4 records and four plain impressions in Type-14 records,
// each a WSQ stream of the bundled 512 x 512 print at its own bit rate.
// Checking reads every stream's segments (wsq_read_info), decoding none.
#include "transaction_fixture.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace transaction_fixture;

std::string fourteen_prints()
{
    std::ifstream file(std::string(WSQ_TEST_DATA) + "/sd04_f0001_01.raw", std::ios::binary);
    std::string print((std::istreambuf_iterator<char>(file)), {});
    std::vector<record> records = {{2, 0, tagged_record(2, {{"002", "0"}, {"018", "DOE,JOHN"}})}};
    for (int k = 1; k <= 14; ++k) {
        wsq_encode_options options;
        wsq_encode_defaults(&options);
        options.bitrate = 2.0 + 0.05 * k;
        uint8_t *stream;
        size_t size;
        if (wsq_encode(&stream, &size, nullptr, (const uint8_t *)print.data(), print.size(), 512, 512, &options) !=
            WSQ_OK)
            std::abort();
        std::string data((const char *)stream, size);
        wsq_free(stream);
        records.push_back({k <= 10 ? 4 : 14, k,
                           k <= 10 ? print_record(k, 1, k, 512, 512, 1, data)
                                   : tagged_print(14, k, k, "WSQ20", data, "006", 512, 512)});
    }
    return transaction("0500", records);
}

const std::string &file()
{
    static const std::string bytes = fourteen_prints();
    return bytes;
}

void BM_ReadAndCheck(benchmark::State &state)
{
    const std::string &bytes = file();
    for (auto _ : state) {
        wsq_transaction *tx;
        wsq_error error;
        if (wsq_transaction_read(&tx, &error, (const uint8_t *)bytes.data(), bytes.size()) != WSQ_OK ||
            wsq_transaction_check(tx, &error) != WSQ_OK || wsq_transaction_image_count(tx) != 14) {
            state.SkipWithError(error.message);
            break;
        }
        wsq_transaction_free(tx);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)bytes.size());
    state.counters["file_bytes"] = (double)bytes.size();
}
BENCHMARK(BM_ReadAndCheck)->Unit(benchmark::kMicrosecond);

void BM_Read(benchmark::State &state)
{
    const std::string &bytes = file();
    for (auto _ : state) {
        wsq_transaction *tx;
        if (wsq_transaction_read(&tx, nullptr, (const uint8_t *)bytes.data(), bytes.size()) != WSQ_OK) {
            state.SkipWithError("unreadable");
            break;
        }
        wsq_transaction_free(tx);
    }
}
BENCHMARK(BM_Read)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
