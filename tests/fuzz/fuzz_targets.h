#pragma once

// The fuzz targets of the platform-free rules. Each takes any bytes and
// returns 0; a broken rule shows as a sanitizer report or an abort. Built
// twice: as libFuzzer programs (./dev fuzz, clang) and into the native unit
// tests, which run every committed corpus file through them.

#include <cstddef>
#include <cstdint>

int FuzzSettingsCodec(const uint8_t* data, size_t size);
int FuzzNameMatch(const uint8_t* data, size_t size);

// libFuzzer's entry point, in the libFuzzer build only.
#ifdef TONEFORK_LIBFUZZER
#define TONEFORK_FUZZ_ENTRY(function)                                               \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) \
    {                                                                               \
        return function(data, size);                                                \
    }
#else
#define TONEFORK_FUZZ_ENTRY(function)
#endif

// Ends the run when a property the rules promise does not hold, so that the
// fuzzer reports the input.
#define TONEFORK_FUZZ_REQUIRE(condition) \
    do                                   \
    {                                    \
        if (!(condition))                \
            __builtin_trap();            \
    } while (false)
