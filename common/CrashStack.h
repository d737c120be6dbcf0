// CCrashStack: the call stack of a crashed thread for the crash report (CrashHandler.h): the
// frames found by following the frame-pointer chain from the crash context, and the function
// that holds an address, read from the symbol table of its module's file.
//
// Everything a crash needs is prepared by Prepare, outside the signal handler: the loaded
// modules with their host files and load addresses, a pipe through which memory is probed, and
// the buffers the symbol search reads into. Walk and FindSymbol then use only async-signal-safe
// system calls (read, write, pread, open, close): they allocate nothing and take no lock, and an
// address that cannot be read ends the walk instead of faulting.
//
// The chain is followed while each next frame lies above the last within the stack's bounds and
// its frame pointer is not 0 (the outermost frame's mark, which is no frame of its own); code
// built without frame pointers (the C library) ends it early or adds frames without a symbol,
// never a fault. Names are the linker's (mangled) names; a module whose file has no
// symbol table or cannot be opened gives none.
//
// Threads: Prepare on one thread before the handler is installed; Walk and FindSymbol on the
// crashing thread only (the first crash, see CrashHandler.h). The object owns its descriptors and
// buffers and frees them in its destructor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CCrashStack {
   public:
    struct FRAME {
        uint64_t pc;  // the instruction (frame 0) or the return address
        uint64_t fp;  // the frame pointer of the function that pc lies in
    };
    static constexpr int kMaxFrames = 64;

    CCrashStack() = default;
    ~CCrashStack();
    CCrashStack(const CCrashStack&) = delete;
    CCrashStack& operator=(const CCrashStack&) = delete;

    // Notes the modules loaded now (programHostPath is the file of the program itself).
    bool Prepare(const std::string& programHostPath);

    // The frames from the crash context's instruction and frame pointers; how many were written.
    int Walk(uint64_t pc, uint64_t fp, FRAME* frames, int maxFrames) const;

    // The name of the function that holds address into name (always terminated), and the
    // distance from its start; false when no symbol covers it.
    bool FindSymbol(uint64_t address, char* name, size_t size, uint64_t* displacement) const;

   private:
    struct MODULE {
        uint64_t start;
        uint64_t end;
        uint64_t bias;  // load address: symbol values are relative to it
        std::string hostPath;
    };
    struct SECTION {
        uint64_t offset;
        uint64_t size;
        uint32_t link;
        uint32_t type;
    };

    bool ReadMemory(uint64_t address, void* out, size_t size) const;
    const MODULE* FindModule(uint64_t address) const;
    bool FindInFile(int fd, uint64_t value, char* name, size_t size, uint64_t* displacement) const;
    static bool ReadSection(int fd, uint64_t tableOffset, unsigned index, SECTION& section);

    std::vector<MODULE> m_modules;
    int m_probe[2] = {-1, -1};
    std::unique_ptr<unsigned char[]> m_pSymbols;  // a chunk of a symbol table
};
