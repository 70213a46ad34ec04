#pragma once
// A tree view and an image list as models, for the backends to render: nodes with their text,
// image index, bold state and attached data, the selection, and the click.

#include <functional>
#include <memory>
#include <vector>

#include "qninet/rtl/Forms.h"

namespace qninet {

/// A list of small pictures a tree view draws beside its nodes, named as resources that the
/// backend draws (the console backend draws none).
class QNINET_API TImageList : public TComponent {
  QNINET_OBJECT(TImageList, TComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TImageList(TComponent* AOwner);
  /// The width of each image, in pixels.
  Integer Width() const { return FWidth; }
  /// The height of each image, in pixels.
  Integer Height() const { return FHeight; }
  /// Sets `Width` and `Height`.
  void SetSize(Integer width, Integer height) { FWidth = width, FHeight = height; }
  /// Appends the picture of that resource name; returns its index.
  Integer AddResource(const String& name);
  /// The images' names, in index order.
  const std::vector<String>& Names() const { return FNames; }
  /// The number of images.
  Integer Count() const { return static_cast<Integer>(FNames.size()); }

private:
  Integer FWidth = 16, FHeight = 16;
  std::vector<String> FNames;
};

/// A node of a tree view. It owns its children and the object attached to it.
class QNINET_API TTreeNode {
public:
  /// A node with the given text under `parent` (none: a top node).
  TTreeNode(TTreeNode* parent, const String& text) : FParent(parent), FText(text) {}
  TTreeNode(const TTreeNode&) = delete;
  TTreeNode& operator=(const TTreeNode&) = delete;

  /// The node's text.
  const String& Text() const { return FText; }
  /// The node above this one, or none for a top node.
  TTreeNode* Parent() const { return FParent; }
  /// 0 for a top-level node.
  int Level() const { return FParent ? FParent->Level() + 1 : 0; }
  /// The image shown beside the node, an index into the tree's `Images`; -1 for none.
  Integer ImageIndex() const { return FImageIndex; }
  /// Sets `ImageIndex`.
  void SetImageIndex(Integer value) { FImageIndex = value; }
  /// The image shown while the node is selected; -1 for none.
  Integer SelectedIndex() const { return FSelectedIndex; }
  /// Sets `SelectedIndex`.
  void SetSelectedIndex(Integer value) { FSelectedIndex = value; }
  /// Whether the node's text is bold.
  bool Bold() const { return FBold; }
  /// Sets `Bold`.
  void SetBold(bool value) { FBold = value; }
  /// Whether the node's children are shown.
  bool Expanded() const { return FExpanded; }
  /// Sets `Expanded`.
  void SetExpanded(bool value) { FExpanded = value; }
  /// The attached object, owned by the node, or none.
  TObject* Data() const { return FData.get(); }
  /// Sets `Data`.
  void SetData(std::unique_ptr<TObject> value) { FData = std::move(value); }
  /// The nodes under this one, owned, in order.
  const std::vector<std::unique_ptr<TTreeNode>>& Children() const { return FChildren; }

private:
  friend class TTreeView;
  TTreeNode* FParent;
  String FText;
  Integer FImageIndex = 0;
  Integer FSelectedIndex = 0;
  bool FBold = false;
  bool FExpanded = false;
  std::unique_ptr<TObject> FData;
  std::vector<std::unique_ptr<TTreeNode>> FChildren;
};

/// A tree view. `HotTrack` highlights the node under the mouse like a link.
class QNINET_API TTreeView : public TControl {
  QNINET_OBJECT(TTreeView, TControl)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TTreeView(TComponent* AOwner);
  ~TTreeView() override;

  /// Appends a node under `parent` (none: at the top level) and returns it.
  TTreeNode* Add(TTreeNode* parent, const String& text);
  /// Removes every node.
  void Clear();
  /// The top nodes, owned, in order.
  const std::vector<std::unique_ptr<TTreeNode>>& Items() const { return FItems; }
  /// Every node, each before its children, in order.
  std::vector<TTreeNode*> AllNodes() const;
  /// Expands every node.
  void FullExpand();
  /// The selected node, or none.
  TTreeNode* Selected() const { return FSelected; }
  /// Sets `Selected`.
  void SetSelected(TTreeNode* node);
  /// Asks the backend to scroll the node into view.
  void MakeVisible(TTreeNode* node);
  /// The node scrolled into view last, or none.
  TTreeNode* VisibleNode() const { return FVisibleNode; }

  /// The images the nodes show, or none; not owned.
  TImageList* Images() const { return FImages; }
  /// Sets `Images`.
  void SetImages(TImageList* value) { FImages = value; }
  /// Whether the node under the mouse is highlighted.
  bool HotTrack() const { return FHotTrack; }
  /// Sets `HotTrack`.
  void SetHotTrack(bool value) { FHotTrack = value; }
  /// Whether the user cannot edit the nodes' texts.
  bool ReadOnly() const { return FReadOnly; }
  /// Sets `ReadOnly`.
  void SetReadOnly(bool value) { FReadOnly = value; }

  /// Changes between these two reach the backend once, at the end.
  void BeginUpdate() { ++FUpdating; }
  /// Ends a batch of changes; the backend redraws the tree.
  void EndUpdate();
  /// Grows with every change of the nodes, so a backend knows when to rebuild.
  std::uint64_t Generation() const { return FGeneration; }

  /// Called when the tree is clicked.
  const std::function<void(TObject*)>& OnClick() const { return FOnClick; }
  /// Sets the `OnClick` handler.
  void SetOnClick(std::function<void(TObject*)> handler) { FOnClick = std::move(handler); }
  /// What a backend calls when the user clicks a node: it selects the node, then runs
  /// `OnClick`. A click beside every node keeps the selection.
  void Click(TTreeNode* node);
  /// The nodes as indented lines, new entries (bold) marked with "*", for text backends.
  String Describe() const;

private:
  void nodes_changed();
  std::vector<std::unique_ptr<TTreeNode>> FItems;
  TTreeNode* FSelected = nullptr;
  TTreeNode* FVisibleNode = nullptr;
  TImageList* FImages = nullptr;
  bool FHotTrack = false;
  bool FReadOnly = false;
  int FUpdating = 0;
  std::uint64_t FGeneration = 0;
  std::function<void(TObject*)> FOnClick;
};

}  // namespace qninet
