#include "kernel/library_file.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "kernel/file.h"

namespace w32 {
namespace {

#if defined(__x86_64__)
constexpr Elf64_Half kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr Elf64_Half kMachine = EM_AARCH64;
#else
#error "w32 loads 64-bit libraries of x86-64 or AArch64"
#endif

// Bounds on what a sane library holds, so a hostile file costs little to read.
constexpr size_t kMaxDynamicBytes = 1 << 20;
constexpr size_t kMaxStringTableBytes = 16 << 20;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool ReadAt(int fd, void* buffer, size_t size, off_t offset) {
  char* out = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::pread(fd, out, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// The file offset of a virtual address inside a loaded segment's file bytes.
bool FileOffset(const std::vector<Elf64_Phdr>& segments, Elf64_Addr address, Elf64_Off* offset) {
  for (const Elf64_Phdr& segment : segments) {
    if (segment.p_type == PT_LOAD && address >= segment.p_vaddr && address - segment.p_vaddr < segment.p_filesz) {
      *offset = segment.p_offset + (address - segment.p_vaddr);
      return true;
    }
  }
  return false;
}

void ReadNeeded(int fd, const Elf64_Ehdr& header, std::vector<std::string>* needed) {
  if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0) return;
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  if (!ReadAt(fd, segments.data(), segments.size() * sizeof(Elf64_Phdr), static_cast<off_t>(header.e_phoff))) return;
  const Elf64_Phdr* dynamic_segment = nullptr;
  for (const Elf64_Phdr& segment : segments) {
    if (segment.p_type == PT_DYNAMIC) dynamic_segment = &segment;
  }
  if (dynamic_segment == nullptr || dynamic_segment->p_filesz > kMaxDynamicBytes) return;
  std::vector<Elf64_Dyn> entries(dynamic_segment->p_filesz / sizeof(Elf64_Dyn));
  if (!ReadAt(fd, entries.data(), entries.size() * sizeof(Elf64_Dyn), static_cast<off_t>(dynamic_segment->p_offset))) {
    return;
  }
  Elf64_Addr table_address = 0;
  Elf64_Xword table_size = 0;
  std::vector<Elf64_Xword> name_offsets;
  for (const Elf64_Dyn& entry : entries) {
    if (entry.d_tag == DT_NULL) break;
    if (entry.d_tag == DT_STRTAB) table_address = entry.d_un.d_ptr;
    if (entry.d_tag == DT_STRSZ) table_size = entry.d_un.d_val;
    if (entry.d_tag == DT_NEEDED) name_offsets.push_back(entry.d_un.d_val);
  }
  Elf64_Off table_offset = 0;
  if (table_size == 0 || table_size > kMaxStringTableBytes || !FileOffset(segments, table_address, &table_offset)) {
    return;
  }
  std::string table(table_size, '\0');
  if (!ReadAt(fd, table.data(), table.size(), static_cast<off_t>(table_offset))) return;
  for (Elf64_Xword offset : name_offsets) {
    if (offset >= table.size()) continue;
    const size_t end = table.find('\0', offset);
    if (end == std::string::npos) continue;
    needed->push_back(table.substr(offset, end - offset));
  }
}

}  // namespace

DWORD InspectLibraryFile(const std::string& path, std::vector<std::string>* needed) {
  needed->clear();
  Descriptor file(OpenRegularFile(path, O_RDONLY));
  if (file.get() < 0) {
    return errno == EACCES || errno == EPERM || errno == EISDIR ? ERROR_ACCESS_DENIED : ERROR_MOD_NOT_FOUND;
  }
  Elf64_Ehdr header{};
  if (!ReadAt(file.get(), &header, sizeof header, 0)) return ERROR_BAD_EXE_FORMAT;
  if (header.e_ident[EI_MAG0] != ELFMAG0 || header.e_ident[EI_MAG1] != ELFMAG1 ||
      header.e_ident[EI_MAG2] != ELFMAG2 || header.e_ident[EI_MAG3] != ELFMAG3 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
      header.e_type != ET_DYN || header.e_machine != kMachine) {
    return ERROR_BAD_EXE_FORMAT;
  }
  ReadNeeded(file.get(), header, needed);
  return ERROR_SUCCESS;
}

}  // namespace w32
