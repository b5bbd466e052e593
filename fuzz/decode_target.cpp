// Fuzz target: the whole-stream decoder on the fuzzer's bytes as they come.
#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const ui8 *data, size_t size)
{
    decode_and_check(data, size);
    return 0;
}
