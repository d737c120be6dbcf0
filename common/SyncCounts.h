// SYNCCOUNTS and COMPARECOUNTS: the binary count records the synchronisation program writes into
// its progress block ("TODO", "DONE", "COMS", "COMT") and the engine stores with each run.
//
// The structs are the exact little-endian byte images (576 and 136 bytes), so a record is read
// or stored with one memcpy; the static_asserts below pin every offset. Fields marked reserved
// are not interpreted. The records come from another process: every field is plain data, any
// value is safe to hold, and no field is used as a length or an index.
// Plain values without locks; any thread may use its own copies.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "the records are little-endian images");

// One side of a SYNCCOUNTS: operations done (DONE) or planned (TODO).
struct SYNCSIDECOUNTS {
    uint32_t nFilesAdded;
    uint32_t nFilesUpdated;
    uint32_t nFilesDeleted;
    uint32_t nFilesSkipped;
    uint32_t nErrorsAdding;
    uint32_t nErrorsUpdating;
    uint32_t nErrorsDeleting;
    uint32_t reserved28;
    uint64_t nBytesAdded;
    uint64_t nBytesUpdated;
    uint64_t nBytesDeleted;
    uint64_t nBytesSkipped;
    uint64_t nBytesErrorsAdding;
    uint64_t nBytesErrorsUpdating;
    uint64_t nBytesErrorsDeleting;
    uint32_t nFoldersAdded;
    uint32_t reserved92;
    uint32_t nFoldersDeleted;
    uint32_t nFoldersSkipped;
    uint32_t nFolderErrorsAdding;
    uint32_t reserved108;
    uint32_t nFolderErrorsDeleting;
    uint8_t reserved116[60];
};

// Archive operations of one side.
struct SYNCARCHIVECOUNTS {
    uint32_t nFilesAdded;
    uint32_t reserved4;
    uint32_t nFilesDeleted;
    uint32_t reserved12;
    uint32_t nErrorsAdding;
    uint32_t reserved20;
    uint32_t nErrorsDeleting;
    uint32_t reserved28;
    uint64_t nBytesAdded;
    uint64_t reserved40;
    uint64_t nBytesDeleted;
    uint64_t reserved56;
    uint64_t nBytesErrorsAdding;
    uint64_t reserved72;
    uint64_t nBytesErrorsDeleting;
};

struct SYNCCOUNTS {
    int32_t nResult;  // -1: no data; in DONE the exit code
    uint8_t bSourceCompressed;
    uint8_t bSourceEncrypted;
    uint8_t bTargetCompressed;
    uint8_t bTargetEncrypted;
    uint8_t bSourceLocked;
    uint8_t bSourceArchived;
    uint8_t bTargetLocked;
    uint8_t bTargetArchived;
    uint8_t bArchiveInfo;
    uint8_t reserved13[3];
    SYNCSIDECOUNTS source;
    SYNCSIDECOUNTS target;
    SYNCARCHIVECOUNTS sourceArchive;
    SYNCARCHIVECOUNTS targetArchive;
    uint32_t nSourceArchiveFiles;
    uint32_t reserved548;
    uint64_t nSourceArchiveBytes;
    uint32_t nTargetArchiveFiles;
    uint32_t reserved564;
    uint64_t nTargetArchiveBytes;
};

// Comparison counts of one side.
struct COMPARECOUNTS {
    uint32_t nFiles;
    uint32_t nFolders;
    uint32_t nMatchedFiles;
    uint32_t nMatchedFolders;
    uint32_t nSingleFiles;
    uint32_t nSingleFolders;
    uint32_t nNewerFiles;
    uint32_t nOlderFiles;
    uint32_t nExcludedFiles;
    uint32_t nExcludedFolders;
    uint64_t nBytes;
    uint64_t nMatchedBytes;
    uint64_t nSingleBytes;
    uint64_t nNewerBytes;
    uint64_t nOlderBytes;
    uint64_t nExcludedBytes;
    int32_t nConflictsCounted;  // non-zero: conflicts were counted
    uint32_t nConflictFiles;
    uint32_t reserved96;
    int32_t nAvailable;  // -1: no data
    uint64_t nConflictBytes;
    uint8_t reserved112[16];
    uint8_t bCompressed;
    uint8_t bEncrypted;
    uint8_t bLocked;
    uint8_t bArchived;
    uint32_t reserved132;
};

static_assert(sizeof(SYNCSIDECOUNTS) == 176 && offsetof(SYNCSIDECOUNTS, nBytesAdded) == 32 &&
              offsetof(SYNCSIDECOUNTS, nFoldersAdded) == 88 &&
              offsetof(SYNCSIDECOUNTS, nFoldersDeleted) == 96 &&
              offsetof(SYNCSIDECOUNTS, nFolderErrorsDeleting) == 112);
static_assert(sizeof(SYNCARCHIVECOUNTS) == 88 && offsetof(SYNCARCHIVECOUNTS, nErrorsDeleting) == 24 &&
              offsetof(SYNCARCHIVECOUNTS, nBytesAdded) == 32 &&
              offsetof(SYNCARCHIVECOUNTS, nBytesErrorsDeleting) == 80);
static_assert(sizeof(SYNCCOUNTS) == 576 && offsetof(SYNCCOUNTS, bArchiveInfo) == 12 &&
              offsetof(SYNCCOUNTS, source) == 16 && offsetof(SYNCCOUNTS, target) == 192 &&
              offsetof(SYNCCOUNTS, sourceArchive) == 368 && offsetof(SYNCCOUNTS, targetArchive) == 456 &&
              offsetof(SYNCCOUNTS, nSourceArchiveFiles) == 544 &&
              offsetof(SYNCCOUNTS, nSourceArchiveBytes) == 552 &&
              offsetof(SYNCCOUNTS, nTargetArchiveFiles) == 560 &&
              offsetof(SYNCCOUNTS, nTargetArchiveBytes) == 568);
static_assert(sizeof(COMPARECOUNTS) == 136 && offsetof(COMPARECOUNTS, nBytes) == 40 &&
              offsetof(COMPARECOUNTS, nConflictsCounted) == 88 &&
              offsetof(COMPARECOUNTS, nAvailable) == 100 && offsetof(COMPARECOUNTS, nConflictBytes) == 104 &&
              offsetof(COMPARECOUNTS, bCompressed) == 128);

// The "no data" records the engine puts into a fresh block.
inline SYNCCOUNTS NoSyncCounts() {
    SYNCCOUNTS counts{};
    counts.nResult = -1;
    return counts;
}

inline COMPARECOUNTS NoCompareCounts() {
    COMPARECOUNTS counts{};
    counts.nAvailable = -1;
    return counts;
}

// The compressed, encrypted, locked and archived marks of one side, as the summaries show them.
struct SIDEFLAGS {
    bool bCompressed;
    bool bEncrypted;
    bool bLocked;
    bool bArchived;
};

inline SIDEFLAGS SourceFlags(const SYNCCOUNTS& counts) {
    return {counts.bSourceCompressed != 0, counts.bSourceEncrypted != 0, counts.bSourceLocked != 0,
            counts.bSourceArchived != 0};
}
inline SIDEFLAGS TargetFlags(const SYNCCOUNTS& counts) {
    return {counts.bTargetCompressed != 0, counts.bTargetEncrypted != 0, counts.bTargetLocked != 0,
            counts.bTargetArchived != 0};
}
inline SIDEFLAGS SideFlags(const COMPARECOUNTS& side) {
    return {side.bCompressed != 0, side.bEncrypted != 0, side.bLocked != 0, side.bArchived != 0};
}

inline bool HasData(const SYNCCOUNTS& counts) {
    return counts.nResult != -1;
}
inline bool HasData(const COMPARECOUNTS& counts) {
    return counts.nAvailable != -1;
}
