#include "tests/unit/install/CabinetFixtures.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "install/Fdi.h"
#include "install/cab/Md5.h"
#include "tests/support/Scratch.h"

namespace cabtest {

std::string CabinetsDir() { return testing_support::WinePath(TESTDATA_UNIX) + "\\cabinets\\"; }

std::string ReadCabinet(const std::string& name) {
  std::string bytes;
  if (!testing_support::ReadFileBytes(CabinetsDir() + name, bytes) || bytes.empty())
    ADD_FAILURE() << "missing or empty test data file: " << CabinetsDir() << name;
  return bytes;
}

uint32_t FirstFileEntry(const std::string& cabinet) {
  uint32_t offset = 0;
  if (cabinet.size() >= 20) std::memcpy(&offset, cabinet.data() + 16, 4);  // coffFiles
  return offset;
}

namespace {
int g_openFiles = 0;
}

INT_PTR OpenFile(const char* path, int oflag, int pmode) {
  const int hf = _open(path, oflag | _O_BINARY, pmode);
  g_openFiles += hf != -1;
  return hf;
}

int CloseFile(INT_PTR hf) {
  const int result = _close(static_cast<int>(hf));
  g_openFiles -= result == 0;
  return result;
}

int OpenFiles() { return g_openFiles; }

FdiApi ProgramFdi() { return {"program", &::FDICreate, &::FDICopy, &::FDIDestroy}; }

namespace {

FNALLOC(Alloc) { return std::malloc(cb); }
FNFREE(Free) { std::free(pv); }
FNOPEN(Open) { return OpenFile(pszFile, oflag, pmode); }
FNREAD(Read) { return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(Write) { return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb)); }
FNCLOSE(Close) { return CloseFile(hf); }
FNSEEK(Seek) { return _lseek(static_cast<int>(hf), dist, seektype); }

std::string Text(const char* s) { return s ? s : ""; }

FNFDINOTIFY(Notify) {
  auto* run = static_cast<DecodeRun*>(pfdin->pv);
  switch (fdint) {
    case fdintCABINET_INFO:
      // The first notice of a call is the cabinet it was given; later ones
      // are cabinets opened for members that continue into them.
      if (!run->sawCabinet) run->pendingNext = Text(pfdin->psz1);
      run->sawCabinet = true;
      run->notices.push_back("cabinet " + std::to_string(pfdin->iCabinet) + ":" +
                             Text(pfdin->psz1) + "/" + Text(pfdin->psz2) + "/" +
                             std::to_string(pfdin->setID));
      return 0;
    case fdintPARTIAL_FILE:
      run->notices.push_back("partial " + Text(pfdin->psz1));
      return 0;
    case fdintNEXT_CABINET:
      run->notices.push_back("next " + Text(pfdin->psz1));
      return 0;
    case fdintCOPY_FILE:
      run->notices.push_back("copy " + Text(pfdin->psz1));
      for (long n : {long(pfdin->iFolder), pfdin->cb, long(pfdin->date), long(pfdin->time),
                     long(pfdin->attribs)})
        run->notices.back() += " " + std::to_string(n);
      return run->openMember = OpenFile(run->memberFile.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY,
                                        _S_IREAD | _S_IWRITE);
    case fdintCLOSE_FILE_INFO:
      if (pfdin->hf != run->openMember) return FALSE;
      CloseFile(pfdin->hf);
      run->openMember = -1;
      run->members.emplace_back();
      testing_support::ReadFileBytes(run->memberFile, run->members.back());
      run->notices.push_back("closed " + std::to_string(pfdin->cb));
      return TRUE;
    default:
      return 0;
  }
}

}  // namespace

void DecodeWith(const FdiApi& api, const std::string& folder, const std::string& first,
                DecodeRun& run) {
  testing_support::ScratchDir out("fdi");
  run.memberFile = out.Path() + "member.out";
  HFDI fdi = api.create(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &run.erf);
  ASSERT_NE(fdi, nullptr) << api.label << " FDICreate";
  std::string name = first, path = folder;
  // A bound keeps a looping set from hanging the test.
  for (int guard = 0; run.ok && !name.empty() && guard < 64; ++guard) {
    run.pendingNext.clear();
    run.sawCabinet = false;
    run.cabinetsCopied.push_back(name);
    run.ok = api.copy(fdi, &name[0], &path[0], 0, Notify, nullptr, &run) != FALSE;
    name = run.pendingNext;
  }
  if (run.openMember != -1) CloseFile(run.openMember);
  EXPECT_TRUE(api.destroy(fdi)) << api.label;
}

std::string Md5OfMembers(const DecodeRun& run) {
  cab::Md5 md5;
  for (const auto& bytes : run.members) md5.Update(bytes.data(), bytes.size());
  return md5.HexDigest();
}

}  // namespace cabtest
