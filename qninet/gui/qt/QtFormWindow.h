#pragma once
// The window that shows one form model: a widget per control at the model's place, synced
// from the model on every change, with clicks and typing fed back. Internal to the backend.

#include <QDialog>
#include <QString>
#include <map>
#include <string>

#include "qninet/rtl/ComCtrls.h"

class QTreeWidget;
class QTreeWidgetItem;
class QLabel;
class QProgressBar;

namespace qninet::gui {

inline QString to_q(StringView s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }
inline String from_q(const QString& s) {
  return String(reinterpret_cast<const char16_t*>(s.utf16()), s.size());
}

class FormWindow final : public QDialog {
public:
  FormWindow(TForm& form, bool modal);

  /// The model is going away: the window stops talking to it.
  void Detach() { FForm = nullptr; }
  TModalResult Result() const { return FResult; }
  /// Model to widgets.
  void Sync();

protected:
  void reject() override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  struct ShownImage {
    Integer Index = -1;
    std::string Data;
  };
  struct ShownTree {
    std::uint64_t Generation = 0;
    std::map<const QTreeWidgetItem*, TTreeNode*> Nodes;
    std::map<const TTreeNode*, QTreeWidgetItem*> Items;
  };

  void place();
  QWidget* add(TControl* c);
  void reconcile();
  void build();
  QWidget* make(TControl& c, QWidget* parent);
  QWidget* make_label(TLabel& l, QWidget* parent);
  QWidget* make_tree(TTreeView& t, QWidget* parent);
  void sync(const TControl& c, QWidget* w);
  void sync_image(const TImage& i, QLabel* w);
  void sync_tree(const TTreeView& t, QTreeWidget* w);
  static void add_item(const TTreeView& t, TTreeNode& n, QTreeWidgetItem* parent, QTreeWidget* w,
                       ShownTree& shown);
  void click(TButton& b);
  void finish(TModalResult r);

  TForm* FForm;
  bool FModal;
  bool FSyncing = false;
  TModalResult FResult = mrNone;
  QWidget* FFirst = nullptr;
  std::map<const TControl*, QWidget*> FWidgets;
  std::map<const TImage*, ShownImage> FImages;
  std::map<const TControl*, ShownTree> FTrees;
};

}  // namespace qninet::gui
