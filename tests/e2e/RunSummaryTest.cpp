// Update.json, the run summary beside Update.log: written by the real
// Upgrade.exe at the end of every run, read here as an administrator's script
// reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/ServedRunTest.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/CatalogueCabinet.h"
#include "tests/support/JsonValue.h"

namespace e2e {
namespace {

using namespace testing_support;

class RunSummaryE2E : public ServedRunTest {
 protected:
  static std::string SummaryPath() {
    const std::string log = UserLogPath();
    return log.substr(0, log.find_last_of('\\') + 1) + "Update.json";
  }
  // The summary of the last run, parsed; a failed parse fails the test.
  JsonValue Summary() {
    JsonValue value;
    std::string error;
    const std::string text = FileContent(SummaryPath());
    EXPECT_TRUE(ParseJson(text, value, &error)) << error << "\n" << text;
    return value;
  }
  std::vector<std::string> Texts(const JsonValue& array) {
    std::vector<std::string> texts;
    for (const JsonValue& item : array.items) texts.push_back(item.text);
    return texts;
  }
};

// A quiet Setup run that leaves a file for the next start of Windows (36),
// started with a URL that carries a name and password and a "Pass" value:
// none of them is in the summary.
TEST_F(RunSummaryE2E, ARunThatNeedsARestartSaysWhyAndKeepsSecretsOut) {
  server_.Serve(kCataloguePath,
                CatalogueCabinet({ComponentWith("Books", {{"Books.txt", "books.cab"},
                                                  {"Shelf.txt", "books.cab"}})}));
  server_.Serve("/PM50/Quoma/books.cab",
                CabinetBytes({{"Books.txt", "new books"}, {"Shelf.txt", "shelf"}}));
  const std::string books = install_.Dir() + "Books.txt";
  ASSERT_TRUE(WriteFileBytes(books, "old books"));
  const std::string url = server_.Url(kCataloguePath);
  const std::string secretUrl = "http://reader:s3cret-Word@" + url.substr(7);
  HeldFile holder;
  ASSERT_TRUE(holder.Hold(books));
  EXPECT_EQ(AsInt(RunUpgrade(install_.InstalledUpgrade(),
                             "/Setup /q /Pass:hidden-token /URL:" + secretUrl, 90000)),
            36);
  ASSERT_TRUE(holder.Release());
  CloseManager();

  const std::string text = FileContent(SummaryPath());
  for (const char* secret : {"s3cret-Word", "reader", "hidden-token"})
    EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in\n" << text;
  const JsonValue summary = Summary();
  EXPECT_EQ(summary["mode"].text, "setup");
  EXPECT_EQ(Texts(summary["switches"]),
            (std::vector<std::string>{"/Setup", "/q", "/Pass", "/URL:" + url}));
  EXPECT_EQ(summary["dryRun"].kind, JsonValue::Kind::kBool);
  EXPECT_FALSE(summary["dryRun"].boolean);
  EXPECT_EQ(summary["exitCode"].number, 36);
  EXPECT_EQ(summary["result"].text, "restartRequired");
  EXPECT_TRUE(summary["restartRequired"].boolean);
  EXPECT_EQ(Texts(summary["restartReasons"]), (std::vector<std::string>{books}));
  EXPECT_FALSE(summary.Has("error"));
  EXPECT_EQ(summary["started"].text.size(), 20u) << summary["started"].text;
  EXPECT_EQ(summary["ended"].text.back(), 'Z');
  ASSERT_EQ(summary["components"].items.size(), 1u) << text;
  const JsonValue& component = summary["components"].items[0];
  EXPECT_EQ(component["name"].text, "Books");
  EXPECT_EQ(component["installedVersion"].kind, JsonValue::Kind::kNull);
  EXPECT_EQ(component["offeredVersion"].text, "1, 0, 0, 0");
  EXPECT_EQ(component["status"].text, "notInstalled");
  EXPECT_EQ(component["action"].text, "installed");
  EXPECT_GT(summary["bytesDownloaded"].number, 0);
  ASSERT_EQ(summary["files"].items.size(), 2u) << text;
  EXPECT_EQ(summary["files"].items[0]["path"].text, books);
  EXPECT_EQ(summary["files"].items[0]["action"].text, "deferred");
  EXPECT_EQ(summary["files"].items[1]["path"].text, install_.Dir() + "Shelf.txt");
  EXPECT_EQ(summary["files"].items[1]["action"].text, "installed");

  // A quiet check whose catalogue offers nothing new (the component, as
  // recorded, without files): the summary is replaced, not appended to.
  ASSERT_TRUE(RunRestartProcessing());
  server_.Serve(kCataloguePath, CatalogueCabinet({ComponentWith("Books", {})}));
  EXPECT_EQ(Run("/q"), 0);
  const JsonValue quiet = Summary();
  EXPECT_EQ(quiet["mode"].text, "quiet");
  EXPECT_EQ(quiet["result"].text, "success");
  EXPECT_FALSE(quiet["restartRequired"].boolean);
  ASSERT_EQ(quiet["components"].items.size(), 1u);
  EXPECT_EQ(quiet["components"].items[0]["installedVersion"].text, "1, 0, 0, 0");
  EXPECT_EQ(quiet["components"].items[0]["action"].text, "upToDate");
  EXPECT_EQ(quiet["files"].items.size(), 0u);
}

// A run whose cabinet is missing fails: the summary has the error and the
// component's failure; a catalogue that cannot be had fails too.
TEST_F(RunSummaryE2E, AFailedRunSaysWhatFailed) {
  server_.Serve(kCataloguePath, CatalogueCabinet({ComponentWith("Lost", {{"Lost.txt", "lost.cab"}})}));
  EXPECT_EQ(Run("/Setup /q"), -1);
  JsonValue summary = Summary();
  EXPECT_EQ(summary["exitCode"].number, -1);
  EXPECT_EQ(summary["result"].text, "failed");
  EXPECT_NE(summary["error"]["code"].number, 0);
  EXPECT_EQ(summary["components"].items[0]["action"].text, "failed");

  server_.ServeStatus(kCataloguePath, 404);
  EXPECT_EQ(Run("/Setup /q"), -1);
  summary = Summary();
  EXPECT_EQ(summary["result"].text, "failed");
  EXPECT_EQ(summary["error"]["text"].text, "The catalogue could not be fetched.");
  EXPECT_EQ(summary["components"].items.size(), 0u);
}

// The user who closes the selection dialog with Cancel ends the run without
// an error: exit code 0, and the summary says it was cancelled.
TEST_F(RunSummaryE2E, ARunTheUserCancelsSaysSo) {
  server_.Serve(kCataloguePath, CatalogueCabinet({ComponentWith("Books", {{"Books.txt", "books.cab"}})}));
  ChildProcess child;
  ASSERT_TRUE(Start(child, ""));
  ASSERT_NE(Answer(child, IDYES).window, nullptr) << "no question before the connection";
  HWND selection = WaitForDialogWith(child.Id(), 201);
  ASSERT_NE(selection, nullptr) << "no selection dialog";
  ui::PressButton(selection, IDCANCEL);
  EXPECT_EQ(AsInt(child.Wait()), 0);
  const JsonValue summary = Summary();
  EXPECT_EQ(summary["result"].text, "cancelled");
  EXPECT_EQ(summary["exitCode"].number, 0);
  EXPECT_EQ(summary["components"].items[0]["action"].text, "notSelected");
}

}  // namespace
}  // namespace e2e
