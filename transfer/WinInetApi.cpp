#include "transfer/WinInetApi.h"

#include "frame/Binding.h"

namespace {

WinInetApi g_api;
frame::LibraryBinding g_binding;

}  // namespace

bool BindWinInet() {
  using frame::Slot;
  const frame::FunctionSlot slots[] = {
      {"InternetOpenA", Slot(g_api.InternetOpenA)},
      {"InternetConnectA", Slot(g_api.InternetConnectA)},
      {"InternetGetLastResponseInfoA", Slot(g_api.InternetGetLastResponseInfoA)},
      {"InternetCloseHandle", Slot(g_api.InternetCloseHandle)},
      {"InternetQueryOptionA", Slot(g_api.InternetQueryOptionA)},
      {"InternetSetFilePointer", Slot(g_api.InternetSetFilePointer)},
      {"InternetReadFile", Slot(g_api.InternetReadFile)},
      {"InternetWriteFile", Slot(g_api.InternetWriteFile)},
      {"InternetCrackUrlA", Slot(g_api.InternetCrackUrlA)},
      {"InternetQueryDataAvailable", Slot(g_api.InternetQueryDataAvailable)},
      {"HttpOpenRequestA", Slot(g_api.HttpOpenRequestA)},
      {"HttpSendRequestA", Slot(g_api.HttpSendRequestA)},
      {"HttpAddRequestHeadersA", Slot(g_api.HttpAddRequestHeadersA)},
      {"InternetSetOptionA", Slot(g_api.InternetSetOptionA)},
      {"HttpQueryInfoA", Slot(g_api.HttpQueryInfoA)},
      {"InternetErrorDlg", Slot(g_api.InternetErrorDlg)},
  };
  return g_binding.Bind("WinInet.dll", slots, sizeof(slots) / sizeof(slots[0]));
}

const WinInetApi& WinInet() { return g_api; }

bool IsWinInetBound() { return g_binding.IsBound(); }
