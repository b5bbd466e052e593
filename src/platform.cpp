/* platform.cpp - the library's part of the platform layer: memory. */
#include "platform.h"

#include <cstdlib>

#if defined(_WIN32)
#include <malloc.h>
#elif defined(__linux__)
#include <sys/mman.h>
#endif

namespace wsq_platform {

void *huge_buffer(std::size_t bytes)
{
#if defined(__linux__)
    /* Whole huge pages: a part of one costs a fault per 4 KiB. */
    const std::size_t huge_page = (std::size_t)2 << 20;
    bytes = (bytes + huge_page - 1) / huge_page * huge_page;
    void *buffer = nullptr;
    if (posix_memalign(&buffer, huge_page, bytes) != 0)
        return nullptr;
    madvise(buffer, bytes, MADV_HUGEPAGE);  /* advice only: a refusal changes nothing */
    return buffer;
#else
    return std::malloc(bytes);
#endif
}

void *aligned_buffer(std::size_t alignment, std::size_t bytes)
{
#if defined(_WIN32)
    return _aligned_malloc(bytes, alignment);
#else
    void *buffer = nullptr;
    return posix_memalign(&buffer, alignment, bytes) == 0 ? buffer : nullptr;
#endif
}

void aligned_release(void *buffer)
{
#if defined(_WIN32)
    _aligned_free(buffer);
#else
    std::free(buffer);
#endif
}

}  // namespace wsq_platform
