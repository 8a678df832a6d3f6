// DownloadToFile benchmark program (Windows, run under Wine by transfer_bench.sh).
//
//   transfer_bench serve BYTES PORT_FILE STOP_FILE
//     Serves BYTES bytes at /big.bin and 1 MiB at /small.bin from the test
//     HTTP server on 127.0.0.1, writes the port to PORT_FILE and runs until
//     STOP_FILE exists.
//   transfer_bench fetch URL TARGET
//     Downloads URL to TARGET through the transfer layer and prints one line:
//     seconds, bytes, and the process's peak working set and peak private
//     bytes, before and after the download.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/HttpServer.h"
#include "transfer/ConnectionManager.h"
#include "transfer/CrackUrl.h"
#include "transfer/WinInetApi.h"

namespace {

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  unsigned state = 12345;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 23);
  }
  return bytes;
}

int Serve(size_t size, const char* portFile, const char* stopFile) {
  testing_support::HttpServer server;
  server.Serve("/big.bin", Pattern(size));
  server.Serve("/small.bin", Pattern(1 << 20));
  if (!server.Start()) return 1;
  FILE* out = std::fopen(portFile, "w");
  if (!out) return 1;
  std::fprintf(out, "%u\n", static_cast<unsigned>(server.Port()));
  std::fclose(out);
  while (::GetFileAttributesA(stopFile) == INVALID_FILE_ATTRIBUTES) ::Sleep(100);
  return 0;
}

PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
  return counters;
}

int Fetch(const std::string& url, const std::string& target) {
  if (!BindWinInet()) return 1;
  std::string host, path, scheme;
  WORD port = 0;
  if (!CrackUrl(url, host, path, &scheme, &port)) return 1;
  const PROCESS_MEMORY_COUNTERS before = Memory();
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  TransferSession* session = ConnectionManager::Acquire(host, ServiceForScheme(scheme), port);
  if (!session) return 1;
  const DWORD result = session->DownloadToFile(nullptr, url, target, false);
  ConnectionManager::Release(host);
  ::QueryPerformanceCounter(&end);
  if (result != 0) {
    std::printf("error 0x%lx\n", static_cast<unsigned long>(result));
    return 1;
  }
  const PROCESS_MEMORY_COUNTERS after = Memory();
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ::GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &data);
  const unsigned long long bytes =
      (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  std::printf("seconds %.4f bytes %llu peak_ws_kb %lu %lu peak_private_kb %lu %lu\n",
              static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart, bytes,
              static_cast<unsigned long>(before.PeakWorkingSetSize / 1024),
              static_cast<unsigned long>(after.PeakWorkingSetSize / 1024),
              static_cast<unsigned long>(before.PeakPagefileUsage / 1024),
              static_cast<unsigned long>(after.PeakPagefileUsage / 1024));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "serve" && argc == 5)
    return Serve(std::strtoull(argv[2], nullptr, 10), argv[3], argv[4]);
  if (mode == "fetch" && argc == 4) return Fetch(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: transfer_bench serve BYTES PORT_FILE STOP_FILE | fetch URL TARGET\n");
  return 2;
}
