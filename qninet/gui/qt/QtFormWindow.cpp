#include "qninet/gui/qt/QtFormWindow.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <climits>
#include <set>

namespace qninet::gui {

namespace {

QColor to_color(Integer rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

void set_color(QWidget* w, QPalette::ColorRole role, Integer rgb) {
  if (rgb < 0) return;
  QPalette p = w->palette();
  p.setColor(role, to_color(rgb));
  w->setPalette(p);
}

// The pictures a form model leaves empty: the backend draws its own, by control name.
QString default_picture(const String& controlName) {
  static const std::map<String, QString> pictures = {{u"imgKey", ":/qninet/key.png"},
                                                     {u"imgLogo", ":/qninet/logo.png"},
                                                     {u"imgBackground", ":/qninet/banner.png"},
                                                     {u"imgDescription", ":/qninet/header.png"}};
  const auto it = pictures.find(controlName);
  return it == pictures.end() ? QString() : it->second;
}

QPixmap state_image(Integer index) { return QPixmap(QStringLiteral(":/qninet/state%1.png").arg(index)); }

// The pictures an image list names, drawn by the backend.
QIcon list_icon(const TImageList* list, Integer index) {
  static const std::map<String, QString> pictures = {{u"DIRECT_OLD", ":/qninet/news_old.png"},
                                                     {u"DIRECT_NEW", ":/qninet/news_new.png"}};
  if (!list || index < 0 || index >= list->Count()) return {};
  const auto it = pictures.find(list->Names()[static_cast<std::size_t>(index)]);
  return it == pictures.end() ? QIcon() : QIcon(it->second);
}

// A transparent picture without an alpha channel (a bitmap) loses the colour of its
// bottom-left pixel, as classic transparent images do.
QPixmap pixmap(const TGraphic& g, bool transparent = false) {
  QImage img;
  img.loadFromData(reinterpret_cast<const uchar*>(g.Data().data()), static_cast<int>(g.Data().size()),
                   g.Format().empty() ? nullptr : g.Format().c_str());
  if (transparent && !img.isNull() && !img.hasAlphaChannel()) {
    const QRgb key = img.pixel(0, img.height() - 1);
    QPixmap p = QPixmap::fromImage(img);
    p.setMask(QBitmap::fromImage(img.createMaskFromColor(key, Qt::MaskInColor)));
    return p;
  }
  return QPixmap::fromImage(img);
}

// A control that fills its parent follows the parent's size.
void place_control(const TControl& c, QWidget* w) {
  if (c.Align() == alClient && w->parentWidget())
    w->setGeometry(w->parentWidget()->rect());
  else
    w->setGeometry(c.Left(), c.Top(), c.Width(), c.Height());
}

// A range above int is shown in millionths; a zero range is Qt's busy bar.
void sync_progress(const TProgressBar& p, QProgressBar* w) {
  const Int64 span = p.Max() - p.Min();
  if (p.Max() <= INT_MAX && p.Min() >= INT_MIN && span >= 0) {
    w->setRange(static_cast<int>(p.Min()), static_cast<int>(p.Max()));
    w->setValue(static_cast<int>(std::clamp(p.Position(), p.Min(), p.Max())));
    return;
  }
  constexpr int kScale = 1000000;
  w->setRange(0, kScale);
  const long double share = span > 0 ? static_cast<long double>(p.Position() - p.Min()) / span : 0;
  w->setValue(static_cast<int>(std::clamp(share, 0.0L, 1.0L) * kScale));
}

// A framing line along the top edge, sunken as the classic bevel draws it.
class BevelLine final : public QWidget {
public:
  using QWidget::QWidget;

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(0, 0, width() - 1, 0);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(0, 1, width() - 1, 1);
  }
};

}  // namespace

FormWindow::FormWindow(TForm& form, bool modal) : FForm(&form), FModal(modal) {
  setObjectName(to_q(form.Name()));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
  setSizeGripEnabled(false);
  QFont font(QStringList{to_q(form.FontName()), "DejaVu Sans", "Liberation Sans"});
  font.setPixelSize(form.FontHeight() < 0 ? -form.FontHeight() : std::max(form.FontHeight(), 8));
  setFont(font);
  if (form.BorderStyle() == bsSizeable)
    resize(form.ClientWidth(), form.ClientHeight());
  else
    setFixedSize(form.ClientWidth(), form.ClientHeight());
  const QPixmap icon = form.Icon()->Empty() ? QPixmap(":/qninet/icon.png") : pixmap(*form.Icon());
  setWindowIcon(QIcon(icon));
  build();
  Sync();
  place();
}

void FormWindow::Sync() {
  if (!FForm) return;
  FSyncing = true;
  if (windowTitle() != to_q(FForm->Caption())) setWindowTitle(to_q(FForm->Caption()));
  reconcile();
  for (const auto& [control, widget] : FWidgets) sync(*control, widget);
  FSyncing = false;
}

// Escape: the cancel button answers, as a click would.
void FormWindow::reject() {
  if (!FForm) return;
  for (TControl* c : FForm->Controls())
    if (auto* b = dynamic_cast<TButton*>(c); b && b->Cancel() && b->Visible() && b->Enabled())
      return click(*b);
  if (FModal) finish(mrCancel);
}

void FormWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  for (const auto& [control, widget] : FWidgets)
    if (control->Align() == alClient) place_control(*control, widget);
}

// The title-bar button: a modal window answers Cancel; a modeless one only hides.
void FormWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (FModal && FForm && FResult == mrNone) finish(mrCancel);
}

void FormWindow::place() {
  if (FForm->Position() == poDesigned) {
    move(FForm->Left(), FForm->Top());
    return;
  }
  if (const QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect area = s->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

QWidget* FormWindow::add(TControl* c) {
  QWidget* parent = this;
  if (c->Parent())
    if (const auto it = FWidgets.find(c->Parent()); it != FWidgets.end()) parent = it->second;
  QWidget* w = make(*c, parent);
  w->setObjectName(to_q(c->Name()));
  FWidgets.emplace(c, w);
  place_control(*c, w);
  return w;
}

// Controls added to or removed from a shown form (an embedded tree) gain or lose their
// widgets; a removed control is gone already, so only its address is used.
void FormWindow::reconcile() {
  const std::vector<TControl*> now = FForm->Controls();
  const std::set<const TControl*> present(now.begin(), now.end());
  for (auto it = FWidgets.begin(); it != FWidgets.end();) {
    if (present.count(it->first)) {
      ++it;
      continue;
    }
    FImages.erase(static_cast<const TImage*>(it->first));
    FTrees.erase(it->first);
    it->second->hide();
    it->second->deleteLater();
    it = FWidgets.erase(it);
  }
  for (TControl* c : now)
    if (!FWidgets.count(c)) add(c)->show();
}

void FormWindow::build() {
  for (TControl* c : FForm->Controls()) add(c);
  // Text stays readable where a label runs into a picture (the status header's banner).
  for (const auto& [control, widget] : FWidgets)
    if (dynamic_cast<const TLabel*>(control)) widget->raise();
  // Tab order as the model gives it; controls without one keep no focus.
  QWidget* previous = nullptr;
  for (TControl* c : FForm->ControlsInTabOrder()) {
    QWidget* w = FWidgets[c];
    if (w->focusPolicy() == Qt::NoFocus) continue;
    if (previous)
      QWidget::setTabOrder(previous, w);
    else
      FFirst = w;
    previous = w;
  }
  if (FFirst) FFirst->setFocus();
}

QWidget* FormWindow::make(TControl& c, QWidget* parent) {
  if (auto* l = dynamic_cast<TLabel*>(&c)) return make_label(*l, parent);
  if (auto* e = dynamic_cast<TEdit*>(&c)) {
    auto* w = new QLineEdit(parent);
    w->setFocusPolicy(Qt::StrongFocus);
    if (e->PasswordChar() != 0) w->setEchoMode(QLineEdit::Password);
    QObject::connect(w, &QLineEdit::textChanged, this, [this, e](const QString& text) {
      if (FForm && !FSyncing) e->SetText(from_q(text));
    });
    return w;
  }
  if (auto* b = dynamic_cast<TButton*>(&c)) {
    auto* w = new QPushButton(parent);
    w->setFocusPolicy(Qt::StrongFocus);
    w->setAutoDefault(false);
    w->setDefault(b->Default());
    QObject::connect(w, &QPushButton::clicked, this, [this, b] { click(*b); });
    return w;
  }
  if (auto* p = dynamic_cast<TPanel*>(&c)) {
    auto* w = new QFrame(parent);
    w->setFrameShape(QFrame::NoFrame);
    set_color(w, QPalette::Window, p->Color());
    w->setAutoFillBackground(p->Color() >= 0);
    return w;
  }
  if (dynamic_cast<TImage*>(&c)) {
    auto* w = new QLabel(parent);
    w->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return w;
  }
  if (dynamic_cast<TProgressBar*>(&c)) {
    auto* w = new QProgressBar(parent);
    w->setTextVisible(false);
    return w;
  }
  if (auto* t = dynamic_cast<TTreeView*>(&c)) return make_tree(*t, parent);
  if (dynamic_cast<TBevel*>(&c)) return new BevelLine(parent);
  return new QWidget(parent);
}

QWidget* FormWindow::make_label(TLabel& l, QWidget* parent) {
  auto* w = new QLabel(parent);
  w->setTextFormat(Qt::PlainText);
  w->setWordWrap(l.WordWrap());
  const Qt::Alignment h = l.Alignment() == taRightJustify ? Qt::AlignRight
                          : l.Alignment() == taCenter     ? Qt::AlignHCenter
                                                          : Qt::AlignLeft;
  w->setAlignment(h | Qt::AlignTop);
  if (l.Bold()) {
    QFont f = font();
    f.setBold(true);
    w->setFont(f);
  }
  set_color(w, QPalette::WindowText, l.Color());
  return w;
}

QWidget* FormWindow::make_tree(TTreeView& t, QWidget* parent) {
  auto* w = new QTreeWidget(parent);
  w->setHeaderHidden(true);
  w->setFocusPolicy(Qt::StrongFocus);
  w->setEditTriggers(QAbstractItemView::NoEditTriggers);
  if (t.HotTrack()) {
    // The entry under the mouse looks like a link.
    w->setMouseTracking(true);
    w->setStyleSheet("QTreeView::item:hover { color: palette(link); }");
  }
  QObject::connect(w, &QTreeWidget::itemClicked, this, [this, &t](QTreeWidgetItem* item) {
    const auto it = FTrees.find(&t);
    if (!FForm || it == FTrees.end() || it->second.Generation != t.Generation()) return;
    const auto node = it->second.Nodes.find(item);
    t.Click(node == it->second.Nodes.end() ? nullptr : node->second);
  });
  return w;
}

void FormWindow::sync(const TControl& c, QWidget* w) {
  w->setHidden(!c.Visible());
  w->setEnabled(c.Enabled());
  if (const auto* l = dynamic_cast<const TLabel*>(&c)) {
    auto* q = static_cast<QLabel*>(w);
    if (q->text() != to_q(l->Caption())) q->setText(to_q(l->Caption()));
  } else if (const auto* e = dynamic_cast<const TEdit*>(&c)) {
    auto* q = static_cast<QLineEdit*>(w);
    if (q->text() != to_q(e->Text())) q->setText(to_q(e->Text()));
  } else if (const auto* b = dynamic_cast<const TButton*>(&c)) {
    auto* q = static_cast<QPushButton*>(w);
    if (q->text() != to_q(b->Caption())) q->setText(to_q(b->Caption()));
  } else if (const auto* i = dynamic_cast<const TImage*>(&c)) {
    sync_image(*i, static_cast<QLabel*>(w));
  } else if (const auto* p = dynamic_cast<const TProgressBar*>(&c)) {
    sync_progress(*p, static_cast<QProgressBar*>(w));
  } else if (const auto* t = dynamic_cast<const TTreeView*>(&c)) {
    sync_tree(*t, static_cast<QTreeWidget*>(w));
  }
}

// Pictures are decoded again only when what the model holds changed: the state image's
// index, or the picture's bytes (compared, not copied, at every progress report).
void FormWindow::sync_image(const TImage& i, QLabel* w) {
  static const std::string none;
  const std::string& data =
      i.ImageIndex() < 0 && !i.Picture()->Empty() ? i.Picture()->Graphic()->Data() : none;
  auto [it, added] = FImages.try_emplace(&i);
  ShownImage& last = it->second;
  if (!added && last.Index == i.ImageIndex() && last.Data == data) return;
  last.Index = i.ImageIndex();
  last.Data = data;
  if (i.ImageIndex() >= 0)
    w->setPixmap(state_image(i.ImageIndex()));
  else if (!i.Picture()->Empty())
    w->setPixmap(pixmap(*i.Picture()->Graphic(), i.Transparent()));
  else if (const QString name = default_picture(i.Name()); !name.isEmpty())
    w->setPixmap(QPixmap(name));
  else
    w->clear();
}

// The items are rebuilt when the nodes changed; the cursor follows the model's selection.
void FormWindow::sync_tree(const TTreeView& t, QTreeWidget* w) {
  auto [it, added] = FTrees.try_emplace(&t);
  ShownTree& shown = it->second;
  const QSignalBlocker block(w);
  if (added || shown.Generation != t.Generation()) {
    shown.Generation = t.Generation();
    shown.Nodes.clear();
    shown.Items.clear();
    w->clear();
    if (const TImageList* list = t.Images()) w->setIconSize(QSize(list->Width(), list->Height()));
    for (const auto& n : t.Items()) add_item(t, *n, nullptr, w, shown);
    for (const auto& [node, item] : shown.Items) item->setExpanded(node->Expanded());
  }
  const auto selected = shown.Items.find(t.Selected());
  w->setCurrentItem(selected == shown.Items.end() ? nullptr : selected->second);
  if (const auto visible = shown.Items.find(t.VisibleNode()); visible != shown.Items.end())
    w->scrollToItem(visible->second);
}

void FormWindow::add_item(const TTreeView& t, TTreeNode& n, QTreeWidgetItem* parent, QTreeWidget* w,
                          ShownTree& shown) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(w);
  item->setText(0, to_q(n.Text()));
  item->setIcon(0, list_icon(t.Images(), n.ImageIndex()));
  if (n.Bold()) {
    QFont f = w->font();
    f.setBold(true);
    item->setFont(0, f);
  }
  shown.Nodes[item] = &n;
  shown.Items[&n] = item;
  for (const auto& child : n.Children()) add_item(t, *child, item, w, shown);
}

void FormWindow::click(TButton& b) {
  if (!FForm) return;
  b.Click();
  if (FModal && FForm && FForm->ModalResult() != mrNone) finish(FForm->ModalResult());
}

void FormWindow::finish(TModalResult r) {
  FResult = r;
  done(static_cast<int>(r));
}

}  // namespace qninet::gui
