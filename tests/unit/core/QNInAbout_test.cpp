#include <gtest/gtest.h>

#include <set>

#include "qninet/core/QNInAbout.h"
#include "qninet/rtl/GuiScripted.h"

using namespace qninet;

TEST(AboutBox, OneInformationBoxWithAHeadingAndALinePerComponent) {
  gui::TScriptedGui gui;
  AboutQNInet();
  ASSERT_EQ(gui.Messages().size(), 1u);
  const auto& m = gui.Messages()[0];
  EXPECT_EQ(m.Flags, gui::mbOK | gui::mbIconInformation);
  EXPECT_EQ(m.Caption, u"About QNInternet");
  EXPECT_EQ(m.Text, AboutQNInetText());

  std::vector<std::string> lines;
  for (std::size_t at = 0; at <= m.Text.size();) {
    const std::size_t end = std::min(m.Text.find(u'\n', at), m.Text.size());
    lines.push_back(ToUtf8(m.Text.substr(at, end - at)));
    at = end + 1;
  }
  ASSERT_EQ(lines.size(), 16u);  // the heading and the fifteen palette components
  EXPECT_FALSE(lines[0].starts_with("TQN"));
  std::set<std::string> names;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::size_t dash = lines[i].find(" - ");
    ASSERT_NE(dash, std::string::npos) << lines[i];
    EXPECT_TRUE(lines[i].starts_with("TQN")) << lines[i];
    EXPECT_GT(lines[i].size(), dash + 3) << "a line says what the component does";
    names.insert(lines[i].substr(0, dash));
  }
  EXPECT_EQ(names.size(), 15u);
  EXPECT_EQ(names.count("TQNIDNSResolver"), 0u);  // not on the palette
}
