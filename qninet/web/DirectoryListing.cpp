// The directory listing of the web components: an FTP folder through the run's source, a path
// through the file system.

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <vector>

#include "qninet/rtl/Forms.h"
#include "qninet/sys/FtpListing.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/web/qnidir.h"
#include "qninet/web/WebSource.h"
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

// What a folder holds, to recognise it again under another path.
std::size_t fingerprint(const TQNWebFolder& folder) {
  std::string text;
  for (const TQNWebDirEntry& e : folder.Entries) (text += e.Name) += e.Directory ? '/' : '\n';
  return std::hash<std::string>{}(text);
}

struct Listing {
  TQNCustomWebComponent& Component;
  TQNWebSource& Source;
  bool Ftp;
  std::string WildCard;
  bool SubFolders;
  TStrings& List;
  std::string Current;
  const std::atomic<bool>* Cancel;
  std::set<std::string> Entered{};
  std::vector<std::size_t> Ancestors{};  // the fingerprints of the folders above the one read
  int Folders = 0;
  bool Stopped = false;     // cancelled, out of time, or at the bound of folders
  bool Incomplete = false;  // a local sub-folder could not be read: the list lacks its names
  String Why{};             // why the last folder that could not be entered was refused

  bool cancelled() const { return Cancel && Cancel->load(); }
  // Ends the walk: the folders left are not tried, and the run says why once.
  bool stop() {
    Why = cancelled() ? String(u"Cancelled")
                      : Format(u"The listing stopped after %d folders", kQNIMaxListedFolders);
    Stopped = true;
    return false;
  }

  void add(const std::string& name, const std::string& path) {
    if (sys::ftp_wildcard_match(WildCard.empty() ? "*" : WildCard, name)) List.Add(decode_path(path));
  }

  // Reads the folder whole; false when it cannot be read, was entered before, or the walk is
  // over. A folder that cannot be read is the run's error when it is the first one; FTP also
  // shows why, unless the run was stopped.
  bool read(const std::string& dir, int depth, TQNWebFolder& folder) {
    if (Stopped) return false;
    if (cancelled() || Folders >= kQNIMaxListedFolders) return stop();
    ++Folders;
    if (const auto listed = Source.ListFolder(dir, folder); !listed) {
      if (cancelled()) return stop();
      const String why = listed.Text().substr(0, 200);
      const String cannot = Format(u"Cannot enter \"%s\": %s", decode_path(dir), why);
      if (Ftp) {
        Why = why;
        Application().MessageBox(cannot, Application().Title(), gui::mbOK | gui::mbIconError);
      } else if (depth == 0) {
        Why = why;
      } else {
        // No window tells of a local sub-folder that could not be read, so the run does: the
        // walk goes on, and the list is not taken for the whole.
        Why = cannot;
        Incomplete = true;
      }
      return false;
    }
    return Entered.insert(folder.Identity).second;
  }

  void ftp(const std::string& directory, int depth) {
    const std::string dir = directory.empty() ? "/" : directory;
    // Only the folder the caller named may give bare names: the login directory met lower
    // down is still named by its path.
    const bool bare = depth == 0 && dir == Current;
    TQNWebFolder folder;
    if (!read(dir, depth, folder)) return;
    // On FTP a link back up gives ever longer paths and the server may not resolve them: a
    // folder that holds what one of its ancestors holds is that ancestor again.
    const std::size_t print = fingerprint(folder);
    if (!folder.Entries.empty() && std::find(Ancestors.begin(), Ancestors.end(), print) != Ancestors.end())
      return;
    std::vector<std::string> below;
    for (const TQNWebDirEntry& e : folder.Entries) {
      add(e.Name, bare ? e.Name : join(dir, e.Name));
      if (SubFolders && e.Directory && e.Name != "." && e.Name != "..") below.push_back(join(dir, e.Name));
    }
    folder = {};
    if (depth >= kMaxDepth) return;
    Ancestors.push_back(print);
    for (const std::string& sub : below) {
      if (Stopped) break;
      Component.SetAction(iaFileSearch);
      ftp(sub, depth + 1);
      Component.SetAction(iaFileFound);
    }
    Ancestors.pop_back();
  }

  void path(const std::string& dir, int depth) {
    const std::string prefix = dir.empty() ? std::string() : join(dir, "");
    TQNWebFolder folder;
    if (!read(dir, depth, folder)) return;
    for (const TQNWebDirEntry& e : folder.Entries) {
      add(e.Name, prefix + e.Name);
      if (SubFolders && e.Directory && e.Name != "." && e.Name != ".." && depth < kMaxDepth && !Stopped) {
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
  const TQNIService service = FConnection.Service;
  if (!source && service == isNetwork) source = (own = MakeFileSource(FConnection)).get();
  if (!source || !List) return false;
  SetAction(iaFileSearch);
  if (service == isFTP || service == isNetwork) {
    Listing listing{.Component = *this,
                    .Source = *source,
                    .Ftp = service == isFTP,
                    .WildCard = ToUtf8(WildCard),
                    .SubFolders = SubFolders,
                    .List = *List,
                    .Current = source->CurrentFolder(),
                    .Cancel = FConnection.Cancel};
    if (listing.Ftp)
      listing.ftp(ToUtf8(Directory), 0);
    else
      listing.path(ToUtf8(Directory), 0);
    if (!listing.Why.empty()) FLastError = listing.Why;
    // A walk cut short is no listing: the caller must not take the part for the whole.
    if (listing.Stopped || listing.Incomplete) SetStatus(isFailed);
  }
  SetAction(iaFileFound);
  return List->Count() > 0;
}

}  // namespace qninet
