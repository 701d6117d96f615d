// libFuzzer entry: the input is the three asset files (see asset_case.h).
#include <cstdio>
#include <cstdlib>

#include "asset_case.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!asset_case_init()) {
        std::perror("asset fuzzer: scratch folder");
        std::exit(1);
    }
    std::atexit(asset_case_cleanup);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    run_asset_case(data, size);
    return 0;
}
