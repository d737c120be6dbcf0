// The fuzz targets: each takes one input of any bytes, runs it through a reader of outside data
// and returns 0. A target aborts (FUZZ_CHECK) when a property it states does not hold, so
// libFuzzer and the replay test both report it as a crash.
//
// Each target is built twice: as its own libFuzzer program (main/FuzzMain.cpp, see
// scripts/fuzz.sh) and into the replay test, which runs every seed and every input that once
// crashed. FuzzSetUp gives the process a private emulation root first (targets that use named
// objects or files need it). Targets keep nothing between inputs but lazily made fixtures that
// live until exit. One thread per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition) \
    do {                      \
        if (!(condition)) {   \
            std::abort();     \
        }                     \
    } while (0)

typedef int (*FUZZENTRY)(const uint8_t* data, size_t size);

struct FUZZTARGET {
    const char* name;  // the folder of its seeds under tests/fuzz/corpus and regressions
    FUZZENTRY entry;
};

int FuzzXmlReader(const uint8_t* data, size_t size);
int FuzzSectionStore(const uint8_t* data, size_t size);
int FuzzQuotedString(const uint8_t* data, size_t size);
int FuzzFolderList(const uint8_t* data, size_t size);
int FuzzClientFilter(const uint8_t* data, size_t size);
int FuzzUrlAndUtf(const uint8_t* data, size_t size);
int FuzzCscFrame(const uint8_t* data, size_t size);
int FuzzSharedMemory(const uint8_t* data, size_t size);
int FuzzCommandBlock(const uint8_t* data, size_t size);
int FuzzStatusBlocks(const uint8_t* data, size_t size);
int FuzzHiveText(const uint8_t* data, size_t size);
int FuzzHttpRequest(const uint8_t* data, size_t size);

// Every target, for the replay test.
extern const FUZZTARGET kFuzzTargets[];
extern const size_t kFuzzTargetCount;

// Makes a private emulation root, HOME and TMPDIR for the process (once) and removes it at exit.
void FuzzSetUp();
// A host path in that root.
std::string FuzzPath(const std::string& name);
// The bytes as UTF-16LE units (an odd last byte is dropped).
std::u16string FuzzUnits(const uint8_t* data, size_t size);
