#include "qninet/core/qniutil.h"

#include <gtest/gtest.h>

#include "harness/Process.h"
#include "harness/TempDir.h"
#include "qninet/sys/ContentTypes.h"

using namespace qninet;

namespace {

// Points the look-up at the given files for one test.
struct TypesFiles {
  explicit TypesFiles(std::vector<std::string> files) {
    sys::set_content_type_files_override(std::move(files));
  }
  ~TypesFiles() { sys::set_content_type_files_override(std::nullopt); }
};

}  // namespace

// Comments are skipped, extensions match without regard to case, only the last one counts; a
// later (the user's) file wins and a missing one is passed over.
TEST(ContentTypeLookup, LastExtensionOfTheLastFileThatKnowsIt) {
  harness::TempDir dir("qninet-types");
  const auto sys = dir.Write("mime.types",
                             "# comment line pdf\n"
                             "application/pdf\t\t\t\tpdf\n"
                             "text/plain  txt text log # trailing comment zip\n"
                             "image/jpeg jpeg jpg jpe\n"
                             "application/gzip gz\napplication/x-tar tar\n");
  const auto user = dir.Write("user", "text/x-log LOG\n");
  TypesFiles files({sys.string(), user.string(), dir.File("missing").string()});
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"notes.Txt", u"text/plain"},
      {u"photo.jpg", u"image/jpeg"},
      {u"backup.tar.gz", u"application/gzip"},
      {u"app.log", u"text/x-log"},
  };
  for (const auto& [file, type] : cases) EXPECT_EQ(ContentTypeByFile(file), type) << ToUtf8(file);
  for (const char16_t* file : {u"archive.zip", u"/srv/v1.2/README", u"name.", u""})
    EXPECT_EQ(ContentTypeByFile(file), u"application/octet-stream") << ToUtf8(file);
}

// Runs the script on files whose names hold a blank and an apostrophe: it removes exactly the
// executable and itself, and a file beside them named as the first word stays. The quoting wraps
// in apostrophes and escapes the ones inside.
TEST(DeleteExeScriptText, ScriptDeletesOnlyItsTwoFiles) {
  harness::TempDir dir("qninet-delete exe");
  const auto exe = dir.Write("my tool's", "binary");
  const auto script = dir.File("my tool's.sh");
  const auto decoy = dir.Write("my", "keep me");
  const String text = DeleteExeScript(FromUtf8(exe.string()), FromUtf8(script.string()));
  EXPECT_NE(text.find(u"rm -f -- " + ShellQuote(FromUtf8(exe.string()))), String::npos) << ToUtf8(text);
  harness::WriteFileBytes(script, ToUtf8(text));
  const auto result = harness::RunToCompletion({"/bin/sh", script.string()}, std::chrono::seconds(20));
  EXPECT_EQ(result.ExitCode, 0) << result.Output;
  EXPECT_FALSE(std::filesystem::exists(exe));
  EXPECT_FALSE(std::filesystem::exists(script));
  EXPECT_TRUE(std::filesystem::exists(decoy));
  EXPECT_EQ(ShellQuote(u"/opt/My Apps/it's/tool"), u"'/opt/My Apps/it'\\''s/tool'");
  EXPECT_EQ(ShellQuote(u""), u"''");
}
