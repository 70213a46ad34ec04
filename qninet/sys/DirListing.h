#pragma once
// A local folder read whole with opendir/readdir: its entries as the system gives them, and an
// identity that tells whether two paths reach the same folder.

#include <string>
#include <vector>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// One entry of a folder.
struct DirEntry {
  std::string Name;        ///< the bytes the directory read gave
  bool Directory = false;  ///< a folder, or a symbolic link to one
};

/// A folder's entries in the order the directory read returned them, "." and ".." included.
struct DirContents {
  std::string Identity;  ///< the device and inode of the folder, links followed
  std::vector<DirEntry> Entries;
};

/// Reads the folder at `path` ("" is the current folder) and closes it before returning, so a
/// caller that descends holds no folder open per level.
Result<DirContents> read_directory(const std::string& path);

}  // namespace qninet::sys
