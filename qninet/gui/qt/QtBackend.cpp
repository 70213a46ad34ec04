#include "qninet/gui/qt/QtBackend.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImageReader>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <climits>
#include <map>
#include <memory>

#include "qninet/gui/qt/QtFormWindow.h"

namespace qninet::gui {

namespace {

class QtServices final : public TGuiServices {
public:
  TModalResult ShowModal(TForm& form) override {
    auto window = std::make_unique<FormWindow>(form, true);
    FWindows[&form] = window.get();
    window->setWindowModality(Qt::ApplicationModal);
    window->exec();
    FWindows.erase(&form);
    window->Detach();
    const TModalResult r = window->Result();
    return r == mrNone ? mrCancel : r;
  }

  void ShowModeless(TForm& form) override {
    FormWindow*& window = FWindows[&form];
    if (window) {
      window->show();
      window->raise();  // shown again: to the front
    } else {
      window = new FormWindow(form, false);
      window->show();
    }
    ProcessMessages();
  }

  void HideForm(TForm& form) override {
    const auto it = FWindows.find(&form);
    if (it == FWindows.end()) return;
    FormWindow* window = it->second;
    FWindows.erase(it);
    window->Detach();
    window->hide();
    // It may be inside one of its own handlers: deleted from the event loop.
    window->deleteLater();
  }

  void FormChanged(TForm& form) override {
    if (const auto it = FWindows.find(&form); it != FWindows.end()) it->second->Sync();
  }

  void ProcessMessages() override {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  TModalResult MessageBox(const String& text, const String& caption, std::int32_t flags) override {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (flags & 0xF0) {
      case mbIconError:
        icon = QMessageBox::Critical;
        break;
      case mbIconQuestion:
        icon = QMessageBox::Question;
        break;
      case mbIconWarning:
        icon = QMessageBox::Warning;
        break;
      case mbIconInformation:
        icon = QMessageBox::Information;
        break;
      default:
        break;
    }
    const int kind = flags & 0x0F;
    const QMessageBox::StandardButtons buttons = kind == mbYesNo      ? QMessageBox::Yes | QMessageBox::No
                                                 : kind == mbOKCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                                      : QMessageBox::Ok;
    QMessageBox box(icon, to_q(caption.empty() ? Application().Title() : caption), to_q(text), buttons);
    box.setObjectName("QNInetMessageBox");
    switch (box.exec()) {
      case QMessageBox::Ok:
        return mrOk;
      case QMessageBox::Yes:
        return mrYes;
      case QMessageBox::No:
        return mrNo;
      default:
        return kind == mbYesNo ? mrNo : mrCancel;
    }
  }

  TTimerId StartTimer(std::uint32_t intervalMs, std::function<void()> tick) override {
    auto* timer = new QTimer;
    timer->setInterval(static_cast<int>(std::min<std::uint32_t>(intervalMs, INT_MAX)));
    QObject::connect(timer, &QTimer::timeout, timer, std::move(tick));
    timer->start();
    const TTimerId id = FNextTimer++;
    FTimers[id] = timer;
    return id;
  }

  void StopTimer(TTimerId id) override {
    const auto it = FTimers.find(id);
    if (it == FTimers.end()) return;
    it->second->stop();
    it->second->deleteLater();  // a tick may be stopping its own timer
    FTimers.erase(it);
  }

  bool RunUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) override {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
      if (clock.elapsed() >= timeoutMs) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QThread::msleep(2);
    }
    return true;
  }

  // Pictures are read by Qt's image readers, so every format they know loads.
  bool KnowsPictureFormat(const std::string& format) override {
    return QImageReader::supportedImageFormats().contains(QByteArray::fromStdString(format));
  }

  bool ReadPicture(const std::string& format, std::string_view bytes, Integer& width,
                   Integer& height) override {
    QImage img;
    if (!img.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()),
                          format.c_str()))
      return false;
    width = img.width();
    height = img.height();
    return true;
  }

  // Queued invocation on the application object, which lives on the GUI thread: the work runs
  // there from the event loop, after the events queued before it.
  void Post(std::function<void()> work) override {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
  }

  void WaitForMessages(std::uint32_t timeoutMs) override {
    // Qt has no wait bounded in time for the next event of this loop; a short sleep between
    // rounds keeps a waiting thread cheap and the delay small.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QThread::msleep(std::min<std::uint32_t>(timeoutMs, 1));
  }

  QWidget* WindowOf(const TForm& form) const {
    const auto it = FWindows.find(&form);
    return it == FWindows.end() ? nullptr : it->second;
  }

private:
  std::map<const TForm*, FormWindow*> FWindows;
  std::map<TTimerId, QTimer*> FTimers;
  TTimerId FNextTimer = 1;
};

QtServices* g_services = nullptr;

}  // namespace

bool UseQtBackend() {
  // Widgets need a QApplication: a program that runs only a QCoreApplication or a
  // QGuiApplication cannot show these windows.
  if (QCoreApplication::instance() && !qobject_cast<QApplication*>(QCoreApplication::instance()))
    return false;
  if (!QCoreApplication::instance()) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
      return false;
    // The application object lives as long as the process; Qt keeps argv.
    static int argc = 1;
    static char name[] = "qninet";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
  QCoreApplication::setApplicationName(to_q(Application().Title()));
  if (!g_services) g_services = new QtServices;
  SetServices(g_services);
  return true;
}

QWidget* QtWindowOf(const TForm& form) { return g_services ? g_services->WindowOf(form) : nullptr; }

}  // namespace qninet::gui

extern "C" int qninet_use_qt_backend() { return qninet::gui::UseQtBackend() ? 1 : 0; }
