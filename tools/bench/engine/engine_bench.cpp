// Installation engine benchmark program (Windows, run under Wine by
// engine_bench.sh).
//
//   engine_bench serve DIR PORT_FILE STOP_FILE
//     Serves every DIR\*.cab at /<name> from the test HTTP server on
//     127.0.0.1, writes the port to PORT_FILE and runs until STOP_FILE exists.
//     A process of its own, so that the cabinets held in memory are not
//     counted as the engine's.
//   engine_bench install BASE_URL MANIFEST APP_DIR LOG
//     Installs the update MANIFEST describes (make_update.py) from BASE_URL
//     into APP_DIR (ending with a backslash) through SpawnDownloadThread in
//     Setup mode with the quiet option, as the web installer runs it. Every
//     log line goes to LOG with the seconds since the start in front. Prints
//     one line: seconds, the run's result, and the process's peak working set
//     and peak private bytes before and after the run. Afterwards the manager
//     that the run started is asked to close.
//   engine_bench wininet BASE_URL MANIFEST DIR READ [unpack|thread]
//     A diagnostic: fetches every cabinet MANIFEST names once with WinINet
//     alone, on one thread, over one connection handle, into DIR, with reads
//     of READ bytes (0: of what InternetQueryDataAvailable reports, as the
//     engine reads). With "unpack" each cabinet is queued to the engine's
//     unpacking thread as its download ends, as the engine does; with
//     "thread" each request is sent from a thread started for it and
//     awaited, as the transfer layer sends. Prints the
//     seconds in all, in the requests (open, send, status) and in the
//     bodies, and the number of reads.
//   engine_bench slow CABINET MEMBER APP_DIR
//     Installs MEMBER of CABINET, served in 2000-byte pieces 20 ms apart by
//     a server of this process, and prints how many progress messages the
//     progress window got and the longest wait for one, from the start on.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalog/InstalledState.h"
#include "core/Error.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/Switches.h"
#include "frame/Handle.h"
#include "host/HostControl.h"
#include "core/Resources.h"
#include "install/CabinetUnpacker.h"
#include "install/InstallRun.h"
#include "resources/StringIds.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Scratch.h"
#include "tests/support/UiDriver.h"
#include "transfer/ProgressDialog.h"
#include "transfer/WinInetApi.h"

namespace {

int Serve(const std::string& dir, const char* portFile, const char* stopFile) {
  testing_support::HttpServer server;
  WIN32_FIND_DATAA entry;
  frame::ScopedFind find(::FindFirstFileA((dir + "\\*.cab").c_str(), &entry));
  if (!find) return 1;
  int count = 0;
  do {
    std::string bytes;
    if (!testing_support::ReadFileBytes(dir + "\\" + entry.cFileName, bytes)) return 1;
    server.Serve(std::string("/") + entry.cFileName, std::move(bytes));
    ++count;
  } while (::FindNextFileA(find.get(), &entry));
  if (!server.Start()) return 1;
  FILE* out = std::fopen(portFile, "w");
  if (!out) return 1;
  std::fprintf(out, "%u\n", static_cast<unsigned>(server.Port()));
  std::fclose(out);
  std::fprintf(stderr, "serving %d cabinets\n", count);
  while (::GetFileAttributesA(stopFile) == INVALID_FILE_ATTRIBUTES) ::Sleep(100);
  return 0;
}

bool ReadManifest(const std::string& path, const std::string& baseUrl,
                  std::vector<Component>& components) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "component") {
      Component component;
      fields >> component.sName;
      component.version = {1, 0, 0, 0};
      component.bRequiresPMClosed = false;
      components.push_back(component);
    } else if (kind == "file" && !components.empty()) {
      ComponentFile file;
      std::string cabinet;
      fields >> file.sName >> cabinet >> file.size;
      if (!fields) return false;
      file.sFile = baseUrl + "/" + cabinet;
      components.back().files.push_back(file);
    } else if (!kind.empty()) {
      return false;
    }
  }
  return !components.empty();
}

PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
  return counters;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& frequency) {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - from.QuadPart) / frequency.QuadPart;
}

// The manager that Setup mode starts at the end: asked to close by its
// window's command, then awaited by its process.
bool CloseStartedManager() {
  HWND window = nullptr;
  for (int i = 0; i < 100 && !window; ++i) {
    window = ::FindWindowA(kManagerWindowClass, nullptr);
    if (!window) ::Sleep(100);
  }
  if (!window) return false;
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  frame::ScopedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
  ::PostMessageA(window, WM_COMMAND, kManagerCloseCommand, 0);
  return process && ::WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0;
}

// The progress window's byte messages, seen through a subclass of the
// window; everything here runs on the window's thread.
WNDPROC g_progressProc = nullptr;
LARGE_INTEGER g_lastBytes = {};
double g_longestGapMs = 0;
int g_byteMessages = 0;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == ProgressDialog::kBytesMessage) {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    ++g_byteMessages;
    g_longestGapMs = std::max(g_longestGapMs, 1000.0 * (now.QuadPart - g_lastBytes.QuadPart) /
                                                  frequency.QuadPart);
    g_lastBytes = now;
  }
  return ::CallWindowProcA(g_progressProc, window, message, wParam, lParam);
}

int Slow(const std::string& cabinet, const std::string& member, const std::string& appDir) {
  std::string body;
  if (!BindWinInet() || !testing_support::ReadFileBytes(cabinet, body)) return 1;
  testing_support::HttpServer server;
  testing_support::HttpRoute route;
  route.body = body;
  route.pieceSize = 2000;
  route.pieceDelayMs = 20;
  server.SetRoute("/slow.cab", route);
  if (!server.Start()) return 1;
  if (!testing_support::RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", appDir))
    return 1;
  testing_support::RegDeleteTree(HKEY_LOCAL_MACHINE, kComponentsKey);
  // Quiet, outside Setup mode: nothing is asked and the manager is not started.
  SetProcessArguments({"-q"});
  Component component;
  component.sName = "Slow";
  component.version = {1, 0, 0, 0};
  component.bRequiresPMClosed = false;
  ComponentFile file;
  file.sName = member;
  file.sFile = server.Url("/slow.cab");
  file.size = static_cast<uint32_t>(body.size());
  component.files.push_back(file);

  std::thread watcher([] {
    HWND window = ui::WaitForWindow(
        {LoadResString(IDS_CAPTION_DOWNLOAD), "#32770", ::GetCurrentProcessId()});
    if (window)
      g_progressProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrA(
          window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
  });
  LARGE_INTEGER frequency, start;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  g_lastBytes = start;
  int result = -2;
  try {
    result = SpawnDownloadThread({component});
  } catch (const CError& e) {
    std::printf("error %s\n", e.Description().c_str());
  }
  const double seconds = Seconds(start, frequency);
  watcher.join();
  server.Stop();
  std::printf("seconds %.3f result %d bytes %zu progress_messages %d longest_gap_ms %.1f\n",
              seconds, result, body.size(), g_byteMessages, g_longestGapMs);
  return result == kRunDone && g_progressProc ? 0 : 1;
}

int Install(const std::string& baseUrl, const std::string& manifest, const std::string& appDir,
            const std::string& logPath) {
  // COM as the program sets it up: the scheduled restart of the manager needs it.
  const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  if (!BindWinInet()) return 1;
  std::vector<Component> components;
  if (!ReadManifest(manifest, baseUrl, components)) {
    std::fprintf(stderr, "engine_bench: cannot read %s\n", manifest.c_str());
    return 1;
  }
  if (!testing_support::RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", appDir))
    return 1;
  testing_support::RegDeleteTree(HKEY_LOCAL_MACHINE, kComponentsKey);
  SetProcessArguments({"-setup", "-q"});

  FILE* log = std::fopen(logPath.c_str(), "w");
  if (!log) return 1;
  LARGE_INTEGER frequency, start;
  ::QueryPerformanceFrequency(&frequency);
  SetLogSink([&](const std::string& text) {
    std::fprintf(log, "%.4f %s\n", Seconds(start, frequency), text.c_str());
  });

  const PROCESS_MEMORY_COUNTERS before = Memory();
  ::QueryPerformanceCounter(&start);
  int result = 0;
  std::string error;
  try {
    result = SpawnDownloadThread(components);
  } catch (const CError& e) {
    error = e.Description();
  }
  const double seconds = Seconds(start, frequency);
  const PROCESS_MEMORY_COUNTERS after = Memory();
  SetLogSink(nullptr);
  std::fclose(log);

  const bool managerClosed = CloseStartedManager();
  if (com) ::CoUninitialize();
  if (!error.empty()) {
    std::printf("error %s\n", error.c_str());
    return 1;
  }
  std::printf("seconds %.4f result %d peak_ws_kb %lu %lu peak_private_kb %lu %lu manager %s\n",
              seconds, result, static_cast<unsigned long>(before.PeakWorkingSetSize / 1024),
              static_cast<unsigned long>(after.PeakWorkingSetSize / 1024),
              static_cast<unsigned long>(before.PeakPagefileUsage / 1024),
              static_cast<unsigned long>(after.PeakPagefileUsage / 1024),
              managerClosed ? "closed" : "missing");
  return result == kRunDone && managerClosed ? 0 : 1;
}

// What WinINet itself costs under Wine, without the transfer layer: one
// session, one connection handle, the requests one after the other.
int Wininet(const std::string& baseUrl, const std::string& manifest, const std::string& dir,
            DWORD readSize, const std::string& variant) {
  const bool unpack = variant == "unpack";
  const bool thread = variant == "thread";
  std::vector<Component> components;
  if (!ReadManifest(manifest, baseUrl, components)) return 1;
  std::vector<std::string> urls;
  std::set<std::string> seen;
  for (const Component& component : components)
    for (const ComponentFile& file : component.files)
      if (seen.insert(file.sFile).second) urls.push_back(file.sFile);
  URL_COMPONENTSA parts = {};
  char host[256] = "";
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof(host);
  if (!::InternetCrackUrlA(baseUrl.c_str(), 0, 0, &parts)) return 1;
  HINTERNET session = ::InternetOpenA("engine_bench", INTERNET_OPEN_TYPE_DIRECT, nullptr,
                                      nullptr, 0);
  HINTERNET connection = session ? ::InternetConnectA(session, host, parts.nPort, nullptr,
                                                      nullptr, INTERNET_SERVICE_HTTP, 0, 0)
                                 : nullptr;
  if (!connection) return 1;
  LARGE_INTEGER frequency, start, mark;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  double requests = 0, bodies = 0;
  unsigned long reads = 0;
  std::vector<char> buffer(1024 * 1024);
  CabinetUnpacker unpacker;
  int result = 0;
  for (const std::string& url : urls) {
    const std::string path = url.substr(baseUrl.size());
    const std::string local = dir + "\\" + path.substr(1);
    ::QueryPerformanceCounter(&mark);
    HINTERNET request = ::HttpOpenRequestA(connection, "GET", path.c_str(), nullptr, nullptr,
                                           nullptr, INTERNET_FLAG_RELOAD |
                                           INTERNET_FLAG_NO_CACHE_WRITE |
                                           INTERNET_FLAG_KEEP_CONNECTION, 0);
    BOOL sent = FALSE;
    if (request && thread) {
      std::thread sender([&] { sent = ::HttpSendRequestA(request, nullptr, 0, nullptr, 0); });
      sender.join();
    } else if (request) {
      sent = ::HttpSendRequestA(request, nullptr, 0, nullptr, 0);
    }
    DWORD status = 0, length = sizeof(status);
    if (!request || !sent ||
        !::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                          &length, nullptr) ||
        status != HTTP_STATUS_OK) {
      if (request) ::InternetCloseHandle(request);
      result = 1;
      break;
    }
    requests += Seconds(mark, frequency);
    ::QueryPerformanceCounter(&mark);
    frame::ScopedFile out(::CreateFileA(local.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    for (;;) {
      DWORD size = readSize;
      if (size == 0) {
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(request, &available, 0, 0)) break;
        size = std::max<DWORD>(1, std::min<DWORD>(available, static_cast<DWORD>(buffer.size())));
      }
      DWORD got = 0, written = 0;
      if (!::InternetReadFile(request, buffer.data(), size, &got)) {
        result = 1;
        break;
      }
      ++reads;
      if (got == 0) break;
      ::WriteFile(out.get(), buffer.data(), got, &written, nullptr);
    }
    bodies += Seconds(mark, frequency);
    ::InternetCloseHandle(request);
    if (result) break;
    out.reset();
    if (unpack) {
      const std::string folder = local + ".d\\";
      ::CreateDirectoryA(folder.c_str(), nullptr);
      unpacker.Queue(local, folder);
    }
  }
  for (const auto& outcome : unpacker.Finish())
    if (!outcome.second.unpacked) result = 1;
  const double total = Seconds(start, frequency);
  ::InternetCloseHandle(connection);
  ::InternetCloseHandle(session);
  std::printf("wininet %.4f requests %.4f bodies %.4f reads %lu files %zu\n", total, requests,
              bodies, reads, urls.size());
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "serve" && argc == 5) return Serve(argv[2], argv[3], argv[4]);
  if (mode == "install" && argc == 6) return Install(argv[2], argv[3], argv[4], argv[5]);
  if (mode == "slow" && argc == 5) return Slow(argv[2], argv[3], argv[4]);
  if (mode == "wininet" && (argc == 6 || argc == 7))
    return Wininet(argv[2], argv[3], argv[4], static_cast<DWORD>(std::atol(argv[5])),
                   argc == 7 ? argv[6] : "");
  std::fprintf(stderr,
               "usage: engine_bench serve DIR PORT_FILE STOP_FILE\n"
               "       engine_bench install BASE_URL MANIFEST APP_DIR LOG\n"
               "       engine_bench slow CABINET MEMBER APP_DIR\n"
               "       engine_bench wininet BASE_URL MANIFEST DIR READ [unpack|thread]\n");
  return 2;
}
