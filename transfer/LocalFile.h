// A local or network file opened for reading through a file URL.
#pragma once

#include "frame/Handle.h"
#include "transfer/TransferSession.h"

class LocalFile : public TransferFile {
 public:
  // Takes over the handle.
  LocalFile(std::string path, HANDLE file);
  ~LocalFile() override;

  bool Seek(LONG distance, DWORD method) override;
  bool Read(void* buffer, DWORD size, DWORD* count) override;
  bool Write(const void* buffer, DWORD size, DWORD* count) override;
  void CloseIfOpen() override;
  bool Close() override;
  DWORD Available() override;  // the file's size

 private:
  frame::ScopedFile file_;
};
