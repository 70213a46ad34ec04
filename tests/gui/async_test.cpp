// Asynchronous runs under the Qt event loop, offscreen, against nginx limited to 8 MiB/s: the
// loop never stalls, every event arrives on the GUI thread, a cancel keeps the old file; and
// the example downloader's window in the middle of a download.

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <filesystem>

#include "QtFixture.h"
#include "examples/qt-downloader/DownloaderWindow.h"
#include "harness/Nginx.h"
#include "harness/TempDir.h"
#include "qninet/web/qniupdate.h"
#include "support/NoSystemProxy.h"

namespace fs = std::filesystem;
using namespace qninet;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t kSize = 50ull << 20;

class QtAsync : public QtFixture {
protected:
  static void SetUpTestSuite() {
    QtFixture::SetUpTestSuite();
    nginx = std::make_unique<harness::Nginx>();
    nginx->AddLocation("location /slow/ { limit_rate 8m; }");
    nginx->WriteLargeFile("slow/big.bin", kSize);
    nginx->Start();
  }
  static void TearDownTestSuite() {
    nginx.reset();
    QtFixture::TearDownTestSuite();
  }
  static inline std::unique_ptr<harness::Nginx> nginx;
  test_support::NoSystemProxy noProxy;
  harness::TempDir dir{"qninet-async"};
};

// Whole, then cancelled a fifth of the way in: a 10 ms timer keeps ticking throughout (a run that
// held the loop would stall it for the seconds the download lasts; a loaded machine, a tenth of one).
TEST_F(QtAsync, DownloadLeavesTheEventLoopFreeAndCancelKeepsTheOldFile) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancel" : "whole");
    const fs::path local = dir.Write("big.bin", "old version");
    TQNWebUpdater u(nullptr);
    u.SetURL(FromUtf8(nginx->Url("/slow/big.bin")));
    u.SetLocalFileName(FromUtf8(local.string()));
    u.SetLoadSystemProxy(false);
    int foreign = 0, events = 0, done = 0, succeeded = 0;
    std::uint64_t received = 0;
    const auto note = [&] { foreign += QThread::currentThread() != qApp->thread(), ++events; };
    u.SetOnProgress([&](TObject*, std::uint64_t cur, std::uint64_t, bool&) { note(), received = cur; });
    u.SetOnActionChange([&](TObject*) { note(); });
    u.SetOnStatusChange([&](TObject*) { note(); });
    QEventLoop loop;
    u.SetOnDone([&](TObject*, bool ok) { note(), ++done, succeeded += ok, loop.quit(); });
    Clock::duration longest{};
    Clock::time_point last = Clock::now();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const auto now = Clock::now();
      longest = std::max(longest, now - last);
      last = now;
      if (cancel && received > kSize / 5) u.Cancel();
    });
    ticker.start(10);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    u.ExecuteAsync();
    loop.exec();
    ticker.stop();
    QCoreApplication::processEvents();  // anything posted after OnDone would count twice

    EXPECT_EQ(done, 1);
    EXPECT_EQ(foreign, 0);
    EXPECT_GT(events, 100);
    EXPECT_LT(longest, std::chrono::milliseconds(1000));
    EXPECT_EQ(succeeded, cancel ? 0 : 1);
    EXPECT_EQ(u.Status(), cancel ? isFailed : isFinished);
    EXPECT_TRUE(harness::ReadFileText(local) ==
                (cancel ? "old version" : harness::ReadFileText(nginx->DocRoot() / "slow/big.bin")));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
    fs::remove(local);
  }
}

// The example application, a tenth of the way through a download, then cancelled.
TEST_F(QtAsync, DownloaderExampleMidDownload) {
  DownloaderWindow window(QString::fromStdString(dir.Path().string()));
  window.show();
  window.Url->setText(QString::fromStdString(nginx->Url("/slow/big.bin")));
  QTest::mouseClick(window.Download, Qt::LeftButton);
  EXPECT_TRUE(gui::Services().RunUntil([&] { return window.Progress->value() > 100; }, 30000));
  EXPECT_FALSE(window.Download->isEnabled());
  screenshot(&window, "qt-downloader");
  QTest::mouseClick(window.Cancel, Qt::LeftButton);
  EXPECT_TRUE(gui::Services().RunUntil([&] { return window.Download->isEnabled(); }, 30000));
  EXPECT_TRUE(window.Status->text().startsWith("Failed")) << window.Status->text().toStdString();
  EXPECT_FALSE(fs::exists(dir.File("big.bin")));
}

}  // namespace
