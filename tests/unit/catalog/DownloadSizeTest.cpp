// The size text beside components and in the progress display.
#include <gtest/gtest.h>

#include "catalog/DownloadSize.h"

namespace {

TEST(DownloadSizeText, KilobytesWithAThousandsComma) {
  const struct {
    uint32_t bytes;
    const char* text;
  } kCases[] = {
      {0, "0KB"},           {1, "<1KB"},          {1023, "<1KB"},
      {1024, "1KB"},        {2047, "1KB"},        {1048575, "1023KB"},
      {1048576, "1,024KB"}, {1536000, "1,500KB"}, {10485760, "10,240KB"},
      {2053120, "2,005KB"},  // the last three digits keep their zeros
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(FormatDownloadSize(c.bytes), c.text);
  }
}

}  // namespace
