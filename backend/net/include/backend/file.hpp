#pragma once
// A named blob of bytes (at most 10 MiB) that data objects can hold in a
// field. A new file keeps its bytes in a staging file until it is saved:
// saving asks the backend for an upload slot ("upload_file") and posts the
// bytes as a multipart form to the storage URL it hands out. A file that came
// from the server knows its name and URL; reading its data downloads the
// bytes once into the file cache. All callers waiting on one file share one
// transfer. Thread-safe.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend/net/input_stream.hpp"
#include "backend/net/key_value_cache.hpp"
#include "backend/task.hpp"
#include "platform/value.hpp"

namespace backend {

namespace http {
class Operation;
}
namespace net {
class HTTPCommand;
}

class File final : public platform::SharedObject {
  struct Private {};

 public:
  static constexpr std::int64_t kMaxFileBytes = 10485760;
  enum class State { Local = 0, Saving = 1, Remote = 2, Fetching = 3 };
  // Receives a percentage (0 to 100) on the main queue.
  using ProgressBlock = std::function<void(int percent)>;
  using Data = std::shared_ptr<net::MemoryMappedFile>;
  using BoolCallback = std::function<void(bool succeeded, const std::optional<platform::Error>& error)>;
  using DataCallback = std::function<void(const Data& data, const std::optional<platform::Error>& error)>;
  using StreamCallback =
      std::function<void(const std::shared_ptr<net::InputStream>& stream, const std::optional<platform::Error>& error)>;

  // A local file of these bytes, written atomically to its staging path.
  // Raise InvalidArgumentException "BEFile cannot be larger than 10485760
  // bytes" for more bytes than that.
  static std::shared_ptr<File> fileWithData(std::string_view bytes);
  static std::shared_ptr<File> fileWithName(std::optional<std::string> name, std::string_view bytes);
  // A local file with a copy of the file at `path`. Raise
  // InvalidArgumentException "<path> is not a valid file path" unless it
  // names an existing file that is not a directory, the size message above,
  // and "Could not access file <path>: <reason>" when it cannot be copied.
  static std::shared_ptr<File> fileWithNameContentsAtPath(std::optional<std::string> name,
                                                          const std::filesystem::path& path);
  // A file on the server (remote) when the URL is given, else a local one
  // without bytes.
  static std::shared_ptr<File> fileWithNameURL(std::optional<std::string> name, std::optional<std::string> url);
  File(std::optional<std::string> name, std::optional<std::string> url, Private);
  // A file without a URL deletes its staging file.
  ~File() override;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // The same name and URL; a file without URL also gets a copy of the
  // staged bytes.
  std::shared_ptr<File> copy() const;

  // Uploads a local file (concurrent saves share one upload); a remote one
  // answers true at once. Fails with the "upload_file" command's error, or
  // code 100 "Upload failed." when five form posts failed; cancelled by
  // cancel(). Upload progress goes to the first saver's block.
  Task<bool> saveAsync(ProgressBlock progress = nullptr);
  // Blocks until saved; false with *error set on failure.
  bool save(std::optional<platform::Error>* error = nullptr);
  void saveInBackground();
  // `block` runs on the main thread.
  void saveInBackgroundWithBlock(BoolCallback block, ProgressBlock progress = nullptr);

  // The bytes of a remote file, downloaded into the cache unless already
  // there (concurrent reads share one download). Raise
  // InternalInconsistencyException "This file is not ready to be fetched."
  // for a local or saving file. Fails with code 100 "Download failed." when
  // the server answered no file (five transfer failures, or an HTTP error
  // status), or at once for a URL that is neither http nor https.
  Task<Data> getDataAsync(ProgressBlock progress = nullptr);
  Task<std::shared_ptr<net::InputStream>> getDataStreamAsync(ProgressBlock progress = nullptr);
  // Blocking reads: a local file's staged bytes, or the downloaded ones;
  // nullptr (with *error set when the download failed) when unavailable.
  Data getData(std::optional<platform::Error>* error = nullptr);
  std::shared_ptr<net::InputStream> getDataStream(std::optional<platform::Error>* error = nullptr);
  // `block` runs on the main thread.
  void getDataInBackgroundWithBlock(DataCallback block, ProgressBlock progress = nullptr);
  void getDataStreamInBackgroundWithBlock(StreamCallback block, ProgressBlock progress = nullptr);

  // Stops a running save or download; its waiting callers are cancelled and
  // the file returns to the state it had before.
  void cancel();

  // True until the file has been saved (local state).
  bool isDirty() const;
  // Local, or its cache file exists.
  bool isDataAvailable() const;
  std::optional<std::string> name() const;
  std::optional<std::string> url() const;
  State state() const;
  // The type set with setMimeType, else from the name's extension;
  // "application/octet-stream" without either.
  std::string getMimeType() const;
  // The type sent with the upload, instead of the one the name suggests.
  void setMimeType(std::string mimeType);
  // Deletes every cached file.
  static void clearCache();
  // The name a file at `url` is cached under: the last component of the
  // URL's path, made safe as a single file name.
  static std::string fileNameForURL(std::string_view url);

  std::string description() const override;

 private:
  struct Outcome;
  struct UploadSlot;

  void setState(State state, const Outcome& outcome);
  void setStateUnlocked(State state, const Outcome& outcome);
  void revertState(const Outcome& outcome);
  void startUpload(const ProgressBlock& progress);
  void uploadSlotReceived(const platform::Value& answer, const ProgressBlock& progress, std::uint64_t generation);
  void postForm(const UploadSlot& slot, const ProgressBlock& progress, std::uint64_t generation);
  platform::Value postFormOnce(const UploadSlot& slot, const ProgressBlock& progress, std::uint64_t generation);
  Task<bool> fetchDataAsync(const ProgressBlock& progress);
  void download(const ProgressBlock& progress, std::uint64_t generation);
  platform::Value downloadOnce(const ProgressBlock& progress, std::uint64_t generation,
                               std::optional<platform::Error>& failure);
  Task<bool> ensureDataIsCachedAsync();
  std::optional<std::filesystem::path> dataPath() const;
  bool isDataAvailableUnlocked() const;
  bool isCurrentTransfer(std::uint64_t generation) const;

  mutable std::recursive_mutex monitor_;
  State previousState_ = State::Local;
  State state_ = State::Local;
  std::vector<TaskCompletionSource<bool>> taskCompletionSources_;
  std::shared_ptr<net::HTTPCommand> currentTransferCommand_;
  std::optional<std::string> name_;
  std::optional<std::string> url_;
  std::optional<std::string> mimeType_;
  std::shared_ptr<http::Operation> cancellationToken_;
  // Chosen once, for files without a URL: the name may change on upload.
  std::filesystem::path stagingPath_;
  // Counts transfers started; a transfer that finds a newer one running
  // leaves the file alone.
  std::uint64_t transferGeneration_ = 0;
};

using FilePtr = std::shared_ptr<File>;

}  // namespace backend
