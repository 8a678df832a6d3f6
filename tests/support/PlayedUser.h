// The user as tests play it: a second thread that answers the dialogs and
// message boxes of this process in turn while the code under test waits in
// them, and the fixture programs (the fake manager, the fake download
// manager) run as real processes with real windows.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/TestProcess.h"

namespace testing_support {

// A fixture program of the build, as a Wine path.
std::string FixturePath(const std::string& name);

// A dialog or box of this process, as the user sees it.
struct Seen {
  HWND window = nullptr;
  std::string caption;
  std::string text;  // a message box's text, else the given control's
};

// The first visible dialog or box of this process (with that caption, when
// one is given); a null window after the time-out.
Seen WaitForOwnDialog(int textControl = 0xFFFF, DWORD timeoutMs = 20000,
                      const std::string& caption = std::string());

// Each step waits for the next dialog (up to 20 s), reads the given control
// and acts on it, then waits for that dialog to go. With a caption, only
// dialogs of that caption count, so that status windows shown meanwhile
// are passed over.
class User {
 public:
  using Step = std::function<void(const Seen&)>;
  explicit User(std::vector<std::pair<int, Step>> steps, std::string caption = std::string());
  ~User();
  User(const User&) = delete;
  User& operator=(const User&) = delete;

  // Call once the code under test has returned: no dialog of its can come
  // any more, so steps still waiting stop. Gives what was seen, in order.
  const std::vector<Seen>& Finish();

 private:
  std::atomic<bool> finished_{false};
  std::vector<Seen> seen_;
  std::thread thread_;
};

User::Step Press(int button);

// A fixture program copied into a folder under the given name, started,
// with its window found. Ended on destruction if it still runs.
struct RunningFixture {
  ChildProcess process;
  std::string path;
  HWND window = nullptr;

  bool Start(const std::string& fixture, const std::string& folder, const std::string& name,
             const std::string& args = "");
  bool Ended(DWORD timeoutMs = 10000) { return process.Wait(timeoutMs) != STILL_ACTIVE; }
};

}  // namespace testing_support
