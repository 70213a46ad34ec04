#include "qninet/rtl/ComCtrls.h"

#include "qninet/rtl/TypInfo.h"

namespace qninet {

QNINET_CLASS_INFO(TImageList)
QNINET_CLASS_INFO(TTreeView)

TImageList::TImageList(TComponent* AOwner) : TComponent(AOwner) {}

Integer TImageList::AddResource(const String& name) {
  FNames.push_back(name);
  return Count() - 1;
}

TTreeView::TTreeView(TComponent* AOwner) : TControl(AOwner) { SetTabStop(true); }
TTreeView::~TTreeView() = default;

TTreeNode* TTreeView::Add(TTreeNode* parent, const String& text) {
  auto& list = parent ? parent->FChildren : FItems;
  list.push_back(std::make_unique<TTreeNode>(parent, text));
  nodes_changed();
  return list.back().get();
}

void TTreeView::Clear() {
  FSelected = FVisibleNode = nullptr;
  FItems.clear();
  nodes_changed();
}

std::vector<TTreeNode*> TTreeView::AllNodes() const {
  std::vector<TTreeNode*> out;
  std::function<void(const std::vector<std::unique_ptr<TTreeNode>>&)> walk = [&](const auto& list) {
    for (const auto& n : list) {
      out.push_back(n.get());
      walk(n->Children());
    }
  };
  walk(FItems);
  return out;
}

void TTreeView::FullExpand() {
  for (TTreeNode* n : AllNodes())
    if (!n->Children().empty()) n->SetExpanded(true);
  nodes_changed();
}

// Selection and scrolling change no node: a backend moves its cursor without rebuilding.
void TTreeView::SetSelected(TTreeNode* node) {
  if (node == FSelected) return;
  FSelected = node;
  if (FUpdating == 0) Changed();
}

void TTreeView::MakeVisible(TTreeNode* node) {
  FVisibleNode = node;
  if (FUpdating == 0) Changed();
}

void TTreeView::EndUpdate() {
  if (FUpdating > 0 && --FUpdating == 0) Changed();
}

void TTreeView::nodes_changed() {
  ++FGeneration;
  if (FUpdating == 0) Changed();
}

void TTreeView::Click(TTreeNode* node) {
  if (!Enabled()) return;
  if (node) SetSelected(node);
  if (FOnClick) FOnClick(this);
}

String TTreeView::Describe() const {
  String out;
  for (const TTreeNode* n : AllNodes()) {
    out.append(static_cast<std::size_t>(n->Level()) * 2, u' ');
    out += n->Bold() ? u"* " : (n->Level() > 0 ? u"  " : u"");
    out += n->Text();
    out += u'\n';
  }
  return out;
}

}  // namespace qninet
