#include "core/Platform.h"

#include <cstdio>

std::string GetLanguageTag(uint16_t langId, bool withSublanguage) {
  char text[64];
  if (withSublanguage)
    std::snprintf(text, sizeof(text), "LANGID %d SUBLANGID %d", langId & 0x3FF, langId >> 10);
  else
    std::snprintf(text, sizeof(text), "LANGID %d", langId & 0x3FF);
  return text;
}
