// Shared pieces of the fuzz targets. Each target defines
// LLVMFuzzerTestOneInput; libFuzzer calls it in the fuzz build, and the test
// run's replay program calls it over every file of the target's corpus.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace norvane::fuzz {

// A broken promise of the code under test: report it and abort, so both
// libFuzzer and the replay see a crash with the input that caused it.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void check(bool ok, const char* what)
{
    if (!ok)
        fail(what);
}

// A working folder for the unit, made once per process and prepared with its
// roots; the firmware's debug lines are dropped (a line per input would only
// slow the fuzzer down).
const std::string& unit_folder();

// Writes `size` bytes to `path` (created or truncated).
void write_bytes(const std::string& path, const uint8_t* data, size_t size);

}  // namespace norvane::fuzz
