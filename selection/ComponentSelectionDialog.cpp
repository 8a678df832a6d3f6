#include "selection/ComponentSelectionDialog.h"

#include <memory>
#include <utility>

#include "catalog/ComponentCatalog.h"
#include "catalog/ComponentStatus.h"
#include "catalog/DownloadSize.h"
#include "core/Error.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/Switches.h"
#include "core/SystemLibraries.h"
#include "frame/Module.h"
#include "install/DryRun.h"
#include "install/InstallRun.h"
#include "resources/SelectionIds.h"
#include "resources/StringIds.h"

namespace {

constexpr COLORREF kTransparent = RGB(255, 0, 255);
constexpr int kImageSize = 16;
constexpr int kImageListGrowth = 5;

UINT StatusTextId(ComponentStatus status) {
  switch (status) {
    case ComponentStatus::UpToDate:
      return IDS_STATUS_UP_TO_DATE;
    case ComponentStatus::UpdateAvailable:
      return IDS_STATUS_UPDATE_AVAILABLE;
    case ComponentStatus::NotInstalled:
      break;
  }
  return IDS_STATUS_NOT_INSTALLED;
}

HICON LoadAppIcon(int widthMetric, int heightMetric) {
  return static_cast<HICON>(::LoadImageA(frame::TheModule().Instance(), MAKEINTRESOURCEA(IDI_APP),
                                         IMAGE_ICON, ::GetSystemMetrics(widthMetric),
                                         ::GetSystemMetrics(heightMetric), 0));
}

bool DevicesMode() { return HasSwitch("Devices"); }

}  // namespace

void ImageListTraits::Close(HIMAGELIST images) {
  const ComCtlApi& api = ComCtl();
  if (api.ImageList_Destroy) api.ImageList_Destroy(images);
}

ComponentSelectionDialog::ComponentSelectionDialog(ComponentCatalog& catalog,
                                                   std::map<std::string, std::string> images,
                                                   std::function<void()> unpackPictures)
    : catalog_(catalog), images_(std::move(images)), unpackPictures_(std::move(unpackPictures)) {}

ComponentSelectionDialog::~ComponentSelectionDialog() {
  // The list lets go of its window before the image list it draws from goes.
  list_.Detach();
}

INT_PTR ComponentSelectionDialog::DoModal(HWND parent) {
  return frame::Dialog::DoModal(FindDialogTemplate(IDD_SELECTION), parent);
}

INT_PTR ComponentSelectionDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case WM_MEASUREITEM:
      if (wParam != IDC_SELECTION_LIST || !lParam) return FALSE;
      list_.MeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DRAWITEM:
      if (wParam != IDC_SELECTION_LIST || !lParam) return FALSE;
      list_.DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_COMPONENTCHECKED:
      OnComponentChecked();
      return TRUE;
    case WM_COMMAND:
      // Once OK is accepted the hidden dialog waits for the run: a later
      // command must neither start a second run nor turn the result into Cancel.
      if (accepted_ && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) return TRUE;
      if (LOWORD(wParam) == IDOK) {
        OnOk();
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        End(IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR ComponentSelectionDialog::OnInitDialog() {
  HWND window = hwnd();
  accepted_ = false;
  runResult_ = 0;
  bigIcon_.reset(LoadAppIcon(SM_CXICON, SM_CYICON));
  smallIcon_.reset(LoadAppIcon(SM_CXSMICON, SM_CYSMICON));
  ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
  ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
  if (DevicesMode()) ::SetWindowTextA(window, LoadResString(IDS_CAPTION_DEVICES_UPDATE).c_str());

  // Binds once; done already at start-up or before the first dialog.
  BindComCtl();
  const ComCtlApi& api = ComCtl();
  if (api.ImageList_LoadImageA)
    rowImages_.reset(api.ImageList_LoadImageA(frame::TheModule().Instance(),
                                              MAKEINTRESOURCEA(IDB_SELECTION_ROWS), kImageSize,
                                              kImageListGrowth, kTransparent, IMAGE_BITMAP,
                                              LR_CREATEDIBSECTION));
  HWND list = ::GetDlgItem(window, IDC_SELECTION_LIST);
  list_.Attach(list, rowImages_.get());

  if (unpackPictures_) unpackPictures_();
  FillList();
  OnComponentChecked();  // "0KB", OK disabled

  if (list_.Count() > 0) {
    ::InvalidateRect(list, nullptr, TRUE);
    ::SendMessageA(list, LB_SETTOPINDEX, 0, 0);
  }
  ::SetFocus(list);
  return FALSE;  // the focus is set; the skin takes the child controls next
}

void ComponentSelectionDialog::FillList() {
  list_.Clear();
  for (const Component& component : catalog_) {
    if (!PlatformMatches(component.platform)) continue;
    auto item = std::make_unique<ComponentListItem>();
    item->sName = component.sName;
    item->sSize = FormatDownloadSize(ComponentDownloadSize(component, true));
    item->sStatus = LoadResString(StatusTextId(GetComponentStatus(component)));
    item->sDescription = component.sDescription;
    item->sMoreInfo = component.sMoreInfo;
    const auto picture = images_.find(component.sName);
    if (picture != images_.end()) item->imageIndex = AddPicture(picture->second);
    list_.AddRow(std::move(item));
  }
  ::SetDlgItemTextA(hwnd(), IDC_SELECTION_PROMPT,
                    LoadResString(DevicesMode() ? IDS_SELECT_DEVICES : IDS_SELECT_COMPONENTS).c_str());
  ::EnableWindow(list_.Window(), TRUE);
}

int ComponentSelectionDialog::AddPicture(const std::string& path) {
  const ComCtlApi& api = ComCtl();
  if (!rowImages_ || !api.ImageList_AddMasked || path.empty()) return kImageDefaultPicture;
  // A missing file or one that is no bitmap keeps the default picture.
  frame::ScopedGdiObject bitmap(::LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, kImageSize,
                                             kImageSize, LR_LOADFROMFILE));
  if (!bitmap) return kImageDefaultPicture;
  const int index =
      api.ImageList_AddMasked(rowImages_.get(), static_cast<HBITMAP>(bitmap.get()), kTransparent);
  return index < 0 ? kImageDefaultPicture : index;
}

std::vector<Component> ComponentSelectionDialog::TickedComponents() const {
  std::vector<Component> ticked;
  const int count = list_.Count();
  for (int i = 0; i < count; ++i) {
    const ComponentListItem* item = list_.Row(i);
    if (!item || !item->checked) continue;
    // The first component of that exact name; a name nobody has adds nothing.
    for (const Component& component : catalog_) {
      if (component.sName == item->sName) {
        ticked.push_back(component);
        break;
      }
    }
  }
  return ticked;
}

void ComponentSelectionDialog::OnComponentChecked() {
  bool anyTicked = false;
  const int count = list_.Count();
  for (int i = 0; i < count && !anyTicked; ++i) {
    const ComponentListItem* item = list_.Row(i);
    anyTicked = item && item->checked;
  }
  const std::string size = FormatDownloadSize(SelectionDownloadSize(TickedComponents(), true));
  ::SetDlgItemTextA(hwnd(), IDC_SELECTION_SIZE, size.c_str());
  ::EnableWindow(::GetDlgItem(hwnd(), IDOK), anyTicked ? TRUE : FALSE);
}

void ComponentSelectionDialog::OnOk() {
  accepted_ = true;
  ::ShowWindow(hwnd(), SW_HIDE);
  const std::vector<Component> ticked = TickedComponents();
  End(IDOK);
  if (ticked.empty()) return;
  // From here on the run behaves as a Setup run.
  SetSetupLatch();
  try {
    runResult_ = InstallComponents(ticked);
  } catch (const CError& error) {
    // Nothing may unwind through the dialog procedure: the error is shown
    // here and the run counts as failed.
    if (!IsQuiet()) error.Show();
    runResult_ = kRunFailed;
  }
}

void ComponentSelectionDialog::OnDestroy() {
  list_.Detach();
  for (const auto& picture : images_)
    if (!picture.second.empty()) ::DeleteFileA(picture.second.c_str());
}
