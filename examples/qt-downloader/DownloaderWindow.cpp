#include "DownloaderWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

using namespace qninet;

namespace {

String to_string(const QString& s) { return String(reinterpret_cast<const char16_t*>(s.utf16()), s.size()); }
QString to_q(const String& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }
QString mib(std::uint64_t bytes) { return QString::number(static_cast<double>(bytes) / (1 << 20), 'f', 1); }

}  // namespace

DownloaderWindow::DownloaderWindow(QString folder, QWidget* parent)
    : QWidget(parent),
      Url(new QLineEdit),
      Download(new QPushButton("&Download")),
      Cancel(new QPushButton("&Cancel")),
      Progress(new QProgressBar),
      Status(new QLabel("Enter a URL and press Download.")),
      FFolder(std::move(folder)),
      FUpdater(std::make_unique<TQNWebUpdater>(nullptr)) {
  setObjectName("Downloader");
  setWindowTitle("QNInet downloader");
  Url->setPlaceholderText("https://example.org/file.zip");
  Cancel->setEnabled(false);
  Progress->setRange(0, 1000);
  auto* row = new QHBoxLayout;
  row->addWidget(Url, 1);
  row->addWidget(Download);
  row->addWidget(Cancel);
  auto* column = new QVBoxLayout(this);
  column->addLayout(row);
  column->addWidget(Progress);
  column->addWidget(Status);
  resize(520, 120);

  connect(Download, &QPushButton::clicked, this, [this] { start(); });
  // Cancel ends the run at its next block; OnDone follows with the old file untouched.
  connect(Cancel, &QPushButton::clicked, this, [this] { FUpdater->Cancel(); });
  // Every handler runs on this thread, so it may touch the widgets.
  FUpdater->SetOnProgress([this](TObject*, std::uint64_t cur, std::uint64_t max, bool&) {
    const bool known = max != 0 && max != ~std::uint64_t{0};
    Progress->setValue(known ? static_cast<int>(cur * 1000 / max) : 0);
    Status->setText(known ? QString("Downloaded %1 of %2 MiB").arg(mib(cur), mib(max))
                          : QString("Downloaded %1 MiB").arg(mib(cur)));
  });
  FUpdater->SetOnActionChange([this](TObject*) {
    if (FUpdater->Action() == iaConnecting) Status->setText("Connecting...");
    if (FUpdater->Action() == iaComparing) Status->setText("Comparing with the local file...");
  });
  FUpdater->SetOnDone([this](TObject*, bool ok) { finished(ok); });
}

// Destroying the updater while it runs would cancel and join it; the window goes first.
DownloaderWindow::~DownloaderWindow() = default;

void DownloaderWindow::start() {
  const QUrl url(Url->text().trimmed());
  const QString name = QFileInfo(url.path()).fileName();
  try {
    FUpdater->SetURL(to_string(url.toString()));
    FUpdater->SetLocalFileName(to_string(QDir(FFolder).filePath(name.isEmpty() ? "download" : name)));
    FUpdater->ExecuteAsync();
  } catch (const Exception& e) {
    Status->setText(to_q(e.Message()));
    return;
  }
  Progress->setValue(0);
  Download->setEnabled(false);
  Url->setEnabled(false);
  Cancel->setEnabled(true);
}

void DownloaderWindow::finished(bool ok) {
  Download->setEnabled(true);
  Url->setEnabled(true);
  Cancel->setEnabled(false);
  switch (FUpdater->Status()) {
    case isFinished:
      Progress->setValue(1000);
      Status->setText("Saved " + to_q(FUpdater->LocalFileName()));
      break;
    case isSkipped:
      Status->setText("The local file is up to date.");
      break;
    case isNotFound:
      Status->setText("The server has no such file.");
      break;
    default:
      Status->setText(ok ? QString("Done.") : "Failed: " + to_q(FUpdater->LastErrorText()));
  }
}
