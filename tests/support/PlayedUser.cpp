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
    ui::DialogTexts texts = ui::ReadDialogTexts(seen.window, textControl);
    seen.caption = texts.caption;
    seen.text = texts.text;
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
