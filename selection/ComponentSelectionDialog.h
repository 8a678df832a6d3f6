// The component selection dialog: the components of the catalogue that suit
// this system, each with its status and download size, ticked by the user.
// OK hands the ticked components to an installation run and returns when the
// run is over; Cancel installs nothing. Shown modally by the update flow,
// which keeps the catalogue; the picture files of the image map are deleted
// when the dialog closes.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "catalog/Component.h"
#include "frame/Handle.h"
#include "selection/ComponentListBox.h"
#include "ui/skin/SkinnedDialog.h"

// The row image list, destroyed through the bound common-controls library.
struct ImageListTraits {
  using Type = HIMAGELIST;
  static Type Invalid() { return nullptr; }
  static void Close(Type images);
};
using RowImageList = frame::UniqueHandle<ImageListTraits>;

class ComponentSelectionDialog : public SkinnedDialog {
 public:
  // images: component name to the path of its picture file (a bitmap).
  // `unpackPictures` (may be empty) puts those files in place; it is called
  // once the dialog is about to read them.
  ComponentSelectionDialog(ComponentCatalog& catalog, std::map<std::string, std::string> images,
                           std::function<void()> unpackPictures = {});
  ~ComponentSelectionDialog() override;

  // IDOK (after the installation it started, if any) or IDCANCEL; -1 when
  // the dialog cannot be shown.
  INT_PTR DoModal(HWND parent = nullptr);

  const ComponentListBox& List() const { return list_; }
  // The result of the installation OK started (0, 36 or -1; -1 after an
  // error it showed); 0 when none was started.
  int RunResult() const { return runResult_; }

 protected:
  INT_PTR OnInitDialog() override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void FillList();
  int AddPicture(const std::string& path);
  // The catalogue's component for each ticked row, in row order.
  std::vector<Component> TickedComponents() const;
  void OnComponentChecked();
  void OnOk();
  void OnDestroy();

  ComponentCatalog& catalog_;
  std::map<std::string, std::string> images_;
  std::function<void()> unpackPictures_;
  RowImageList rowImages_;
  frame::ScopedIcon bigIcon_;
  frame::ScopedIcon smallIcon_;
  ComponentListBox list_;
  bool accepted_ = false;  // OK went through; the run may still be going
  int runResult_ = 0;
};
