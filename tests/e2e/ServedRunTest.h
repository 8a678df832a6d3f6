// End-to-end cases that run the installed Upgrade.exe against catalogues and
// cabinets served on 127.0.0.1: each case gets a fresh installation, whose
// manager a Setup run starts at its end, and a server of its own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/Installation.h"
#include "tests/support/HttpServer.h"

namespace e2e {

constexpr char kCataloguePath[] = "/PM50/Quoma/PM_InstallQuoma.cab";
constexpr UINT kManagerCloseCommand = 57665;

class ServedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::FileExists(BuiltUpgradeExe()))
        << BuiltUpgradeExe() << " is not built (scripts/build builds it)";
    ResetMachineState();
    install_.Register();
    install_.SetManagerVersion(5, 0, 0, 1);
    ASSERT_TRUE(server_.Start());
  }
  void TearDown() override {
    CloseManager();
    testing_support::WaitNoProcessNamed("Upgrade.exe", 10000);
    server_.Stop();
    ResetMachineState();
  }

  std::string UrlSwitch() const { return "/URL:" + server_.Url(kCataloguePath); }
  bool Start(testing_support::ChildProcess& child, const std::string& args) {
    return child.Start(install_.InstalledUpgrade(), args + " " + UrlSwitch());
  }
  // Runs the installed program to its end (90 s at most): its exit code.
  int Run(const std::string& args) const {
    return testing_support::AsInt(
        RunUpgrade(install_.InstalledUpgrade(), args + " " + UrlSwitch(), 90000));
  }
  std::string Log() const { return testing_support::FileContent(UserLogPath()); }

  // The installed manager, started and with its window up.
  bool StartManager(testing_support::ChildProcess& manager) const {
    if (!manager.Start(install_.Bin() + "Manager.exe", "")) return false;
    ui::WindowQuery query;
    query.className = "PelloryWndClass";
    return ui::WaitForWindow(query) != nullptr;
  }
  // A Setup run ends by starting the manager: close it again. False when
  // none was running.
  static bool CloseManager() {
    ui::WindowQuery query;
    query.className = "PelloryWndClass";
    HWND window = ui::WaitForWindow(query, 100);
    if (!window) return false;
    ::PostMessageA(window, WM_COMMAND, kManagerCloseCommand, 0);
    return testing_support::WaitNoProcessNamed("Manager.exe");
  }

  Installation install_;
  testing_support::HttpServer server_;
};

}  // namespace e2e
