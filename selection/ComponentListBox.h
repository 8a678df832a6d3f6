// The owner-drawn list of the selection dialog: one row per component with a
// tick box, a picture, the name, the status and the size, and a band above
// the rows with the column heads. The list owns its rows; the row image list
// belongs to the dialog. Everything runs on the thread that owns the window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/Handle.h"

// Sent to the list's parent on every tick change: wParam the row index,
// lParam the new tick state (0 or 1).
constexpr UINT WM_COMPONENTCHECKED = WM_USER + 44;

// Images of the row image list (bitmap 202); component pictures follow.
enum RowImage : int {
  kImageDefaultPicture = 0,
  kImageTicked = 1,
  kImageEmpty = 2,
  kImageTickedHighlighted = 3,
  kImageEmptyHighlighted = 4,
  kImageTickedGrey = 5,
  kImageEmptyGrey = 6,
};

// One row's data.
struct ComponentListItem {
  int32_t imageIndex = kImageDefaultPicture;
  int32_t checked = 0;
  std::string sName;
  std::string sSize;
  std::string sStatus;
  std::string sDescription;  // kept with the row, not drawn
  std::string sMoreInfo;     // kept with the row, not drawn
  int32_t enabled = 1;
};

// The name as a row shows it: up to " (Device Plug-in)" when it has that.
std::string RowDisplayName(const std::string& name);

class ComponentListBox {
 public:
  ComponentListBox() = default;
  ComponentListBox(const ComponentListBox&) = delete;
  ComponentListBox& operator=(const ComponentListBox&) = delete;
  virtual ~ComponentListBox();

  // Subclasses the list window and makes the bold form of its font; false
  // when the window cannot be subclassed. The image list stays the caller's.
  bool Attach(HWND list, HIMAGELIST images);
  // Restores the list's own procedure (while it is still this one's).
  void Detach();
  HWND Window() const { return list_; }
  HFONT BoldFont() const { return static_cast<HFONT>(boldFont_.get()); }

  // Frees every row.
  void Clear();
  // Adds a row whose string is the item's name; its index, or -1.
  int AddRow(std::unique_ptr<ComponentListItem> item);
  int Count() const;
  // The row's data; nullptr when the row has none of this list's rows.
  const ComponentListItem* Row(int index) const;

  // The parent hands these on.
  void MeasureItem(MEASUREITEMSTRUCT& measure);
  void DrawItem(const DRAWITEMSTRUCT& draw);

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  ComponentListItem* MutableRow(int index) const;
  void Toggle(int index, ComponentListItem& item, const RECT* repaint);
  int BandHeight();
  void PaintBand();

  HWND list_ = nullptr;
  WNDPROC previous_ = nullptr;
  HIMAGELIST images_ = nullptr;
  frame::ScopedGdiObject boldFont_;
  const ComponentListItem* measuring_ = nullptr;  // the row being added
  int tallestText_ = 0;  // tallest row text measured so far
  int bandHeight_ = -1;  // measured on first use
  std::vector<std::unique_ptr<ComponentListItem>> rows_;
};
