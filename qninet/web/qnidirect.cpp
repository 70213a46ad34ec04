#include "qninet/web/qnidirect.h"

#include <algorithm>

#include "qninet/rtl/Streams.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/sys/Desktop.h"
#include "qninet/sys/Files.h"
#include "qninet/web/WebContent.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNIShowMode, "omAlways", "omNever", "omIfChanged")
QNINET_CLASS_INFO(TQNINodeData)
QNINET_CLASS_INFO(TQNWebDirect, Published("ShowMode", &Self::ShowMode, &Self::SetShowMode, omAlways),
                  Published("Title", &Self::Title, &Self::SetTitle))

String NewsFileLocation(const String& ProgramFile) {
  const String folder = ExtractFilePath(ProgramFile);
  const String name = ChangeFileExt(ExtractFileName(ProgramFile), u".nwf");
  if (sys::directory_writable(ToUtf8(folder.empty() ? u"." : folder))) return folder + name;
  return FromUtf8(sys::user_data_directory()) + u"/" + ChangeFileExt(ExtractFileName(ProgramFile), u"") +
         u"/" + name;
}

TQNWebDirect::TQNWebDirect(TComponent* AOwner) : TQNCustomWebUpdater(AOwner), FTitle(u"Veltraxon WebDirect") {
  FLocalFileName = NewsFileLocation(FromUtf8(sys::executable_path()));
}

TQNWebDirect::~TQNWebDirect() {
  StopAsyncRun();
  forget_window();
  SetParentControl(nullptr);
}

String TQNWebDirect::PreviousFileName() const { return ChangeFileExt(FLocalFileName, u".~nwf"); }

void TQNWebDirect::SetParentControl(TControl* value) {
  if (value == FParentControl) return;
  if (FParentControl) FParentControl->RemoveFreeNotification(this);
  FParentControl = value;
  if (FParentControl) FParentControl->FreeNotification(this);
}

void TQNWebDirect::Notification(TComponent* AComponent, TOperation Operation) {
  TQNCustomWebUpdater::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == FParentControl) FParentControl = nullptr;
  if (AComponent == tree) tree = nullptr;
  if (AComponent == FImageList) FImageList = nullptr;
  if (AComponent == frm) frm = nullptr, tree = nullptr;
}

bool TQNWebDirect::Execute() {
  const std::string local = ToUtf8(FLocalFileName);
  if (const std::string folder = ToUtf8(ExtractFilePath(FLocalFileName)); !folder.empty())
    (void)sys::make_directories(folder);
  if (sys::file_exists(local)) {
    const std::string bytes = ReadLocalBytes(FLocalFileName);
    TFileStream copy(PreviousFileName(), fmCreate);
    copy.WriteBuffer(bytes.data(), static_cast<Int64>(bytes.size()));
  }
  const bool result = TQNCustomWebUpdater::Execute();
  if (FShowMode == omAlways || (FShowMode == omIfChanged && result && Status() == isFinished)) ShowModal();
  return result;
}

void TQNWebDirect::Show() { build(false); }
void TQNWebDirect::ShowModal() { build(true); }

// One window at a time: a new showing frees the previous window, its tree and image list.
void TQNWebDirect::forget_window() {
  if (tree) {
    tree->RemoveFreeNotification(this);
    delete std::exchange(tree, nullptr);
  }
  if (FImageList) {
    FImageList->RemoveFreeNotification(this);
    delete std::exchange(FImageList, nullptr);
  }
  if (frm) {
    frm->RemoveFreeNotification(this);
    delete std::exchange(frm, nullptr);
  }
}

void TQNWebDirect::build(bool modal) {
  const bool hasPrevious = sys::file_exists(ToUtf8(PreviousFileName()));
  forget_window();

  TComponent* owner = this;
  if (FParentControl) {
    owner =
        FParentControl->OwnerForm() ? static_cast<TComponent*>(FParentControl->OwnerForm()) : FParentControl;
  } else {
    frm = new TForm(this);
    frm->SetName(u"frmQNIWebDirect");
    frm->SetCaption(FTitle);
    frm->SetBorderStyle(bsSizeable);
    frm->SetPosition(poScreenCenter);
    frm->SetBounds(0, 0, 460, 320);
    frm->FreeNotification(this);
    owner = frm;
  }
  // Each free-notification is asked for before anything that can raise: the host form may
  // free what it owns after a failed showing, and these fields must not outlive it.
  FImageList = new TImageList(owner);
  FImageList->FreeNotification(this);
  FImageList->SetSize(16, 16);
  FImageList->AddResource(u"DIRECT_OLD");
  FImageList->AddResource(u"DIRECT_NEW");

  tree = new TTreeView(owner);
  tree->FreeNotification(this);
  // Several browsers may embed their trees on one host form, whose names must differ.
  String name = u"tvQNIWebDirect";
  for (int n = 2; owner->FindComponent(name); ++n) name = u"tvQNIWebDirect" + IntToStr(n);
  tree->SetName(name);
  tree->BeginUpdate();
  if (FParentControl) {
    tree->SetParent(FParentControl);
    tree->SetBounds(0, 0, FParentControl->Width(), FParentControl->Height());
  } else {
    tree->SetBounds(0, 0, frm->ClientWidth(), frm->ClientHeight());
  }
  tree->SetAlign(alClient);
  tree->SetImages(FImageList);
  tree->SetReadOnly(true);
  tree->SetHotTrack(true);
  tree->SetOnClick([this](TObject*) { tree_click(); });

  const TQNINewsFile previous = hasPrevious ? ReadNewsFile(PreviousFileName()) : TQNINewsFile{};
  const TQNINewsSeen seen(hasPrevious ? &previous : nullptr);
  for (const TQNINewsSection& section : ReadNewsFile(FLocalFileName)) {
    TTreeNode* node = tree->Add(nullptr, section.Name);
    for (const TQNINewsEntry& entry : section.Entries) {
      TTreeNode* child = tree->Add(node, entry.Value);
      child->SetData(std::make_unique<TQNINodeData>(entry.Key));
      if (seen.IsNew(section.Name, entry.Key)) {
        child->SetImageIndex(1);
        child->SetSelectedIndex(1);
        child->SetBold(true);
      }
    }
  }
  if (!tree->Items().empty()) {
    tree->FullExpand();
    tree->SetSelected(tree->Items().front().get());
    tree->MakeVisible(tree->Items().front().get());
  }
  tree->EndUpdate();

  if (modal && frm) {
    frm->ShowModal();
    forget_window();  // closing frees the window
  } else if (frm) {
    frm->Show();
  } else if (TForm* host = FParentControl->OwnerForm()) {
    host->Changed();
  }
}

void TQNWebDirect::tree_click() {
  if (!tree || !tree->Selected()) return;
  const auto* data = dynamic_cast<const TQNINodeData*>(tree->Selected()->Data());
  if (!data) return;
  const sys::Status opened = sys::shell_open(ToUtf8(data->Url));
  SetLastErrorText(opened ? String() : String(opened.failure().Text));
}

}  // namespace qninet
