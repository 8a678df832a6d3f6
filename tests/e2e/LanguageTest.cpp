// The user's language picks the texts: run with LC_ALL set (CMakeLists.txt).
// Expected texts are in the ANSI code page those users have (1252).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/e2e/ServedRunTest.h"
#include "tests/support/CatalogueCabinet.h"

namespace e2e {
namespace {

struct LanguageTexts {
  const char* locale;
  const char* updateCaption;
  const char* noFolder;
  const char* uninstallCaption;
  const char* confirmUninstall;
  // The connect dialog's first step and frame where they are not the US
  // English ones (CMakeLists.txt runs that case only there).
  const char* connectStep;
  const char* connectGroup;
};

const LanguageTexts kTexts[] = {
    {"de_DE", "PelloryManager-Komponentenaktualisierung",
     "Der PelloryManager-Ordner wurde nicht gefunden. Der Vorgang kann nicht fortgesetzt werden.",
     "PelloryManager-Deinstallation", "M\xF6" "chten Sie PelloryManager wirklich deinstallieren?",
     "Verbindung mit www.pellory.com herstellen", "Komponenteninformationen werden abgerufen"},
    {"fr_FR", "Mise \xE0 jour des composants PelloryManager",
     "Le dossier de PelloryManager est introuvable. Impossible de continuer.",
     "D\xE9sinstallation de PelloryManager",
     "Voulez-vous vraiment d\xE9sinstaller PelloryManager ?", "Connexion \xE0 www.pellory.com",
     "R\xE9" "cup\xE9" "ration des informations sur les composants"},
    {"en_GB", "PelloryManager Components Update",
     "The PelloryManager folder could not be found. Cannot continue.",
     "PelloryManager Uninstall", "Are you sure you want to uninstall PelloryManager?",
     nullptr, nullptr},
    // No table of its own: the US English originals.
    {"es_ES", "PelloryManager Components Update",
     "PelloryManager directory could not be found. Cannot continue.",
     "PelloryManager Uninstall", "Are you sure you want to uninstall PelloryManager?",
     nullptr, nullptr},
};

const LanguageTexts* ForThisRun() {
  const char* lc = std::getenv("LC_ALL");
  if (!lc) return nullptr;
  for (const auto& texts : kTexts) {
    if (std::string(lc).rfind(texts.locale, 0) == 0) return &texts;
  }
  return nullptr;
}

// A served installation for the connect dialog; the first case clears it
// away, as a machine without the program is.
class LanguageEnv : public ServedRunTest {};

TEST_F(LanguageEnv, MessagesAndCaptionsAreInTheUsersLanguage) {
  const LanguageTexts* texts = ForThisRun();
  ASSERT_NE(texts, nullptr) << "LC_ALL names no language of this test";
  ResetMachineState();

  testing_support::ChildProcess update;
  ASSERT_TRUE(update.Start(BuiltUpgradeExe(), ""));
  SeenBox box = WaitForMessageBox(update.Id());
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, texts->updateCaption);
  EXPECT_EQ(box.text, texts->noFolder);
  ui::PressButton(box.window, IDOK);
  EXPECT_EQ(update.Wait(), 0u);
  // The entry's display name is the product name in every language.
  std::string name;
  ASSERT_TRUE(testing_support::RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", name));
  EXPECT_EQ(name, "PelloryManager");

  testing_support::ChildProcess uninstall;
  ASSERT_TRUE(uninstall.Start(BuiltUpgradeExe(), "/Uninstall"));
  SeenBox ask = WaitForMessageBox(uninstall.Id());
  ASSERT_NE(ask.window, nullptr);
  EXPECT_EQ(ask.caption, texts->uninstallCaption);
  EXPECT_EQ(ask.text, texts->confirmUninstall);
  ui::PressButton(ask.window, IDNO);
  EXPECT_EQ(uninstall.Wait(), 0u);
}

// The connect dialog, read while a slow catalogue comes.
TEST_F(LanguageEnv, TheConnectDialogStepsInTheUsersLanguage) {
  const LanguageTexts* texts = ForThisRun();
  ASSERT_NE(texts, nullptr) << "LC_ALL names no language of this test";
  ASSERT_NE(texts->connectStep, nullptr) << "the connect dialog is in US English here";
  testing_support::HttpRoute slow;
  slow.body = testing_support::CatalogueCabinet({testing_support::ComponentWith("Slow", {})},
                                                {{"Padding.bin", std::string(30000, 'p')}});
  slow.pieceSize = 2000;
  slow.pieceDelayMs = 100;
  server_.SetRoute(kCataloguePath, slow);

  testing_support::ChildProcess child;
  ASSERT_TRUE(Start(child, ""));
  Answer(child, IDYES);
  constexpr int kGroupBox = 219, kFirstStep = 206;
  HWND dialog = WaitForDialogWith(child.Id(), kGroupBox);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ui::WindowText(dialog), texts->updateCaption);
  EXPECT_EQ(ui::ControlText(dialog, kFirstStep), texts->connectStep);
  EXPECT_EQ(ui::ControlText(dialog, kGroupBox), texts->connectGroup);
  ui::WaitForWindowGone(dialog, 20000);
  child.Kill();  // at the selection dialog
}

}  // namespace
}  // namespace e2e
