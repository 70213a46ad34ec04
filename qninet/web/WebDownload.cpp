#include "qninet/web/WebDownload.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "qninet/sys/FileReplace.h"
#include "qninet/sys/Files.h"
#include "qninet/web/QNInStat.h"
#include "qninet/web/UpdatePin.h"

namespace qninet {
namespace {

constexpr std::size_t kWriteBehind = 64 * 1024;
// The disk is asked to write each stretch of this size as soon as it is complete, and a thread
// of the file flushes what is written so far, so the flush before the rename waits for the last
// stretch only: flushing a whole large file at the end (the device's cache as well) costs as
// much as a quarter of the download on a disk as fast as the network.
constexpr std::int64_t kWriteBackStep = 8 * 1024 * 1024;

// Flushes a file on a thread of its own while the download goes on. A failed flush is kept: the
// system reports a write error to one flush only, and the final one must not miss it.
class BackgroundFlush {
public:
  explicit BackgroundFlush(sys::FileHandle& file) : FFile(file) {}
  ~BackgroundFlush() { Stop(); }
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;
  void Request() noexcept {
    try {
      if (!FThread.joinable()) FThread = std::thread([this] { run(); });
    } catch (...) {
      return;  // no thread: the final flush does it all
    }
    const std::lock_guard<std::mutex> lock(FMutex);
    FWanted = true;
    FChanged.notify_one();
  }
  /// Ends the thread after its flush in progress; false when one of its flushes failed.
  bool Stop() noexcept {
    if (FThread.joinable()) {
      {
        const std::lock_guard<std::mutex> lock(FMutex);
        FStop = true;
        FChanged.notify_one();
      }
      FThread.join();
    }
    return !FFailed;
  }

private:
  void run() {
    std::unique_lock<std::mutex> lock(FMutex);
    for (;;) {
      FChanged.wait(lock, [this] { return FWanted || FStop; });
      if (FStop) return;
      FWanted = false;
      lock.unlock();
      if (!FFile.Sync()) FFailed = true;
      lock.lock();
    }
  }
  sys::FileHandle& FFile;
  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FWanted = false;
  bool FStop = false;
  std::atomic<bool> FFailed = false;
  std::thread FThread;
};

// A file written through a buffer of its own, so the disk sees large writes while the engine
// works in small blocks; the source reads each block straight into that buffer. A resumable
// file is stamped with the remote time after every write, so even a killed run leaves a partial
// file that says which version it holds.
class LocalFile {
public:
  LocalFile(std::string path, TFileTime stamp)
      : FPath(std::move(path)), FStamp(stamp), FBuffer(std::make_unique<char[]>(kWriteBehind)) {}
  void Open(bool append) {
    const auto mode = append ? sys::FileOpenMode::ReadWrite : sys::FileOpenMode::Create;
    if (const auto opened = FFile.Open(FPath, mode); !opened)
      throw EFCreateError(Format(u"Cannot create file \"%s\". %s", FromUtf8(FPath), opened.failure().Text));
    FSize = append ? std::max<std::int64_t>(FFile.Seek(0, 2), 0) : 0;
    FWrittenBack = FSize;
    stamp();
  }
  std::uint64_t Size() const { return static_cast<std::uint64_t>(FSize); }
  /// Room for the next `n` bytes (at most `kWriteBehind`) at the end of the buffer.
  char* Room(std::size_t n) {
    if (FUsed + n > kWriteBehind) Flush();
    return FBuffer.get() + FUsed;
  }
  /// The first `n` bytes of the room are part of the file now.
  void Took(std::size_t n) {
    FUsed += n;
    FSize += static_cast<std::int64_t>(n);
  }
  void Flush() {
    if (FUsed == 0) return;
    write_out(FBuffer.get(), FUsed);
    FUsed = 0;
  }
  /// Everything to the disk before the rename makes it the local file.
  void Commit() {
    Flush();
    const bool flushed = FFlusher.Stop();
    if (!flushed || !FFile.Sync()) throw EWriteError(Format(u"Cannot write file \"%s\"", FromUtf8(FPath)));
    FFile.Close();
  }
  void Close() noexcept {
    try {
      Flush();
    } catch (...) {
    }
    FFlusher.Stop();
    FFile.Close();
    stamp();
  }

private:
  void write_out(const char* data, std::size_t n) {
    for (std::size_t done = 0; done < n;) {
      const std::int64_t w = FFile.Write(data + done, static_cast<std::int64_t>(n - done));
      if (w <= 0) throw EWriteError(Format(u"Cannot write file \"%s\"", FromUtf8(FPath)));
      done += static_cast<std::size_t>(w);
    }
    if (FSize - FWrittenBack >= kWriteBackStep) {
      FFile.WriteBack(FWrittenBack, FSize - FWrittenBack);
      FWrittenBack = FSize;
      FFlusher.Request();
    }
    stamp();
  }
  void stamp() noexcept {
    // A partial file without its stamp is only started over by the next run, never taken whole.
    if (FStamp != 0) static_cast<void>(sys::set_file_write_time(FPath, FStamp));
  }
  std::string FPath;
  TFileTime FStamp;
  sys::FileHandle FFile;
  BackgroundFlush FFlusher{FFile};  // after FFile: ends before the file closes
  std::unique_ptr<char[]> FBuffer;
  std::size_t FUsed = 0;
  std::int64_t FSize = 0;
  std::int64_t FWrittenBack = 0;  ///< the disk was asked to write everything before this
};

// Whether a partial file from an earlier run belongs to this remote version and can go on.
bool can_continue(const std::string& part, const TQNDownloadJob& job) {
  if (!sys::file_exists(part)) return false;
  const auto size = sys::file_size(part).value_or(0);
  const auto time = sys::file_write_time(part);
  const bool sameVersion = job.RemoteTime == 0 || (time && *time == job.RemoteTime);
  const bool shorter =
      !progress_total_known(job.ExpectedSize) || static_cast<std::uint64_t>(size) < job.ExpectedSize;
  return size > 0 && sameVersion && shorter;
}

}  // namespace

TQNIOutcome DownloadToLocalFile(TQNWebSource& source, const TQNDownloadJob& job) {
  const std::string local = ToUtf8(job.LocalFileName);
  const std::string part = local + ".part";
  const bool append = job.Resume && can_continue(part, job);
  if (const TQNUpdatePin* pin = source.Connection().Pin; pin && !pin->Problem().empty())
    return TQNIOutcome::Failed(pin->Problem());  // nothing would ever verify: no transfer
  std::string tempPath = part;
  if (!job.Resume) {
    auto temp = sys::create_temp_beside(local);
    if (!temp) throw EFCreateError(String(temp.failure().Text));
    tempPath = *temp;
  }
  LocalFile dest(tempPath, job.Resume ? job.RemoteTime : 0);
  bool committed = false;
  auto discard = [&]() noexcept {
    dest.Close();
    if (!committed && !job.Resume) static_cast<void>(sys::remove_file(tempPath));
  };
  try {
    dest.Open(append);
    const std::uint64_t offset = dest.Size();
    if (auto opened = source.Open(offset); !opened) {
      discard();
      return opened;
    }
    bool abort = false;
    std::uint64_t total = 0;
    for (;;) {
      std::size_t count = 0;
      if (auto read = source.Read(dest.Room(kQNIBlockSize), kQNIBlockSize, count); !read) {
        // A reset, a close before the announced length or a time-out: not the end of the file.
        discard();
        return read;
      }
      if (count == 0) break;
      total += count;
      dest.Took(count);
      if (job.Progress) job.Progress(total, job.ExpectedSize, abort);
      if (abort || (job.Cancel && job.Cancel->load())) {
        discard();
        return TQNIOutcome::Cancelled(u"Cancelled");
      }
    }
    dest.Commit();
    // The one place a download becomes the local file: what is pinned is checked on the whole
    // file (a resumed one too) first, and a file that fails leaves nothing beside the old one.
    if (TQNUpdatePin* pin = source.Connection().Pin; pin && pin->Active()) {
      if (auto checked = pin->Check(source.Connection(), tempPath); !checked) {
        discard();
        if (job.Resume) static_cast<void>(sys::remove_file(tempPath));
        return checked;
      }
    }
    static_cast<void>(sys::copy_file_permissions(local, tempPath));  // a best effort, as a copy would
    // An unstamped file is compared as older by the next run and fetched again: no loss.
    if (job.RemoteTime != 0) static_cast<void>(sys::set_file_write_time(tempPath, job.RemoteTime));
    if (const auto renamed = sys::rename_file(tempPath, local); !renamed)
      throw EFCreateError(
          Format(u"Cannot replace file \"%s\". %s", job.LocalFileName, renamed.failure().Text));
    committed = true;
    // A partial file of an earlier resumable run is of no use beside the complete file.
    if (!job.Resume) static_cast<void>(sys::remove_file(part));
  } catch (...) {
    discard();
    throw;
  }
  return {};
}

}  // namespace qninet
