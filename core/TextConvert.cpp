#include "core/TextConvert.h"

#include <windows.h>

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

namespace {

std::string FromWide(UINT codePage, const wchar_t* wide, size_t size) {
  if (size == 0) return std::string();
  const int length = ::WideCharToMultiByte(codePage, 0, wide, static_cast<int>(size), nullptr, 0,
                                           nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, 0, wide, static_cast<int>(size), &text[0], length, nullptr,
                        nullptr);
  return text;
}

}  // namespace

std::string AnsiToUtf8(const std::string& text) {
  const std::wstring wide = AnsiToWide(text);
  const std::string utf8 = FromWide(CP_UTF8, wide.data(), wide.size());
  return utf8.empty() ? text : utf8;
}

std::string WideToAnsi(const wchar_t* text, size_t length) {
  return FromWide(CP_ACP, text, length);
}
