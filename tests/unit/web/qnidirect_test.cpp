// The news browser with the scripted backend: the news file reader, where the file goes, new
// entries against the previous copy, embedding and the click.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "harness/Forked.h"
#include "harness/TempDir.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/sys/Desktop.h"
#include "qninet/web/qnidirect.h"
#include "support/Overrides.h"

using namespace qninet;
using qninet::harness::TempDir;
namespace fs = std::filesystem;

namespace {

// The news file in a test folder instead of beside the test program.
class Direct : public TQNWebDirect {
public:
  Direct(const TempDir& dir, const fs::path& remote) : TQNWebDirect(nullptr) {
    FLocalFileName = FromUtf8(dir.File("app.nwf").string());
    SetService(isNetwork);
    SetRemoteFileName(FromUtf8(remote.string()));
  }
};

}  // namespace

// Each row expects "Section: key=value ..." per section.
TEST(NewsFile, SectionsAndEntriesInFileOrder) {
  const std::pair<std::string, std::string> cases[] = {
      {"[News]\r\nhttp://a/1=First\r\nhttp://b/2=Second\r\n[Tips]\nmailto:x@y=Write\n",
       "News: http://a/1=First http://b/2=Second|Tips: mailto:x@y=Write"},
      // The key ends at the first "="; blanks around names, keys and values go, quotes too.
      {"  [ Links ]  \n  k = \"Quoted = fine\" \nhttp://q/?a=b\n", "Links: k=Quoted = fine http://q/?a=b"},
      // Comments, blank lines, lines without "=" or key, lines before any section: skipped.
      {"orphan=1\n[S]\n; a=comment\n\nno equals sign\n=no key\nk=\n", "S: k="},
      // A section named again continues the first one; names compare ignoring case.
      {"[A]\nk1=v1\n[B]\nk2=v2\n[a]\nk3=v3\n", "A: k1=v1 k3=v3|B: k2=v2"},
      {"\xEF\xBB\xBF[Caf\xC3\xA9]\nk=\xE2\x82\xAC\n", "Caf\xC3\xA9: k=\xE2\x82\xAC"},
      {"[Caf\xE9]\nk=v\n", "Caf\xC3\xA9: k=v"},
      {std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0v\0\n\0", 18), "S: k=v"},
      {"", ""}};
  TempDir dir("qninet-newsfile");
  for (const auto& [text, expected] : cases) {
    std::string got;
    for (const TQNINewsSection& s : ReadNewsFile(FromUtf8(dir.Write("n.nwf", text).string()))) {
      got.append(got.empty() ? "" : "|").append(ToUtf8(s.Name)).append(":");
      for (const TQNINewsEntry& e : s.Entries)
        got.append(" ").append(ToUtf8(e.Key)).append("=").append(ToUtf8(e.Value));
    }
    EXPECT_EQ(got, expected) << text;
  }
  EXPECT_TRUE(ReadNewsFile(FromUtf8(dir.File("missing.nwf").string())).empty());
}

// Files shaped to be hard, each in a child with a few seconds of processor time: many sections
// were each looked up along a list, and each entry against every entry of the previous copy.
TEST(NewsFile, EveryShapeIsReadInLinearWork) {
  TempDir dir("qninet-newsshape");
  std::string sections, entries = "[S]\n";
  for (int i = 0; i < 100000; ++i) {
    sections += "[s" + std::to_string(i) + "]\nk=v\n";
    entries += "http://h/" + std::to_string(i) + "=v\n";
  }
  const std::tuple<std::string, std::size_t, std::size_t> cases[] = {
      {sections + "[S0]\nk2=v\n", 100000, 100001}, {entries, 1, 100000}};
  for (const auto& [text, wantSections, wantEntries] : cases) {
    const String file = FromUtf8(dir.Write("n.nwf", text).string());
    const auto outcome = harness::RunForked(
        [&, &wantSections = wantSections, &wantEntries = wantEntries] {
          const auto read = ReadNewsFile(file);
          const TQNINewsSeen seen(&read);  // the same file read a second time: nothing is new
          std::size_t count = 0, fresh = 0;
          for (const auto& s : read)
            for (const auto& e : s.Entries) ++count, fresh += seen.IsNew(s.Name, e.Key);
          return harness::CaseResult{read.size() == wantSections && count == wantEntries && fresh == 0,
                                     std::to_string(read.size()) + " " + std::to_string(fresh)};
        },
        4);
    EXPECT_TRUE(outcome.Ran && outcome.Success) << wantSections << ": " << outcome.Text;
  }
}

// (Beside a program in a folder it may write: the program's news rows.)
TEST(NewsFile, GoesBesideTheProgramOrIntoTheUsersDataFolder) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"/nonexistent-folder/bin/tool", "/xdg", "/xdg/tool/tool.nwf"},
      {"/nonexistent-folder/bin/tool.exe", "", home + "/.local/share/tool/tool.nwf"},
      {"/nonexistent-folder/bin/tool", "relative/ignored", home + "/.local/share/tool/tool.nwf"}};
  for (const auto& [program, xdgDataHome, expected] : cases) {
    test_support::ScopedEnv xdg("XDG_DATA_HOME", xdgDataHome.c_str());
    EXPECT_EQ(ToUtf8(NewsFileLocation(FromUtf8(program))), expected) << program;
  }
}

// An entry is new unless the previous copy holds a value for its key in its section, whatever
// its headline now. (The window's marks, expansion and selection: the Qt news test; the show
// modes, a first run's all-new entries and the counts: the program's news rows against nginx;
// NewsEntryIsNew agreeing with the set: fuzz/news_fuzz.cpp.)
TEST(NewsFile, AnEntryIsNewAgainstThePreviousCopy) {
  const TQNINewsFile previous = ParseNewsFile("[News]\nhttp://a/1=One\nhttp://a/2=\n[Tips]\nt=Tip\n");
  const TQNINewsSeen seen(&previous);
  const std::tuple<const char16_t*, const char16_t*, bool> cases[] = {
      {u"News", u"http://a/1", false}, {u"NEWS", u"http://a/1", false}, {u"News", u"http://a/2", true},
      {u"News", u"http://a/3", true},  {u"Tips", u"http://a/1", true},  {u"Tips", u"t", false}};
  for (const auto& [section, key, fresh] : cases) {
    SCOPED_TRACE(ToUtf8(String(section) + u"/" + key));
    EXPECT_EQ(seen.IsNew(section, key), fresh);
  }
}

TEST(WebDirect, ClickOpensTheEntryKeyThroughTheDesktopAndEmbedsInParents) {
  gui::TScriptedGui gui;
  TempDir dir("qninet-webdirect-click");
  const fs::path remote = dir.Write("remote.nwf", "[S]\nhttp://h/page=Page\n-rf /=Trap\n[Empty]\n");
  Direct news(dir, remote);
  news.SetShowMode(omNever);
  ASSERT_TRUE(news.Execute());
  std::vector<std::string> opened;
  const auto previous = sys::set_shell_open_hook([&](const std::string& target) -> sys::Status {
    opened.push_back(target);
    return {};
  });
  news.Show();
  ASSERT_NE(news.Form(), nullptr);
  ASSERT_EQ(gui.ModelessForms().size(), 1u);
  TTreeView* t = news.Tree();
  const std::vector<TTreeNode*> nodes = t->AllNodes();
  ASSERT_EQ(nodes.size(), 4u);
  t->Click(nodes[0]);  // a section opens nothing
  t->Click(nodes[1]);
  EXPECT_TRUE(news.LastErrorText().empty());
  t->Click(nodes[2]);  // would read as an option of the opener
  EXPECT_NE(ToUtf8(news.LastErrorText()).find("refused"), std::string::npos);
  t->Click(nodes[3]);
  EXPECT_EQ(opened, std::vector<std::string>{"http://h/page"});
  sys::set_shell_open_hook(previous);

  // Embedded: each browser's tree fills its own panel on the host's form and nothing waits;
  // showing one again replaces only its own tree (each tree takes a free name), and freeing the
  // form first leaves none of them pointing at it.
  auto host = std::make_unique<TForm>(nullptr);
  Direct second(dir, remote), third(dir, remote);
  for (Direct* b : {&news, &second, &third}) {
    auto* panel = new TPanel(host.get());
    panel->SetBounds(10, 10, 200, 150);
    b->SetParentControl(panel);
    b->SetShowMode(omAlways);
    b == &news ? void(b->Execute()) : b->Show();
    ASSERT_NE(b->Tree(), nullptr);
    EXPECT_EQ(b->Tree()->Owner(), host.get());
    EXPECT_EQ(b->Tree()->Parent(), panel);
    EXPECT_EQ(b->Tree()->Width(), 200);
    EXPECT_EQ(b->Tree()->AllNodes().size(), 4u);
  }
  for (const auto& shown : gui.ShownForms()) EXPECT_FALSE(shown.Modal);
  EXPECT_EQ(news.Form(), nullptr);
  EXPECT_NE(news.Tree(), second.Tree());
  second.Show();
  host.reset();
  for (Direct* b : {&news, &second, &third})
    EXPECT_TRUE(b->Tree() == nullptr && b->ParentControl() == nullptr);
}
