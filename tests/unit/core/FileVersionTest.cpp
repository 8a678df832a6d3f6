#include "core/FileVersion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/Handle.h"
#include "tests/support/Scratch.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

std::vector<std::string> SystemPrograms() {
  char folder[MAX_PATH];
  ::GetSystemDirectoryA(folder, MAX_PATH);
  std::vector<std::string> paths;
  for (const char* pattern : {"\\*.dll", "\\*.exe"}) {
    WIN32_FIND_DATAA entry;
    frame::ScopedFind find(::FindFirstFileA((std::string(folder) + pattern).c_str(), &entry));
    if (!find) continue;
    do {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        paths.push_back(std::string(folder) + "\\" + entry.cFileName);
    } while (::FindNextFileA(find.get(), &entry));
  }
  return paths;
}

std::string Text(const FileVersionParts& v) {
  return std::to_string(v.part[0]) + "." + std::to_string(v.part[1]) + "." +
         std::to_string(v.part[2]) + "." + std::to_string(v.part[3]);
}

// The version the status compares must be the system's, whichever way it
// was read: for every program of the system folder, and for damaged copies.
TEST(FileVersion, AgreesWithTheSystemOnEveryProgramOfTheSystemFolder) {
  const std::vector<std::string> programs = SystemPrograms();
  ASSERT_GT(programs.size(), 100u);
  int versioned = 0, fromHeaders = 0;
  for (const std::string& path : programs) {
    FileVersionParts read, system, headers;
    const bool found = ReadFileVersionParts(path, read);
    ASSERT_EQ(found, ReadFileVersionPartsThroughSystem(path, system)) << path;
    if (ReadFileVersionPartsFromHeaders(path, headers) == HeaderAnswer::kVersion) {
      ++fromHeaders;
      ASSERT_TRUE(found) << path;
      EXPECT_EQ(Text(headers), Text(system)) << path;
    }
    if (!found) continue;
    ++versioned;
    EXPECT_EQ(Text(read), Text(system)) << path;
  }
  EXPECT_GT(versioned, 100);
  // The cheap way answers the common case.
  EXPECT_GT(fromHeaders, versioned * 9 / 10);
}

// Damaged copies of a program stamped with a version the test chose: each
// gives that version or none, read either way, and never a stray one.
TEST(FileVersion, DamagedCopiesGiveTheStampedVersionOrNone) {
  ScratchDir dir("ver");
  const std::string manager = testing_support::WinePath(FIXTURES_DIR_UNIX) + "\\Manager.exe";
  const std::string stamped = dir.Path() + "stamped.exe";
  ASSERT_TRUE(testing_support::CopyWithVersion(manager, stamped, 7, 6, 5, 4));
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(stamped, bytes));
  ASSERT_GT(bytes.size(), 4096u);
  std::string wrongOffset = bytes;
  wrongOffset[60] = '\xF0';
  wrongOffset[61] = '\xFF';
  const struct {
    const char* what;
    std::string bytes;
    const char* version;  // "" for none
  } kCases[] = {
      {"whole", bytes, "7.6.5.4"},
      {"a quarter", bytes.substr(0, bytes.size() / 4), ""},
      {"a half", bytes.substr(0, bytes.size() / 2), ""},
      {"the header's offset past the end", wrongOffset, ""},
      {"nothing after the signature", std::string("MZ") + std::string(200, '\xFF'), ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.Path() + "damaged.exe";
    ASSERT_TRUE(WriteFileBytes(path, c.bytes));
    FileVersionParts read, system, headers;
    EXPECT_EQ(ReadFileVersionParts(path, read) ? Text(read) : "", c.version);
    EXPECT_EQ(ReadFileVersionPartsThroughSystem(path, system) ? Text(system) : "", c.version);
    if (ReadFileVersionPartsFromHeaders(path, headers) == HeaderAnswer::kVersion) {
      EXPECT_EQ(Text(headers), c.version);
    }
  }
}

// A small PE file whose only section holds the resource tree, built by hand
// so that each level can be damaged on purpose.
struct VersionResource {
  uint16_t language;
  uint16_t parts[4];
};

struct Damage {
  bool nameDirectoryPointsAtItself = false;
  bool rootCountPastTheSection = false;
  bool dataEntryOutside = false;
  uint16_t blockLength = 92;  // header 40, fixed part 52
};

void Put16(std::string& b, size_t at, uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}
void Put32(std::string& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

std::string VersionBlock(const uint16_t parts[4], uint16_t length) {
  std::string block(92, '\0');
  Put16(block, 0, length);
  Put16(block, 2, 52);  // the fixed part is the value
  const char key[] = "VS_VERSION_INFO";
  for (size_t i = 0; i < sizeof(key); ++i) Put16(block, 6 + i * 2, static_cast<uint8_t>(key[i]));
  Put32(block, 40, 0xFEEF04BD);
  Put32(block, 44, 0x00010000);
  Put32(block, 48, static_cast<uint32_t>(parts[0]) << 16 | parts[1]);
  Put32(block, 52, static_cast<uint32_t>(parts[2]) << 16 | parts[3]);
  Put32(block, 56, static_cast<uint32_t>(parts[0]) << 16 | parts[1]);
  Put32(block, 60, static_cast<uint32_t>(parts[2]) << 16 | parts[3]);
  Put32(block, 72, 4);  // VOS__WINDOWS32
  Put32(block, 76, 1);  // VFT_APP
  return block;
}

std::string CraftedProgram(const std::vector<VersionResource>& versions, const Damage& damage) {
  constexpr uint32_t kSectionAddress = 0x1000, kSectionOffset = 0x200;
  // Root (type 16), names (1), languages, data entries, then the blocks.
  const uint32_t names = 24, languages = 48, data = languages + 16 + 8 * versions.size();
  const uint32_t blocks = data + 16 * static_cast<uint32_t>(versions.size());
  std::string section(blocks, '\0');
  Put16(section, 14, 1);
  if (damage.rootCountPastTheSection) Put16(section, 14, 0x7FFF);
  Put32(section, 16, 16);
  Put32(section, 20, 0x80000000u | names);
  Put16(section, names + 14, 1);
  Put32(section, names + 16, 1);
  Put32(section, names + 20,
        0x80000000u | (damage.nameDirectoryPointsAtItself ? names : languages));
  Put16(section, languages + 14, static_cast<uint32_t>(versions.size()));
  for (size_t i = 0; i < versions.size(); ++i) {
    Put32(section, languages + 16 + 8 * i, versions[i].language);
    Put32(section, languages + 20 + 8 * i, data + 16 * static_cast<uint32_t>(i));
    const uint32_t address =
        damage.dataEntryOutside ? 0x40000 : kSectionAddress + static_cast<uint32_t>(section.size());
    Put32(section, data + 16 * i, address);
    Put32(section, data + 16 * i + 4, 92);
    section += VersionBlock(versions[i].parts, damage.blockLength);
  }
  const uint32_t rawSize = (static_cast<uint32_t>(section.size()) + 0x1FF) & ~0x1FFu;
  section.resize(rawSize, '\0');

  std::string file(kSectionOffset, '\0');
  file[0] = 'M';
  file[1] = 'Z';
  Put32(file, 60, 64);
  file.replace(64, 4, std::string("PE\0\0", 4));
  Put16(file, 68, 0x14C);   // i386
  Put16(file, 70, 1);       // one section
  Put16(file, 84, 224);     // optional header
  Put16(file, 86, 0x0102);  // executable, 32-bit
  const size_t optional = 88;
  Put16(file, optional, 0x10B);
  Put32(file, optional + 28, 0x400000);  // image base
  Put32(file, optional + 32, 0x1000);    // section alignment
  Put32(file, optional + 36, 0x200);     // file alignment
  Put16(file, optional + 40, 4);         // operating system version
  Put16(file, optional + 48, 4);         // subsystem version
  Put32(file, optional + 56, kSectionAddress + 0x1000);  // image size
  Put32(file, optional + 60, kSectionOffset);            // headers size
  Put16(file, optional + 68, 2);                         // GUI
  Put32(file, optional + 92, 16);                        // data directories
  Put32(file, optional + 96 + 2 * 8, kSectionAddress);
  Put32(file, optional + 96 + 2 * 8 + 4, blocks + 92 * static_cast<uint32_t>(versions.size()));
  const size_t header = optional + 224;
  file.replace(header, 6, ".rsrc", 6);
  Put32(file, header + 8, rawSize);
  Put32(file, header + 12, kSectionAddress);
  Put32(file, header + 16, rawSize);
  Put32(file, header + 20, kSectionOffset);
  Put32(file, header + 36, 0x40000040);  // initialised data, readable
  return file + section;
}

// Crafted resource trees: the header reader answers the plain one and leaves
// every odd one to the system; the answer is the one given here, and a tree
// that points at itself ends.
TEST(FileVersion, CraftedResourceTrees) {
  ScratchDir dir("crafted");
  const VersionResource english{0x0409, {1, 2, 3, 4}}, german{0x0407, {5, 6, 7, 8}};
  Damage selfPointing, pastTheSection, outside, shortBlock;
  selfPointing.nameDirectoryPointsAtItself = true;
  pastTheSection.rootCountPastTheSection = true;
  outside.dataEntryOutside = true;
  shortBlock.blockLength = 60;
  const struct {
    const char* what;
    std::string bytes;
    HeaderAnswer fromHeaders;
    const char* version;  // "" for none
  } kCases[] = {
      {"plain", CraftedProgram({english}, {}), HeaderAnswer::kVersion, "1.2.3.4"},
      {"a directory that points at itself", CraftedProgram({english}, selfPointing),
       HeaderAnswer::kAskSystem, ""},
      {"counts past the section", CraftedProgram({english}, pastTheSection),
       HeaderAnswer::kAskSystem, ""},
      // The system would copy the block from outside the image (under Wine it faults).
      {"a data entry outside the section", CraftedProgram({english}, outside),
       HeaderAnswer::kNone, ""},
      {"two languages", CraftedProgram({german, english}, {}), HeaderAnswer::kAskSystem,
       "1.2.3.4"},
      // A block that ends before its fixed part is damaged, whichever way it is read.
      {"a block length below the fixed part", CraftedProgram({english}, shortBlock),
       HeaderAnswer::kAskSystem, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.Path() + "crafted.exe";
    ASSERT_TRUE(WriteFileBytes(path, c.bytes));
    FileVersionParts read, headers;
    EXPECT_EQ(ReadFileVersionPartsFromHeaders(path, headers), c.fromHeaders);
    if (c.fromHeaders == HeaderAnswer::kVersion) {
      EXPECT_EQ(Text(headers), c.version);
    }
    EXPECT_EQ(ReadFileVersionParts(path, read) ? Text(read) : "", c.version);
  }
}

}  // namespace
