// Reference cabinets by their Windows path, and the FDI and FCI callbacks of
// these tests on real files, so that the program's FDI and the system's read
// the very same bytes. (EXPECTED.txt is read with cabtest::ReadExpected of
// CabTestSupport.h.)
#pragma once

#include <windows.h>
#include <fdi.h>

#include <cstdint>
#include <string>
#include <vector>

namespace cabtest {

// Folder of the reference cabinets (tests/data/cabinets), with a trailing backslash.
std::string CabinetsDir();
std::string ReadCabinet(const std::string& name);
// Offset of the first CFFILE entry of a cabinet without reserve areas.
uint32_t FirstFileEntry(const std::string& cabinet);

// The runtime's low-level files in binary mode, counted: a decoder that
// leaves one open shows in OpenFiles().
INT_PTR OpenFile(const char* path, int oflag, int pmode);
int CloseFile(INT_PTR hf);
int OpenFiles();

// One FDI implementation: the program's or the system's.
struct FdiApi {
  const char* label;
  decltype(&::FDICreate) create;
  decltype(&::FDICopy) copy;
  decltype(&::FDIDestroy) destroy;
};
FdiApi ProgramFdi();

struct DecodeRun {
  bool ok = true;
  ERF erf = {};                             // of the call that failed
  std::vector<std::string> cabinetsCopied;  // one per FDICopy call
  // Every notice in order: "cabinet index:next/disk/setID", "partial name",
  // "next name", "copy name folder cb date time attribs", "closed cb".
  std::vector<std::string> notices;
  std::vector<std::string> members;  // the bytes of each member closed
  std::string pendingNext, memberFile;
  bool sawCabinet = false;
  INT_PTR openMember = -1;
};

// Copies `first` from `folder` (with a trailing backslash) and then each next
// cabinet, as FDI users follow a set: the name comes from the first cabinet
// notice of a call, and members continued from an earlier cabinet
// (partial-file notices) are skipped. Stops at the first failure.
void DecodeWith(const FdiApi& api, const std::string& folder, const std::string& first,
                DecodeRun& run);

// The MD5 of all members' bytes in order, as EXPECTED.txt gives it.
std::string Md5OfMembers(const DecodeRun& run);

}  // namespace cabtest
