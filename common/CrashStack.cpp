#include "common/CrashStack.h"

#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace {

// A caller's frame lies above its callee's, and no single frame is this large.
const uint64_t kMaxFrameBytes = 1 << 20;
const size_t kSymbolChunk = 1024;

// Past the sanitizers' interceptors, which would check the probed bytes themselves.
ssize_t RawWrite(int fd, const void* data, size_t size) {
    return syscall(SYS_write, fd, data, size);
}

bool ReadAt(int fd, void* out, size_t size, uint64_t offset) {
    auto* at = static_cast<unsigned char*>(out);
    while (size > 0) {
        ssize_t done = pread(fd, at, size, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        at += done, size -= static_cast<size_t>(done), offset += static_cast<uint64_t>(done);
    }
    return true;
}

struct MODULESCAN {
    std::vector<uint64_t> starts, ends, biases;
    std::vector<std::string> paths;
    const std::string* programHostPath;
};

int AddModule(dl_phdr_info* info, size_t, void* data) {
    auto* scan = static_cast<MODULESCAN*>(data);
    bool program = info->dlpi_name == nullptr || info->dlpi_name[0] == '\0';
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type != PT_LOAD || !(header.p_flags & PF_X)) continue;
        uint64_t start = info->dlpi_addr + header.p_vaddr;
        scan->starts.push_back(start);
        scan->ends.push_back(start + header.p_memsz);
        scan->biases.push_back(info->dlpi_addr);
        scan->paths.push_back(program ? *scan->programHostPath : std::string(info->dlpi_name));
    }
    return 0;
}

}  // namespace

CCrashStack::~CCrashStack() {
    for (int fd : m_probe) {
        if (fd >= 0) close(fd);
    }
}

bool CCrashStack::Prepare(const std::string& programHostPath) {
    MODULESCAN scan;
    scan.programHostPath = &programHostPath;
    dl_iterate_phdr(&AddModule, &scan);
    m_modules.clear();
    for (size_t i = 0; i < scan.starts.size(); ++i)
        m_modules.push_back({scan.starts[i], scan.ends[i], scan.biases[i], scan.paths[i]});
    m_pSymbols = std::make_unique<unsigned char[]>(kSymbolChunk * sizeof(Elf64_Sym));
    return pipe2(m_probe, O_CLOEXEC | O_NONBLOCK) == 0;
}

// write(2) refuses an unreadable source with EFAULT instead of faulting; the pipe hands the
// bytes back.
bool CCrashStack::ReadMemory(uint64_t address, void* out, size_t size) const {
    if (m_probe[0] < 0) return false;
    if (RawWrite(m_probe[1], reinterpret_cast<const void*>(address), size) != static_cast<ssize_t>(size))
        return false;
    return read(m_probe[0], out, size) == static_cast<ssize_t>(size);
}

int CCrashStack::Walk(uint64_t pc, uint64_t fp, FRAME* frames, int maxFrames) const {
    int count = 0;
    // A zero frame pointer is the end of the chain (the outermost frame sets it), not a frame.
    while (count < maxFrames && fp != 0) {
        frames[count++] = {pc, fp};
        uint64_t link[2];  // the caller's frame pointer, then the return address
        if (fp % sizeof(uint64_t) != 0 || !ReadMemory(fp, link, sizeof link)) break;
        if (link[0] <= fp || link[0] - fp > kMaxFrameBytes || link[1] == 0) break;
        pc = link[1];
        fp = link[0];
    }
    return count;
}

const CCrashStack::MODULE* CCrashStack::FindModule(uint64_t address) const {
    for (const MODULE& module : m_modules) {
        if (address >= module.start && address < module.end) return &module;
    }
    return nullptr;
}

bool CCrashStack::FindSymbol(uint64_t address, char* name, size_t size, uint64_t* displacement) const {
    if (size == 0) return false;
    name[0] = '\0';
    const MODULE* module = FindModule(address);
    if (!module || !m_pSymbols) return false;
    int fd = open(module->hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool found = FindInFile(fd, address - module->bias, name, size, displacement);
    close(fd);
    return found;
}

bool CCrashStack::ReadSection(int fd, uint64_t tableOffset, unsigned index, SECTION& section) {
    Elf64_Shdr header;
    if (!ReadAt(fd, &header, sizeof header, tableOffset + uint64_t{index} * sizeof header)) return false;
    section = {header.sh_offset, header.sh_size, header.sh_link, header.sh_type};
    return true;
}

// The full symbol table when the file has one, else the dynamic one; the function symbol with
// the highest start at or below value that covers it.
bool CCrashStack::FindInFile(int fd, uint64_t value, char* name, size_t size, uint64_t* displacement) const {
    Elf64_Ehdr elf;
    if (!ReadAt(fd, &elf, sizeof elf, 0) || std::memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 ||
        elf.e_ident[EI_CLASS] != ELFCLASS64 || elf.e_shentsize != sizeof(Elf64_Shdr))
        return false;
    SECTION symbols{}, strings{};
    bool haveTable = false;
    for (uint32_t wanted : {uint32_t{SHT_SYMTAB}, uint32_t{SHT_DYNSYM}}) {
        for (unsigned i = 0; !haveTable && i < elf.e_shnum; ++i) {
            SECTION section;
            if (!ReadSection(fd, elf.e_shoff, i, section)) return false;
            if (section.type != wanted) continue;
            haveTable = section.link < elf.e_shnum && ReadSection(fd, elf.e_shoff, section.link, strings);
            symbols = section;
        }
    }
    if (!haveTable) return false;
    const uint64_t total = symbols.size / sizeof(Elf64_Sym);
    const auto* chunk = reinterpret_cast<const Elf64_Sym*>(m_pSymbols.get());
    Elf64_Sym best{};
    bool found = false;
    for (uint64_t first = 0; first < total; first += kSymbolChunk) {
        const uint64_t count = total - first < kSymbolChunk ? total - first : kSymbolChunk;
        if (!ReadAt(fd, m_pSymbols.get(), count * sizeof(Elf64_Sym),
                    symbols.offset + first * sizeof(Elf64_Sym)))
            return false;
        for (uint64_t i = 0; i < count; ++i) {
            const Elf64_Sym& symbol = chunk[i];
            const int type = ELF64_ST_TYPE(symbol.st_info);
            if ((type != STT_FUNC && type != STT_GNU_IFUNC) || symbol.st_shndx == SHN_UNDEF) continue;
            if (symbol.st_value > value || (symbol.st_size != 0 && value - symbol.st_value >= symbol.st_size))
                continue;
            if (!found || symbol.st_value > best.st_value) best = symbol, found = true;
        }
    }
    if (!found || best.st_name >= strings.size) return false;
    const uint64_t room = strings.size - best.st_name;
    const size_t length = room < size - 1 ? static_cast<size_t>(room) : size - 1;
    if (!ReadAt(fd, name, length, strings.offset + best.st_name)) return false;
    name[length] = '\0';
    *displacement = value - best.st_value;
    return name[0] != '\0';
}
