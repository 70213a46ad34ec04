#pragma once
// Byte streams: the abstract stream, files, memory and byte-strings.

#include <memory>
#include <string>
#include <vector>

#include "qninet/rtl/Classes.h"

namespace qninet {

namespace sys {
class FileHandle;
}

enum TSeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

/// A sequence of bytes with a position: the base of files, memory and strings as streams.
class QNINET_API TStream : public TObject {
  QNINET_OBJECT(TStream, TObject)
public:
  /// Reads up to `count` bytes; returns the number read (0 at the end).
  virtual Int64 Read(void* buffer, Int64 count) = 0;
  /// Writes up to `count` bytes; returns the number written.
  virtual Int64 Write(const void* buffer, Int64 count) = 0;
  /// Returns the new position.
  virtual Int64 Seek(Int64 offset, TSeekOrigin origin) = 0;
  /// The number of bytes in the stream.
  virtual Int64 Size();
  /// Raises `EStreamError` where the stream cannot change its size.
  virtual void SetSize(Int64 size);
  /// The current position, from 0.
  Int64 Position() { return Seek(0, soCurrent); }
  /// Sets `Position`.
  void SetPosition(Int64 pos) { Seek(pos, soBeginning); }
  /// Raise `EReadError` "Stream read error" / `EWriteError` "Stream write error" when short.
  void ReadBuffer(void* buffer, Int64 count);
  /// Writes exactly `count` bytes.
  void WriteBuffer(const void* buffer, Int64 count);
  /// Copies `count` bytes from `source` (all of it from its start when `count` is 0).
  Int64 CopyFrom(TStream& source, Int64 count);
};

enum TFileMode : std::uint8_t { fmCreate, fmOpenRead, fmOpenWrite, fmOpenReadWrite };

/// A file as a stream. Raises `EFOpenError` or `EFCreateError` with the system's reason.
class QNINET_API TFileStream : public TStream {
  QNINET_OBJECT(TFileStream, TStream)
public:
  /// Opens or creates `fileName` as `mode` says.
  TFileStream(const String& fileName, TFileMode mode);
  ~TFileStream() override;
  Int64 Read(void* buffer, Int64 count) override;
  Int64 Write(const void* buffer, Int64 count) override;
  Int64 Seek(Int64 offset, TSeekOrigin origin) override;
  void SetSize(Int64 size) override;
  /// The file's name as given.
  const String& FileName() const { return FFileName; }
  /// Pushes the written bytes to the disk; raises `EWriteError` when the system refuses.
  void Flush();

private:
  String FFileName;
  std::unique_ptr<sys::FileHandle> FHandle;
};

/// Makes `bytes` the whole content of `fileName` in one step: written beside it, synced, then
/// renamed over it, so that a failure (a full disk, a killed process) leaves the old file whole.
/// Raises `EFCreateError` with the system's reason.
QNINET_API void ReplaceFileContents(const String& fileName, std::string_view bytes);

/// Bytes in memory.
class QNINET_API TMemoryStream : public TStream {
  QNINET_OBJECT(TMemoryStream, TStream)
public:
  Int64 Read(void* buffer, Int64 count) override;
  Int64 Write(const void* buffer, Int64 count) override;
  Int64 Seek(Int64 offset, TSeekOrigin origin) override;
  void SetSize(Int64 size) override;
  Int64 Size() override { return static_cast<Int64>(FData.size()); }
  /// Empties the stream.
  void Clear();
  /// The bytes, without a copy; valid until the next change.
  const Byte* Memory() const { return FData.data(); }
  /// The bytes as a byte string, without a copy; valid until the next change.
  std::string_view Bytes() const { return {reinterpret_cast<const char*>(FData.data()), FData.size()}; }
  /// Replaces the contents by the file's bytes.
  void LoadFromFile(const String& fileName);
  /// Writes the contents to the file, replacing it.
  void SaveToFile(const String& fileName);
  /// Replaces the contents by the bytes of `stream` from its start.
  void LoadFromStream(TStream& stream);
  /// Writes the contents into `stream`.
  void SaveToStream(TStream& stream);

private:
  std::vector<Byte> FData;
  std::size_t FPosition = 0;
};

/// A memory stream seen as a byte-string: each byte is one character of `DataString`.
class QNINET_API TStringStream : public TMemoryStream {
  QNINET_OBJECT(TStringStream, TMemoryStream)
public:
  TStringStream() = default;
  /// The stream holds the low byte of each character of `data`.
  explicit TStringStream(const String& data);
  /// The stream holds `bytes`.
  explicit TStringStream(std::string_view bytes);
  /// The bytes, one character each.
  String DataString() const { return FromBytes(Bytes()); }
};

}  // namespace qninet
