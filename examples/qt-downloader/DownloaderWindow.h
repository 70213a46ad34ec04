#pragma once
// The downloader's window: a URL field, Download and Cancel, a progress bar and a status line.
// The updater runs asynchronously, so the window stays live; its events arrive on this
// window's thread and update the widgets directly.

#include <QWidget>
#include <memory>

#include "qninet/web/qniupdate.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class DownloaderWindow : public QWidget {
public:
  /// Downloads go into `folder`, named after the URL's last path segment.
  explicit DownloaderWindow(QString folder, QWidget* parent = nullptr);
  ~DownloaderWindow() override;

  QLineEdit* Url;
  QPushButton* Download;
  QPushButton* Cancel;
  QProgressBar* Progress;
  QLabel* Status;
  qninet::TQNWebUpdater& Updater() { return *FUpdater; }

private:
  void start();
  void finished(bool ok);

  QString FFolder;
  std::unique_ptr<qninet::TQNWebUpdater> FUpdater;
};
