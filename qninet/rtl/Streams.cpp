#include "qninet/rtl/Streams.h"

#include <algorithm>
#include <cstring>

#include "qninet/sys/FileReplace.h"
#include "qninet/sys/Files.h"

namespace qninet {

QNINET_CLASS_INFO(TStream)
QNINET_CLASS_INFO(TFileStream)
QNINET_CLASS_INFO(TMemoryStream)
QNINET_CLASS_INFO(TStringStream)

Int64 TStream::Size() {
  const Int64 pos = Seek(0, soCurrent);
  const Int64 size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(Int64) { throw EStreamError(u"Stream size cannot be changed"); }

void TStream::ReadBuffer(void* buffer, Int64 count) {
  auto* p = static_cast<char*>(buffer);
  while (count > 0) {
    const Int64 n = Read(p, count);
    if (n <= 0) throw EReadError(u"Stream read error");
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, Int64 count) {
  const auto* p = static_cast<const char*>(buffer);
  while (count > 0) {
    const Int64 n = Write(p, count);
    if (n <= 0) throw EWriteError(u"Stream write error");
    p += n;
    count -= n;
  }
}

Int64 TStream::CopyFrom(TStream& source, Int64 count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr Int64 kBlock = 64 * 1024;
  std::vector<char> buf(static_cast<std::size_t>(std::min(count, kBlock)));
  Int64 done = 0;
  while (done < count) {
    const Int64 n = std::min(kBlock, count - done);
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    done += n;
  }
  return done;
}

TFileStream::TFileStream(const String& fileName, TFileMode mode) : FFileName(fileName) {
  sys::FileOpenMode m = sys::FileOpenMode::Read;
  switch (mode) {
    case fmCreate:
      m = sys::FileOpenMode::Create;
      break;
    case fmOpenRead:
      m = sys::FileOpenMode::Read;
      break;
    case fmOpenWrite:
      m = sys::FileOpenMode::Write;
      break;
    case fmOpenReadWrite:
      m = sys::FileOpenMode::ReadWrite;
      break;
  }
  auto handle = std::make_unique<sys::FileHandle>();
  if (const auto opened = handle->Open(ToUtf8(fileName), m); !opened) {
    const String& reason = opened.failure().Text;
    if (mode == fmCreate) throw EFCreateError(Format(u"Cannot create file \"%s\". %s", fileName, reason));
    throw EFOpenError(Format(u"Cannot open file \"%s\". %s", fileName, reason));
  }
  FHandle = std::move(handle);
}

TFileStream::~TFileStream() = default;

Int64 TFileStream::Read(void* buffer, Int64 count) { return FHandle->Read(buffer, count); }
Int64 TFileStream::Write(const void* buffer, Int64 count) { return FHandle->Write(buffer, count); }
Int64 TFileStream::Seek(Int64 offset, TSeekOrigin origin) {
  return FHandle->Seek(offset, static_cast<int>(origin));
}
void TFileStream::SetSize(Int64 size) {
  if (!FHandle->Truncate(size)) throw EStreamError(u"Stream size cannot be changed");
}
void TFileStream::Flush() {
  if (!FHandle->Sync()) throw EWriteError(Format(u"Cannot write file \"%s\"", FFileName));
}

Int64 TMemoryStream::Read(void* buffer, Int64 count) {
  if (count <= 0 || FPosition >= FData.size()) return 0;
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), FData.size() - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, n);
  FPosition += n;
  return static_cast<Int64>(n);
}

Int64 TMemoryStream::Write(const void* buffer, Int64 count) {
  if (count <= 0) return 0;
  const std::size_t n = static_cast<std::size_t>(count);
  if (FPosition + n > FData.size()) FData.resize(FPosition + n);
  std::memcpy(FData.data() + FPosition, buffer, n);
  FPosition += n;
  return count;
}

Int64 TMemoryStream::Seek(Int64 offset, TSeekOrigin origin) {
  Int64 base = 0;
  if (origin == soCurrent)
    base = static_cast<Int64>(FPosition);
  else if (origin == soEnd)
    base = static_cast<Int64>(FData.size());
  const Int64 pos = base + offset;
  if (pos >= 0) FPosition = static_cast<std::size_t>(pos);
  return static_cast<Int64>(FPosition);
}

void TMemoryStream::SetSize(Int64 size) {
  FData.resize(static_cast<std::size_t>(std::max<Int64>(size, 0)));
  FPosition = std::min(FPosition, FData.size());
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  const Int64 size = stream.Size();
  SetSize(size);
  FPosition = 0;
  if (size > 0) stream.ReadBuffer(FData.data(), size);
}

void TMemoryStream::SaveToStream(TStream& stream) {
  if (!FData.empty()) stream.WriteBuffer(FData.data(), static_cast<Int64>(FData.size()));
}

void TMemoryStream::LoadFromFile(const String& fileName) {
  TFileStream f(fileName, fmOpenRead);
  LoadFromStream(f);
}

void TMemoryStream::SaveToFile(const String& fileName) {
  TFileStream f(fileName, fmCreate);
  SaveToStream(f);
}

void ReplaceFileContents(const String& fileName, std::string_view bytes) {
  if (const auto done = sys::replace_file_contents(ToUtf8(fileName), bytes); !done)
    throw EFCreateError(Format(u"Cannot replace file \"%s\". %s", fileName, String(done.failure().Text)));
}

TStringStream::TStringStream(const String& data) {
  const std::string bytes = ToBytes(data);
  Write(bytes.data(), static_cast<Int64>(bytes.size()));
  SetPosition(0);
}

TStringStream::TStringStream(std::string_view bytes) {
  Write(bytes.data(), static_cast<Int64>(bytes.size()));
  SetPosition(0);
}

}  // namespace qninet
