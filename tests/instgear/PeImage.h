// Minimal PE32 and PE32+ images with one ".rsrc" section holding a version resource, written
// byte by byte so that tests and fuzz seeds need no Windows files.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace petest {

struct Layout {
  size_t peHeader = 0x40;     // e_lfanew
  size_t optionalHeader = 0;  // start of the optional header
  size_t sectionTable = 0;
  size_t resource = 0x200;  // file offset of the resource tree (RVA 0x1000)
  size_t dataEntry = 0;     // the IMAGE_RESOURCE_DATA_ENTRY, relative to the tree
  size_t versionBlock = 0;  // file offset of VS_VERSIONINFO
  size_t fixedInfo = 0;     // file offset of VS_FIXEDFILEINFO
};

class Writer {
 public:
  std::vector<uint8_t> bytes;
  void U16(size_t at, uint16_t v) { Put(at, &v, 2); }
  void U32(size_t at, uint32_t v) { Put(at, &v, 4); }
  void Put(size_t at, const void* p, size_t n) {
    if (bytes.size() < at + n) bytes.resize(at + n);
    std::memcpy(bytes.data() + at, p, n);  // the tests run on little-endian machines
  }
};

// An image whose version resource says ms:ls (see instgear::FileVersion). The file ends with
// the last byte of VS_FIXEDFILEINFO, so any shorter prefix of it lacks part of the version.
inline std::vector<uint8_t> BuildPe(bool pe32Plus, uint64_t version, Layout* layout = nullptr) {
  Layout l;
  Writer w;
  const uint32_t rsrcRva = 0x1000;
  w.U16(0, 0x5A4D);
  w.U32(0x3C, static_cast<uint32_t>(l.peHeader));
  w.U32(l.peHeader, 0x4550);
  const size_t coff = l.peHeader + 4;
  const uint16_t optionalSize = pe32Plus ? 240 : 224;
  w.U16(coff, pe32Plus ? 0x8664 : 0x14C);
  w.U16(coff + 2, 1);  // one section
  w.U16(coff + 16, optionalSize);
  w.U16(coff + 18, 0x2102);  // executable DLL
  l.optionalHeader = coff + 20;
  w.U16(l.optionalHeader, pe32Plus ? 0x20B : 0x10B);
  const size_t dirs = l.optionalHeader + (pe32Plus ? 112 : 96);
  w.U32(dirs - 4, 16);  // NumberOfRvaAndSizes
  l.sectionTable = l.optionalHeader + optionalSize;

  // Resource tree: RT_VERSION (16) / VS_VERSION_INFO (1) / language 0x409 / data entry.
  const size_t r = l.resource;
  w.U16(r + 14, 1);
  w.U32(r + 16, 16);
  w.U32(r + 20, 0x80000000u | 0x18);
  w.U16(r + 0x18 + 14, 1);
  w.U32(r + 0x18 + 16, 1);
  w.U32(r + 0x18 + 20, 0x80000000u | 0x30);
  w.U16(r + 0x30 + 14, 1);
  w.U32(r + 0x30 + 16, 0x409);
  w.U32(r + 0x30 + 20, 0x48);
  l.dataEntry = 0x48;
  const size_t block = 0x58;
  const uint16_t blockSize = 40 + 52;
  w.U32(r + 0x48, rsrcRva + block);
  w.U32(r + 0x48 + 4, blockSize);
  l.versionBlock = r + block;
  w.U16(l.versionBlock, blockSize);
  w.U16(l.versionBlock + 2, 52);
  const char key[] = "VS_VERSION_INFO";
  for (size_t i = 0; i < sizeof(key); ++i)
    w.U16(l.versionBlock + 6 + 2 * i, static_cast<uint16_t>(key[i]));
  l.fixedInfo = l.versionBlock + 40;
  w.U32(l.fixedInfo, 0xFEEF04BDu);
  w.U32(l.fixedInfo + 4, 0x10000);
  w.U32(l.fixedInfo + 8, static_cast<uint32_t>(version >> 32));
  w.U32(l.fixedInfo + 12, static_cast<uint32_t>(version));
  w.U32(l.fixedInfo + 48, 0);  // dwFileDateLS, the last field
  const uint32_t rsrcSize = static_cast<uint32_t>(w.bytes.size() - r);

  w.U32(dirs + 2 * 8, rsrcRva);
  w.U32(dirs + 2 * 8 + 4, rsrcSize);
  const char name[8] = ".rsrc";
  w.Put(l.sectionTable, name, 8);
  w.U32(l.sectionTable + 8, rsrcSize);
  w.U32(l.sectionTable + 12, rsrcRva);
  w.U32(l.sectionTable + 16, rsrcSize);
  w.U32(l.sectionTable + 20, static_cast<uint32_t>(r));
  if (layout != nullptr) *layout = l;
  return w.bytes;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace petest
