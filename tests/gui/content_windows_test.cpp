// The news window and the remote image as Qt widgets, offscreen: the tree's marks, expansion,
// selection and click, the embedded tree, and pictures decoded by Qt refreshed on Qt's timer.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPainter>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "QtFixture.h"
#include "harness/TempDir.h"
#include "qninet/gui/qt/QtBackend.h"
#include "qninet/sys/Desktop.h"
#include "qninet/web/qnidirect.h"
#include "qninet/web/qniimage.h"

namespace fs = std::filesystem;
using namespace qninet;
using qninet::harness::TempDir;

namespace {

class QtContent : public QtFixture {};

class Direct : public TQNWebDirect {
public:
  explicit Direct(const TempDir& dir) : TQNWebDirect(nullptr) {
    FLocalFileName = FromUtf8(dir.File("app.nwf").string());
  }
};

QImage icon_image(const QIcon& icon) { return icon.pixmap(16, 16).toImage(); }

}  // namespace

TEST_F(QtContent, NewsWindowMarksNewEntriesExpandsSelectsAndOpensTheClickedKey) {
  TempDir dir("qninet-qt-news");
  dir.Write("app.~nwf", "[Product news]\nhttps://example.test/2.0=Version 2.0 is out\n");
  dir.Write(
      "app.nwf",
      "[Product news]\nhttps://example.test/2.0=Version 2.0 is out\nhttps://example.test/2.1=Version 2.1 "
      "fixes printing\n[Tips]\nhttps://example.test/tips/1=Drag pictures onto the window\n");
  Direct news(dir);
  news.Show();
  QWidget* window = gui::QtWindowOf(*news.Form());
  ASSERT_NE(window, nullptr);
  auto* tree = window->findChild<QTreeWidget*>("tvQNIWebDirect");
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->geometry(), window->rect());
  ASSERT_EQ(tree->topLevelItemCount(), 2);

  const QImage oldIcon = icon_image(QIcon(":/qninet/news_old.png")),
               newIcon = icon_image(QIcon(":/qninet/news_new.png"));
  ASSERT_NE(oldIcon, newIcon);
  struct Row {
    QTreeWidgetItem* Item;
    const char* Text;
    bool New;
  };
  QTreeWidgetItem *news0 = tree->topLevelItem(0), *tips = tree->topLevelItem(1);
  for (const Row& r : {Row{news0, "Product news", false}, Row{news0->child(0), "Version 2.0 is out", false},
                       Row{news0->child(1), "Version 2.1 fixes printing", true}, Row{tips, "Tips", false},
                       Row{tips->child(0), "Drag pictures onto the window", true}}) {
    SCOPED_TRACE(r.Text);
    EXPECT_EQ(r.Item->text(0), r.Text);
    EXPECT_EQ(r.Item->font(0).bold(), r.New);
    EXPECT_EQ(icon_image(r.Item->icon(0)), r.New ? newIcon : oldIcon);
  }
  EXPECT_TRUE(news0->isExpanded());
  EXPECT_TRUE(tips->isExpanded());
  EXPECT_EQ(tree->currentItem(), news0);
  EXPECT_TRUE(tree->hasMouseTracking());
  screenshot(window, "news");

  std::vector<std::string> opened;
  const auto previous = sys::set_shell_open_hook([&](const std::string& target) -> sys::Status {
    opened.push_back(target);
    return {};
  });
  for (QTreeWidgetItem* item : {tips, news0->child(1), tips->child(0)})
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
  sys::set_shell_open_hook(previous);
  EXPECT_EQ(opened, (std::vector<std::string>{"https://example.test/2.1", "https://example.test/tips/1"}));
  EXPECT_EQ(tree->currentItem(), tips->child(0));
}

TEST_F(QtContent, NewsTreeEmbedsInAShownPanel) {
  TempDir dir("qninet-qt-news-embedded");
  dir.Write("app.nwf", "[S]\nk=Entry\n");
  TForm host(nullptr);
  host.SetName(u"frmHost");
  host.SetBounds(0, 0, 300, 200);
  auto* panel = new TPanel(&host);
  panel->SetName(u"pnlNews");
  panel->SetBounds(20, 30, 240, 140);
  host.Show();
  Direct news(dir);
  news.SetParentControl(panel);
  news.Show();
  QWidget* window = gui::QtWindowOf(host);
  ASSERT_NE(window, nullptr);
  auto* tree = window->findChild<QTreeWidget*>("tvQNIWebDirect");
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->parentWidget()->objectName(), "pnlNews");
  EXPECT_EQ(tree->geometry(), QRect(0, 0, 240, 140));
  EXPECT_TRUE(tree->isVisible());
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  EXPECT_TRUE(tree->topLevelItem(0)->child(0)->font(0).bold());
  screenshot(window, "news-embedded");
  // A new showing replaces the tree; the old widget goes with its model.
  news.Show();
  gui::Services().ProcessMessages();
  EXPECT_EQ(window->findChildren<QTreeWidget*>().size(), 1);
}

TEST_F(QtContent, RemoteImageShowsPicturesQtDecodesAndRefreshesOnTheTimer) {
  TempDir dir("qninet-qt-image");
  QImage picture(64, 48, QImage::Format_RGB32);
  picture.fill(QColor(0x4A, 0x90, 0xD9));
  QPainter(&picture).fillRect(8, 8, 24, 16, Qt::yellow);
  // PPM is read by Qt but not by the library's own picture probe.
  const QString ppm = QString::fromStdString(dir.File("pic.ppm").string());
  ASSERT_TRUE(picture.save(ppm, "PPM"));

  TForm form(nullptr);
  form.SetName(u"frmImage");
  form.SetBounds(0, 0, 80, 60);
  auto* control = new TImage(&form);
  control->SetName(u"imgRemote");
  control->SetBounds(0, 0, 80, 60);
  form.Show();
  TQNRemoteImage image(nullptr);
  image.SetService(isNetwork);
  image.SetRemoteFileName(FromUtf8(ppm.toStdString()));
  image.SetImage(control);
  image.SetInterval(20);
  int runs = 0;
  image.SetOnAfterExecute([&](TObject*) { ++runs; });
  image.Start();
  // The tick's run is asynchronous: its picture is loaded when it is no longer busy.
  ASSERT_TRUE(gui::Services().RunUntil([&] { return runs >= 1 && !image.Busy(); }, 5000));
  gui::Services().ProcessMessages();
  EXPECT_EQ(control->Picture()->Graphic()->Format(), "ppm");
  auto* label = gui::QtWindowOf(form)->findChild<QLabel*>("imgRemote");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->pixmap().toImage().convertToFormat(QImage::Format_RGB32), picture);
  screenshot(gui::QtWindowOf(form), "remote-image");

  // The next runs come on Qt's timer; a run that raises stops them.
  ASSERT_TRUE(gui::Services().RunUntil([&] { return runs >= 3 && !image.Busy(); }, 5000));
  image.SetRemoteFileName(FromUtf8(dir.Write("pic.unknownext", "x").string()));
  // The error's message box would wait for a click: answered as soon as it shows.
  when_shown("QNInetMessageBox", [](QWidget* w) { w->close(); });
  const int before = runs;
  ASSERT_TRUE(gui::Services().RunUntil([&] { return runs > before && !image.TimerEnabled(); }, 5000));
  EXPECT_TRUE(image.Active());
  QTest::qWait(100);
  EXPECT_EQ(runs, before + 1);
}
