#include "tests/support/PlayedUser.h"

#include "tests/support/Scratch.h"
#include "tests/support/UiDriver.h"

namespace testing_support {

namespace {

constexpr DWORD kStepTimeoutMs = 20000;
constexpr DWORD kLookMs = 100;  // how soon a finished run stops a waiting step

}  // namespace

std::string FixturePath(const std::string& name) {
  return WinePath(FIXTURES_DIR_UNIX) + "\\" + name;
}

Seen WaitForOwnDialog(int textControl, DWORD timeoutMs, const std::string& caption) {
  ui::WindowQuery query;
  query.caption = caption;
  query.className = "#32770";
  query.processId = ::GetCurrentProcessId();
  Seen seen;
  seen.window = ui::WaitForWindow(query, timeoutMs);
  if (seen.window) {
    // A box is found as soon as it shows; its caption and text may follow a
    // moment later (seen with the first box of a process, on a busy machine).
    for (int i = 0; i <= 40 && ::IsWindow(seen.window); ++i) {
      if (i > 0) ::Sleep(50);
      seen.caption = ui::WindowText(seen.window);
      seen.text = ui::ControlText(seen.window, textControl);
      if (!seen.caption.empty() && !seen.text.empty()) break;
    }
  }
  return seen;
}

User::User(std::vector<std::pair<int, Step>> steps, std::string caption)
    : thread_([this, steps, caption] {
        for (const auto& step : steps) {
          Seen seen;
          const DWORD start = ::GetTickCount();
          while (!seen.window && !finished_ && ::GetTickCount() - start < kStepTimeoutMs)
            seen = WaitForOwnDialog(step.first, kLookMs, caption);
          if (!seen.window) return;
          seen_.push_back(seen);
          step.second(seen);
          ui::WaitForWindowGone(seen.window, 10000);
        }
      }) {}

User::~User() { Finish(); }

const std::vector<Seen>& User::Finish() {
  finished_ = true;
  if (thread_.joinable()) thread_.join();
  return seen_;
}

User::Step Press(int button) {
  return [button](const Seen& seen) { ui::PressButton(seen.window, button); };
}

bool RunningFixture::Start(const std::string& fixture, const std::string& folder,
                           const std::string& name, const std::string& args) {
  path = folder + name;
  if (!::CopyFileA(FixturePath(fixture).c_str(), path.c_str(), FALSE)) return false;
  if (!process.Start(path, args)) return false;
  ui::WindowQuery query;
  query.processId = process.Id();
  window = ui::WaitForWindow(query);
  return window != nullptr;
}

}  // namespace testing_support
