#include "qninet/core/qniutil.h"

#include <gtest/gtest.h>

#include "harness/Process.h"
#include "harness/TempDir.h"
#include "qninet/platform/ContentTypes.h"

using namespace qninet;

namespace {

// Points the look-up at the given files for one test.
struct TypesFiles {
  explicit TypesFiles(std::vector<std::string> files) {
    platform::set_content_type_files_override(std::move(files));
  }
  ~TypesFiles() { platform::set_content_type_files_override(std::nullopt); }
};

}  // namespace

TEST(ContentTypeLookup, ExtensionsMatchIgnoringCase) {
  harness::TempDir dir("qninet-types");
  const auto sys = dir.Write("mime.types",
                             "# comment line pdf\n"
                             "application/pdf\t\t\t\tpdf\n"
                             "text/plain  txt text  # trailing comment zip\n"
                             "image/jpeg jpeg jpg jpe\n");
  TypesFiles files({sys.string()});
  EXPECT_EQ(ContentTypeByFile(u"/home/joe/Report.PDF"), u"application/pdf");
  EXPECT_EQ(ContentTypeByFile(u"notes.Txt"), u"text/plain");
  EXPECT_EQ(ContentTypeByFile(u"photo.jpg"), u"image/jpeg");
  EXPECT_EQ(ContentTypeByFile(u"archive.zip"), u"application/octet-stream");
}

TEST(ContentTypeLookup, OnlyTheLastExtensionCounts) {
  harness::TempDir dir("qninet-types");
  const auto sys = dir.Write("mime.types", "application/gzip gz\napplication/x-tar tar\n");
  TypesFiles files({sys.string()});
  EXPECT_EQ(ContentTypeByFile(u"backup.tar.gz"), u"application/gzip");
  EXPECT_EQ(ContentTypeByFile(u"/srv/v1.2/README"), u"application/octet-stream");
  EXPECT_EQ(ContentTypeByFile(u"name."), u"application/octet-stream");
  EXPECT_EQ(ContentTypeByFile(u""), u"application/octet-stream");
}

TEST(ContentTypeLookup, TheUsersFileWins) {
  harness::TempDir dir("qninet-types");
  const auto sys = dir.Write("system", "text/plain log\napplication/json json\n");
  const auto user = dir.Write("user", "text/x-log LOG\n");
  TypesFiles files({sys.string(), user.string(), dir.File("missing").string()});
  EXPECT_EQ(ContentTypeByFile(u"app.log"), u"text/x-log");
  EXPECT_EQ(ContentTypeByFile(u"data.json"), u"application/json");
}

TEST(ContentTypeLookup, TheMachinesTableAnswersByDefault) {
  platform::set_content_type_files_override(std::nullopt);
  const auto files = platform::content_type_files();
  ASSERT_FALSE(files.empty());
  EXPECT_EQ(files.front(), "/etc/mime.types");
  if (harness::ReadFileText("/etc/mime.types").find("application/pdf") != std::string::npos) {
    EXPECT_EQ(ContentTypeByFile(u"x.pdf"), u"application/pdf");
  }
}

TEST(DeleteExeScriptText, PathsAreQuotedForTheShell) {
  const String script = DeleteExeScript(u"/opt/My Apps/it's/tool", u"/opt/My Apps/it's/tool.sh");
  const String exe = u"'/opt/My Apps/it'\\''s/tool'";
  EXPECT_EQ(script,
            u"#!/bin/sh\n"
            u"tries=0\n"
            u"while [ -e " +
                exe + u" ] || [ -L " + exe +
                u" ]; do\n"
                u"  rm -f -- " +
                exe +
                u" && continue\n"
                u"  tries=$((tries + 1))\n"
                u"  [ \"$tries\" -ge 60 ] && break\n"
                u"  sleep 1\n"
                u"done\n"
                u"rm -f -- '/opt/My Apps/it'\\''s/tool.sh'\n");
  EXPECT_EQ(ShellQuote(u"a b"), u"'a b'");
  EXPECT_EQ(ShellQuote(u""), u"''");
}

// Runs the script text on copies in a folder whose name holds a blank: it removes exactly
// the executable and itself, and a file beside them named as the first word stays.
TEST(DeleteExeScriptText, ScriptDeletesOnlyItsTwoFiles) {
  harness::TempDir dir("qninet-delete exe");
  const auto exe = dir.Write("my tool", "binary");
  const auto script = dir.File("my tool.sh");
  const auto decoy = dir.Write("my", "keep me");
  harness::WriteFileBytes(script, ToUtf8(DeleteExeScript(FromUtf8(exe.string()), FromUtf8(script.string()))));
  const auto result = harness::RunToCompletion({"/bin/sh", script.string()}, std::chrono::seconds(20));
  EXPECT_EQ(result.ExitCode, 0) << result.Output;
  EXPECT_FALSE(std::filesystem::exists(exe));
  EXPECT_FALSE(std::filesystem::exists(script));
  EXPECT_TRUE(std::filesystem::exists(decoy));
}
