#pragma once
// What every Qt window test shares: the Qt backend offscreen, and screenshots of the windows
// under the build folder for a person to look at.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "qninet/gui/qt/QtBackend.h"

inline QString q(const qninet::String& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

class QtFixture : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ASSERT_TRUE(qninet::gui::UseQtBackend());
    std::filesystem::create_directories(QNINET_SCREENSHOT_DIR);
  }
  static void TearDownTestSuite() { qninet::gui::SetServices(nullptr); }

  // Calls `act` once, from the event loop, with the visible top-level window of that name as
  // soon as `ready` holds for it.
  static void when_shown(
      const char* name, std::function<void(QWidget*)> act,
      std::function<bool(QWidget*)> ready = [](QWidget*) { return true; }) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, name, act, ready] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible() && ready(w)) {
          timer->stop();
          timer->deleteLater();
          return act(w);
        }
    });
    timer->start(5);
  }

  static void screenshot(QWidget* window, const char* name) {
    const QString path = QString(QNINET_SCREENSHOT_DIR "/") + name + ".png";
    ASSERT_TRUE(window->grab().save(path)) << path.toStdString();
    EXPECT_EQ(QImage(path).size(), window->size());
  }
};
