#include "core/UpdateLog.h"

#include <gtest/gtest.h>

#include "core/Log.h"
#include "tests/support/Scratch.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::ScratchDir;

TEST(UpdateLog, TimeHasTheFixed24CharacterForm) {
  SYSTEMTIME time = {2026, 12, 1, 7, 9, 5, 3, 0};  // year, month, weekday, day, h, m, s, ms
  EXPECT_EQ(FormatLogTime(time), "Mon Dec  7 09:05:03 2026");
  time = {2026, 1, 0, 31, 23, 5, 3, 0};
  EXPECT_EQ(FormatLogTime(time), "Sun Jan 31 23:05:03 2026");
}

TEST(UpdateLog, ItemsAreTextThenCrLfAndNothingWhenClosed) {
  ScratchDir dir;
  const std::string path = dir.Path() + "Update.log";
  UpdateLog log;
  EXPECT_FALSE(log.Write("before open"));
  ASSERT_TRUE(log.OpenAt(path));
  EXPECT_EQ(log.Path(), path);
  EXPECT_TRUE(log.Write("Done."));
  EXPECT_TRUE(log.Write("two\n"));  // a text ending in \n keeps it before the CR LF
  log.Close();
  EXPECT_FALSE(log.IsOpen());
  EXPECT_TRUE(log.Path().empty());
  EXPECT_FALSE(log.Write("after close"));
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(path, bytes));
  EXPECT_EQ(bytes, "Done.\r\ntwo\n\r\n");
}

// The closing lines come once, however often Finish is called. (Their form
// and the start line's are the startup end-to-end test's, on the user's log.)
TEST(UpdateLog, FinishWritesTheClosingLinesOnce) {
  ScratchDir dir;
  const std::string path = dir.Path() + "Update.log";
  std::string once;
  {
    UpdateLog log;
    ASSERT_TRUE(log.OpenAt(path));
    log.WriteStart();
    log.Finish();
    ASSERT_TRUE(ReadFileBytes(path, once));
    log.Finish();  // closed: nothing more
  }  // the destructor finds it closed as well
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(path, bytes));
  EXPECT_EQ(bytes, once);
  EXPECT_NE(once.find("\r\nUpdate Completed at "), std::string::npos) << once;
}

// The size rule (kept up to 512000 bytes, two line feeds before a new run,
// emptied past it, none in a new file) is the end-to-end startup test's:
// there the user's own log meets it.

TEST(UpdateLog, UnopenableFileFallsBackToTheTemporaryFolder) {
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  const std::string fallback = std::string(temp) + "Update.log";
  ::DeleteFileA(fallback.c_str());
  {
    UpdateLog log;
    ASSERT_TRUE(log.OpenAt("C:\\no\\such\\folder\\Update.log"));
    EXPECT_EQ(log.Path(), fallback);
    log.Write("fell back");
  }
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(fallback, bytes));
  EXPECT_NE(bytes.find("fell back\r\n"), std::string::npos);
  ::DeleteFileA(fallback.c_str());
}

TEST(UpdateLog, LogFormatReachesTheProcessLog) {
  ScratchDir dir;
  const std::string path = dir.Path() + "sink.log";
  ASSERT_TRUE(TheUpdateLog().OpenAt(path));
  LogSink previous = SetLogSink(nullptr);
  InstallUpdateLogSink();
  LogFormat("Error 0x0%x in %s", 0x2ee7u, "Ftp");
  LogWrite(std::string(5000, 'L'));  // no length limit
  TheUpdateLog().Close();
  SetLogSink(previous);
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(path, bytes));
  EXPECT_EQ(bytes, "Error 0x02ee7 in Ftp\r\n" + std::string(5000, 'L') + "\r\n");
}

}  // namespace
