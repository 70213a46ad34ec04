// qt-downloader [URL]: downloads into the current folder without freezing its window.
#include <QApplication>
#include <QDir>
#include <QLineEdit>

#include "DownloaderWindow.h"
#include "qninet/gui/qt/QtBackend.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The library's events and dialogs go through the Qt event loop.
  qninet::gui::UseQtBackend();
  DownloaderWindow window(QDir::currentPath());
  if (argc > 1) window.Url->setText(QString::fromLocal8Bit(argv[1]));
  window.show();
  return app.exec();
}
