#include "hosts/common/build_id.h"

#include <elf.h>
#include <link.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace kv::host {

namespace {

size_t Padded(size_t n) { return (n + 3) & ~size_t(3); }

// The build-id note among the notes of one note segment.
std::string FromNotes(const uint8_t* notes, size_t size) {
  size_t at = 0;
  while (at + sizeof(Elf64_Nhdr) <= size) {
    Elf64_Nhdr note;
    std::memcpy(&note, notes + at, sizeof note);
    const size_t name = at + sizeof note, desc = name + Padded(note.n_namesz);
    if (desc > size || note.n_descsz > size - desc) break;
    if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(notes + name, "GNU", 4) == 0) {
      static constexpr char kHex[] = "0123456789abcdef";
      std::string id;
      for (size_t i = 0; i < note.n_descsz; ++i) {
        id += kHex[notes[desc + i] >> 4];
        id += kHex[notes[desc + i] & 15];
      }
      return id;
    }
    at = desc + Padded(note.n_descsz);
  }
  return {};
}

template <class T>
bool ReadAt(std::ifstream& in, uint64_t offset, T* out, size_t count = 1) {
  in.seekg(std::streamoff(offset));
  return bool(in.read(reinterpret_cast<char*>(out), std::streamsize(sizeof(T) * count)));
}

struct Search {
  uintptr_t address;
  std::string id;
};

int FromLoadedObject(dl_phdr_info* info, size_t, void* data) {
  auto& search = *static_cast<Search*>(data);
  bool holds = false;
  for (int i = 0; i < info->dlpi_phnum && !holds; ++i) {
    const ElfW(Phdr)& p = info->dlpi_phdr[i];
    const uintptr_t start = info->dlpi_addr + p.p_vaddr;
    holds = p.p_type == PT_LOAD && search.address >= start && search.address - start < p.p_memsz;
  }
  if (!holds) return 0;
  for (int i = 0; i < info->dlpi_phnum && search.id.empty(); ++i) {
    const ElfW(Phdr)& p = info->dlpi_phdr[i];
    if (p.p_type == PT_NOTE)
      search.id = FromNotes(reinterpret_cast<const uint8_t*>(info->dlpi_addr + p.p_vaddr), p.p_memsz);
  }
  return 1;
}

}  // namespace

std::string BuildIdOfFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  Elf64_Ehdr header;
  if (!ReadAt(in, 0, &header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_phentsize != sizeof(Elf64_Phdr))
    return {};
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  if (!ReadAt(in, header.e_phoff, segments.data(), segments.size())) return {};
  for (const Elf64_Phdr& p : segments) {
    if (p.p_type != PT_NOTE || p.p_filesz > (1u << 20)) continue;
    std::vector<uint8_t> notes(p.p_filesz);
    if (!ReadAt(in, p.p_offset, notes.data(), notes.size())) return {};
    if (std::string id = FromNotes(notes.data(), notes.size()); !id.empty()) return id;
  }
  return {};
}

std::string BuildIdOfLoaded(const void* address) {
  Search search{reinterpret_cast<uintptr_t>(address), {}};
  dl_iterate_phdr(FromLoadedObject, &search);
  return search.id;
}

}  // namespace kv::host
