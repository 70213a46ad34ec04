#pragma once
// The HTTP/FTP client library behind opaque handles, over libcurl. The web engine opens a root
// handle, a connection handle for one host and operation handles (an HTTP request, an FTP
// search, an FTP file, a URL) and pulls their data in blocks of its own size. Every failure is a
// none handle or a false result; nothing raises out of this layer.
//
// Memory stays bounded: libcurl receives into its own buffer of `kInetReceiveBuffer` bytes, a
// transfer holds at most one such chunk that the caller has not read yet, and the transfer is
// paused while that chunk waits. HTTPS verifies the server against the system's certificate
// store; the environment variable QNINET_CA_FILE names one more CA file to trust.

#include <cstddef>
#include <cstdint>
#include <string>

#include "qninet/rtl/DateUtils.h"
#include "qninet/rtl/SysUtils.h"

namespace qninet::sys {

struct InetObject;
/// An open handle of this layer, or none (`nullptr`). Close every handle with `inet_close`.
using InetHandle = InetObject*;

/// libcurl's receive buffer for every transfer (never the caller's block size).
inline constexpr std::size_t kInetReceiveBuffer = 64 * 1024;

enum class InetService : std::uint8_t { Http, Ftp };

/// Request flags, with the values the engine's callers pass.
enum InetRequestFlags : std::uint32_t {
  inetFlagReload = 0x80000000u,          ///< never serve from a cache (there is none here)
  inetFlagSecure = 0x00800000u,          ///< HTTPS
  inetFlagKeepConnection = 0x00400000u,  ///< HTTP/1.1 keep-alive
  inetFlagBinary = 0x00000002u,          ///< FTP: binary transfer (the only kind offered)
};

enum class InetCredential : std::uint8_t { UserName, Password, ProxyUserName, ProxyPassword };

/// One entry of an FTP search.
struct FtpFindData {
  String Name;
  std::uint32_t Attributes = 0;  ///< `kFileAttributeDirectory` for a directory
  std::uint64_t Size = 0;
  TFileTime LastWriteTime = 0;  ///< 0 when the server gave no time
};
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;

/// Opens the library. `proxy` empty: the system's preconfigured proxy (`proxy_setting()`,
/// with no_proxy honoured); otherwise the named HTTP proxy, "host[:port]". `timeoutMs` bounds
/// every connect and every stall of a transfer (no byte for that long) of the handles made
/// from this root; 0 waits for ever. Returns the root handle, or none.
QNINET_API InetHandle inet_open(const String& agent, const String& proxy, std::uint32_t timeoutMs);

/// A connection to `host`:`port`. For HTTP nothing is sent yet; for FTP the control
/// connection is opened and the user logged in now (anonymous when `user` is empty), and it
/// serves every later search, directory change and download of this handle. None on failure.
QNINET_API InetHandle inet_connect(InetHandle root, const String& host, std::uint16_t port,
                                   const String& user, const String& password, InetService service);

/// An HTTP request on a connection: `verb` "GET", "POST" or another, `object` the path and
/// query, `version` "HTTP/1.0" (or empty/"HTTP/1.1" for the library's default) and the
/// `InetRequestFlags`. Nothing is sent before `http_send_request`. None on failure.
QNINET_API InetHandle http_open_request(InetHandle connection, const String& verb, const String& object,
                                        const String& version, std::uint32_t flags);

/// Sends the request (again, when already sent: the earlier answer is dropped) with extra
/// header lines (CRLF separated, may be empty) and a body, and waits for the answer's head.
/// Redirects are followed. True when a status line arrived.
QNINET_API bool http_send_request(InetHandle request, const String& headers, const void* body,
                                  std::size_t length);

/// The status code of the last answer; false before an answer arrived.
QNINET_API bool http_query_status_code(InetHandle request, std::uint32_t& code);
/// The Content-Length header's text as the server wrote it; false when there is none.
QNINET_API bool http_query_content_length(InetHandle request, String& text);
/// The Last-Modified header as a file time; false when absent or not a date.
QNINET_API bool http_query_last_modified(InetHandle request, TFileTime& time);
/// Any header of the final answer by name (case-insensitive); false when absent.
QNINET_API bool http_query_header(InetHandle request, const String& name, String& value);

/// Sets a credential that the next send (or the connection's next FTP login) uses. Basic
/// authentication; an empty user name sends no credentials at all.
QNINET_API bool inet_set_credential(InetHandle handle, InetCredential which, const String& value);

/// Reads up to `size` bytes of the body (request, URL or FTP file) into `buffer`. `read` is 0
/// at the clean end of the data. False when the transfer failed: a reset, a closed connection
/// before the announced length, a time-out or a refused command; `read` is then 0.
QNINET_API bool inet_read(InetHandle handle, void* buffer, std::size_t size, std::size_t& read);

/// Makes the next read start at `offset` from the beginning of the data: an HTTP request is
/// sent again with a Range header (a server that ignores it has the first `offset` bytes
/// skipped); an FTP file starts with REST. False when that cannot be done.
QNINET_API bool inet_set_read_position(InetHandle handle, std::uint64_t offset);

/// Opens a full URL (http, https, ftp) on a root handle with extra header lines; the GET is
/// sent and its head awaited. None when the request could not be made.
QNINET_API InetHandle inet_open_url(InetHandle root, const String& url, const String& headers,
                                    std::uint32_t flags);

/// Starts an FTP search: `pattern` is a path (absolute, or relative to the current
/// directory) whose last part may hold the wildcards * and ? ("*.*" matches every name). The
/// first entry goes to `data`. Uses MLSD and falls back to LIST. None when nothing matches.
QNINET_API InetHandle ftp_find_first(InetHandle connection, const String& pattern, FtpFindData& data);
/// The next entry of a search; false after the last one.
QNINET_API bool inet_find_next(InetHandle find, FtpFindData& data);
/// The server's current directory of this connection.
QNINET_API bool ftp_get_current_directory(InetHandle connection, String& directory);
/// Changes the current directory (the server is asked whether it can be entered).
QNINET_API bool ftp_set_current_directory(InetHandle connection, const String& directory);
/// Opens a file of the server for reading in binary; the transfer starts with the first read
/// (after an optional `inet_set_read_position`). None when the connection is busy or gone.
QNINET_API InetHandle ftp_open_file(InetHandle connection, const String& path, std::uint32_t flags);

/// Closes any handle; closing a root or connection also closes what was made from it.
/// False for none.
QNINET_API bool inet_close(InetHandle handle);

/// The code and text of the last failure on this thread (libcurl's code, or 0 with a text of
/// this layer's own).
QNINET_API int inet_last_error();
QNINET_API String inet_last_error_text();

/// One line of an MLSD answer (RFC 3659 7): facts, a space, the name. False for the listed
/// folder itself, its parent, or a line that is no entry.
QNINET_API bool parse_mlsd_line(const std::string& line, FtpFindData& data);
/// One line of a Unix-style LIST answer; a date without a year is taken in `currentYear` (or
/// the year before when that would lie in the future).
QNINET_API bool parse_list_line(const std::string& line, FtpFindData& data, int currentYear);
/// Whether `name` matches a pattern with * and ? ("*.*" matches every name).
QNINET_API bool ftp_wildcard_match(const String& pattern, const String& name);

/// Gives `to` the permission bits of `from` (or, when `from` does not exist, the usual bits of
/// a new file: 0666 less the umask). A download's temporary file uses it before it replaces the
/// local file. False when the bits could not be set.
QNINET_API bool copy_file_permissions(const std::string& from, const std::string& to);

}  // namespace qninet::sys
