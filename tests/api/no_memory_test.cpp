// Memory that cannot be had, at every allocation a whole-image call makes:
// each refusal comes back as WSQ_ERR_MEMORY (or is survived), the process
// lives on and nothing leaks. The kernels themselves still end the process
// with their assertion report. This program replaces the C allocator with
// one that refuses the n-th request after it is armed; it is not built with
// the sanitizers, which bring allocators of their own.
#include "libwsq.h"
#include "transaction_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *block);
}

namespace {

long grants_left = -1;  // requests to grant before refusing one; -1: grant all
bool refused = false;
long blocks_in_use = 0;

bool refuse_this()
{
    if (grants_left < 0 || grants_left-- > 0)
        return false;
    refused = true;
    return true;
}

void *counted(void *block)
{
    blocks_in_use += block != nullptr;
    return block;
}

}  // namespace

extern "C" {
void *malloc(size_t size) { return refuse_this() ? nullptr : counted(__libc_malloc(size)); }
void *calloc(size_t count, size_t size)
{
    return refuse_this() ? nullptr : counted(__libc_calloc(count, size));
}
void *realloc(void *block, size_t size)
{
    if (refuse_this())
        return nullptr;
    void *moved = __libc_realloc(block, size);
    blocks_in_use += (moved != nullptr) - (block != nullptr && (moved || size == 0));
    return moved;
}
void free(void *block)
{
    blocks_in_use -= block != nullptr;
    __libc_free(block);
}
void *memalign(size_t alignment, size_t size)
{
    return refuse_this() ? nullptr : counted(__libc_memalign(alignment, size));
}
void *aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void **block, size_t alignment, size_t size)
{
    *block = memalign(alignment, size);
    return *block ? 0 : ENOMEM;
}
}

namespace {

// Runs call with the n-th allocation refused, for n = 0, 1, ... until it
// makes no more: every run ends in success or WSQ_ERR_MEMORY, leaking nothing.
void refuse_each_allocation(const std::function<int()> &call)
{
    for (long n = 0;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " refused");
        long before = blocks_in_use;
        refused = false;
        grants_left = n;
        int status = call();
        grants_left = -1;
        EXPECT_TRUE(status == WSQ_OK || status == WSQ_ERR_MEMORY) << wsq_strerror(status);
        EXPECT_EQ(blocks_in_use, before);
        if (!refused)
            break;
    }
}

TEST(NoMemory, EveryCallReportsItAndLeaksNothing)
{
    std::ifstream file(WSQ_TEST_DATA "/fvc02db1_102_1.raw", std::ios::binary);
    const std::string pixels{std::istreambuf_iterator<char>(file), {}};
    wsq_encode_options options;
    wsq_encode_defaults(&options);
    options.comment = "comment";
    uint8_t *stream = nullptr;
    size_t size = 0;
    ASSERT_EQ(wsq_encode(&stream, &size, nullptr, (const uint8_t *)pixels.data(), pixels.size(),
                         388, 374, &options),
              WSQ_OK);
    refuse_each_allocation([&] {
        uint8_t *out = nullptr;
        size_t length = 0;
        int status = wsq_encode(&out, &length, nullptr, (const uint8_t *)pixels.data(),
                                pixels.size(), 388, 374, &options);
        wsq_free(out);
        return status;
    });
    refuse_each_allocation([&] {
        uint8_t *out = nullptr;
        wsq_info info;
        int status = wsq_decode(&out, &info, nullptr, stream, size, nullptr);
        wsq_free(out);
        return status;
    });
    refuse_each_allocation([&] {
        const uint8_t *text;
        size_t length;
        return wsq_comment(&text, &length, nullptr, stream, size, 0);
    });
    wsq_free(stream);
}

// Reading a transaction, checking every record and an edit: each allocation refused in turn.
TEST(NoMemory, TransactionsReportItAndLeakNothing)
{
    using namespace transaction_fixture;
    const std::string print = print_record(1, 1, 2, 3, 2, 0, "abcdef");
    const std::string bytes =
        transaction("0500", {{2, 0, tagged_record(2, {{"002", "0"}})}, {4, 1, print}, {4, 1, print}});
    refuse_each_allocation([&] {
        wsq_transaction *tx = nullptr;
        size_t flaws = 0;
        int status = wsq_transaction_read(&tx, nullptr, (const uint8_t *)bytes.data(), bytes.size());
        if (status == WSQ_OK && wsq_transaction_check_all(tx, nullptr, 0, &flaws) == WSQ_OK && flaws == 1)
            status = wsq_transaction_remove(tx, 3, nullptr);
        wsq_transaction_free(tx);
        return status;
    });
}

TEST(NoMemoryDeathTest, TheKernelsEndWithTheirAssertionReport)
{
    auto refused_filter = [] {
        grants_left = 0;
        makepqf("h", WSQh0hbqf, -4, 4, 2);
    };
    EXPECT_EXIT(refused_filter(), ::testing::ExitedWithCode(WSQ_ASSERT_STATUS),
                "^libwsq\\.cpp:[0-9]+: failed assertion `qm'\n$");
}

}  // namespace
