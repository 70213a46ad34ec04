#pragma once
// The content types the system registers for file extensions: the mime.types files of the
// machine and the user. Tests name their own files instead.

#include <optional>
#include <string>
#include <vector>

namespace qninet::sys {

/// The files read, in order; an extension named in a later file wins over an earlier one.
/// By default /etc/mime.types, then ~/.mime.types.
std::vector<std::string> content_type_files();

/// Replaces the files read by every later look-up (tests); `std::nullopt` restores the default.
void set_content_type_files_override(std::optional<std::vector<std::string>> files);

/// The content type registered for an extension (without its dot, compared ignoring case), or
/// an empty text when none is. Missing or unreadable files count as empty; never throws.
std::string content_type_of_extension(const std::string& extension);

/// The content type that one mime.types text gives an extension (the first line naming it),
/// or empty: lines "type/subtype ext ext ...", "#" starting a comment.
std::string content_type_in_table(const std::string& table, const std::string& extension);

}  // namespace qninet::sys
