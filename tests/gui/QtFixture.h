#pragma once
// What every Qt window test shares: the Qt backend offscreen, and screenshots of the windows
// under the build folder for a person to look at.

#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <cstdlib>
#include <filesystem>

#include "qninet/gui/qt/QtBackend.h"

class QtFixture : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ASSERT_TRUE(qninet::gui::UseQtBackend());
    std::filesystem::create_directories(QNINET_SCREENSHOT_DIR);
  }
  static void TearDownTestSuite() { qninet::gui::SetServices(nullptr); }

  static void screenshot(QWidget* window, const char* name) {
    const QString path = QString(QNINET_SCREENSHOT_DIR "/") + name + ".png";
    ASSERT_TRUE(window->grab().save(path)) << path.toStdString();
    EXPECT_EQ(QImage(path).size(), window->size());
  }
};
