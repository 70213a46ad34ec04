// The directory listing of the web components: an FTP folder through the run's source, a path
// through the file system.

#include <set>
#include <vector>

#include "qninet/rtl/Forms.h"
#include "qninet/sys/FtpListing.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/web/qniupdate.h"

namespace qninet {
namespace {

// A looping server or a chain of links must not recurse without end.
constexpr int kMaxDepth = 64;

std::string join(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

// Names are bytes; each is decoded on its own, so a Latin-1 name below a UTF-8 folder does not
// change how the folder's part reads.
String decode_path(std::string_view path) {
  String out;
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find('/', start);
    out += sys::decode_page_text(path.substr(start, slash - start));
    if (slash == std::string_view::npos) return out;
    out += u'/';
    start = slash + 1;
  }
}

struct Listing {
  TQNCustomWebComponent& Component;
  TQNWebSource& Source;
  bool Ftp;
  std::string WildCard;
  bool SubFolders;
  TStrings& List;
  std::string Current;
  std::set<std::string> Entered;
  String Why;  // why the last folder that could not be entered was refused

  void add(const std::string& name, const std::string& path) {
    if (sys::ftp_wildcard_match(WildCard.empty() ? "*" : WildCard, name)) List.Add(decode_path(path));
  }

  // Reads the folder whole; false when it cannot be read or was entered before. A folder that
  // cannot be read is the run's error when it is the first one; FTP also shows why.
  bool read(const std::string& dir, int depth, TQNWebFolder& folder) {
    if (!Source.ListFolder(dir, folder)) {
      const String why = Source.LastError().substr(0, 200);
      if (depth == 0 || Ftp) Why = why;
      if (Ftp)
        Application().MessageBox(Format(u"Cannot enter \"%s\": %s", decode_path(dir), why),
                                 Application().Title(), gui::mbOK | gui::mbIconError);
      return false;
    }
    return Entered.insert(folder.Identity).second;
  }

  void ftp(const std::string& directory, int depth) {
    const std::string dir = directory.empty() ? "/" : directory;
    const bool bare = dir == Current;
    TQNWebFolder folder;
    if (!read(dir, depth, folder)) return;
    std::vector<std::string> below;
    for (const TQNWebDirEntry& e : folder.Entries) {
      add(e.Name, bare ? e.Name : join(dir, e.Name));
      if (SubFolders && e.Directory && e.Name != "." && e.Name != "..") below.push_back(join(dir, e.Name));
    }
    folder = {};
    if (depth >= kMaxDepth) return;
    for (const std::string& sub : below) {
      Component.SetAction(iaFileSearch);
      ftp(sub, depth + 1);
      Component.SetAction(iaFileFound);
    }
  }

  void path(const std::string& dir, int depth) {
    const std::string prefix = dir.empty() ? std::string() : join(dir, "");
    TQNWebFolder folder;
    if (!read(dir, depth, folder)) return;
    for (const TQNWebDirEntry& e : folder.Entries) {
      add(e.Name, prefix + e.Name);
      if (SubFolders && e.Directory && e.Name != "." && e.Name != ".." && depth < kMaxDepth) {
        Component.SetAction(iaFileSearch);
        path(prefix + e.Name, depth + 1);
        Component.SetAction(iaFileFound);
      }
    }
  }
};

}  // namespace

bool TQNCustomWebComponent::ReadDirFromInet(const String& Directory, const String& WildCard, bool SubFolders,
                                            TStrings* List) {
  // A path needs no run: without one, a file source of its own reads the folders.
  std::unique_ptr<TQNWebSource> own;
  TQNWebSource* source = Source();
  if (!source && FService == isNetwork) source = (own = MakeFileSource(endpoint())).get();
  if (!source || !List) return false;
  SetAction(iaFileSearch);
  if (FService == isFTP || FService == isNetwork) {
    Listing listing{*this,      *source, FService == isFTP,       ToUtf8(WildCard),
                    SubFolders, *List,   source->CurrentFolder(), {},
                    {}};
    if (listing.Ftp)
      listing.ftp(ToUtf8(Directory), 0);
    else
      listing.path(ToUtf8(Directory), 0);
    if (!listing.Why.empty()) FLastError = listing.Why;
  }
  SetAction(iaFileFound);
  return List->Count() > 0;
}

}  // namespace qninet
