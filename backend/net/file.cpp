#include "backend/file.hpp"

#include <algorithm>

#include "backend/http/operation.hpp"
#include "backend/http/url.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/net/command.hpp"
#include "backend/net/command_runners.hpp"
#include "file_locations.hpp"
#include "file_transfer_queue.hpp"
#include "http_command.hpp"
#include "mime_types.hpp"
#include "multipart_request.hpp"
#include "platform/exceptions.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"

namespace backend {
namespace {

constexpr int kTransferAttempts = 5;
// Form bodies are counted in 31 bits on the wire side.
constexpr std::uint64_t kMaxStagedBytes = 2147483647;

platform::Error uploadFailed() { return InternalUtils::errorWithCode(kErrorConnectionFailed, "Upload failed."); }

platform::Error downloadFailed(bool shouldLog = true) {
  return InternalUtils::errorWithCode(kErrorConnectionFailed, "Download failed.", shouldLog);
}

void checkSize(std::uint64_t size) {
  if (size > static_cast<std::uint64_t>(File::kMaxFileBytes)) {
    throw platform::InvalidArgumentException("BEFile cannot be larger than " + std::to_string(File::kMaxFileBytes) +
                                             " bytes");
  }
}

bool isDownloadableURL(const std::string& url) {
  auto parts = http::parseURL(url);
  if (!parts) return false;
  std::string scheme = parts->scheme;
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme == "http" || scheme == "https";
}

void reportProgress(const File::ProgressBlock& progress, int percent) {
  if (progress) platform::mainQueue().post([progress, percent] { progress(percent); });
}

}  // namespace

// How waiting callers are completed: with the result when given, else the
// exception, else the error, else as cancelled.
struct File::Outcome {
  std::optional<bool> result;
  std::optional<platform::Error> error;
  std::exception_ptr exception;
};

// The "upload_file" answer.
struct File::UploadSlot {
  std::optional<std::string> name;
  std::string url;
  std::string postURL;
  platform::Dictionary postParams;
};

// ---- Creating -----------------------------------------------------------------

File::File(std::optional<std::string> name, std::optional<std::string> url, Private)
    : state_(url ? State::Remote : State::Local), name_(std::move(name)), url_(std::move(url)) {
  previousState_ = state_;
  if (!url_) stagingPath_ = file_locations::stagingPath(this, name_);
}

File::~File() {
  if (stagingPath_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(stagingPath_, ignored);
}

std::shared_ptr<File> File::fileWithData(std::string_view bytes) { return fileWithName(std::nullopt, bytes); }

std::shared_ptr<File> File::fileWithName(std::optional<std::string> name, std::string_view bytes) {
  checkSize(bytes.size());
  auto file = std::make_shared<File>(std::move(name), std::nullopt, Private{});
  if (auto error = platform::writeFileAtomically(file->stagingPath_, bytes, 0600)) {
    throw platform::InvalidArgumentException("Could not access file " + file->stagingPath_.string() + ": " +
                                             error.message());
  }
  return file;
}

std::shared_ptr<File> File::fileWithNameContentsAtPath(std::optional<std::string> name,
                                                       const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) {
    throw platform::InvalidArgumentException(path.string() + " is not a valid file path");
  }
  const auto size = std::filesystem::file_size(path, error);
  if (error) throw platform::InvalidArgumentException("Could not access file " + path.string() + ": " + error.message());
  checkSize(size);
  auto file = std::make_shared<File>(std::move(name), std::nullopt, Private{});
  std::filesystem::copy_file(path, file->stagingPath_, std::filesystem::copy_options::overwrite_existing, error);
  if (error) throw platform::InvalidArgumentException("Could not access file " + path.string() + ": " + error.message());
  return file;
}

std::shared_ptr<File> File::fileWithNameURL(std::optional<std::string> name, std::optional<std::string> url) {
  return std::make_shared<File>(std::move(name), std::move(url), Private{});
}

std::shared_ptr<File> File::copy() const {
  std::lock_guard lock(monitor_);
  auto file = std::make_shared<File>(name_, url_, Private{});
  file->mimeType_ = mimeType_;
  if (!url_) {
    std::error_code ignored;
    std::filesystem::copy_file(stagingPath_, file->stagingPath_, std::filesystem::copy_options::overwrite_existing,
                               ignored);
  }
  return file;
}

// ---- State --------------------------------------------------------------------

void File::setState(State state, const Outcome& outcome) {
  std::lock_guard lock(monitor_);
  setStateUnlocked(state, outcome);
}

void File::setStateUnlocked(State state, const Outcome& outcome) {
  if (state != state_) {
    previousState_ = state_;
    state_ = state;
  }
  if (state == State::Saving || state == State::Fetching) return;
  cancellationToken_.reset();
  currentTransferCommand_.reset();
  auto sources = std::move(taskCompletionSources_);
  taskCompletionSources_.clear();
  for (const auto& source : sources) {
    if (outcome.result) {
      source.trySetResult(*outcome.result);
    } else if (outcome.exception) {
      source.trySetException(outcome.exception);
    } else if (outcome.error) {
      source.trySetError(*outcome.error);
    } else {
      source.trySetCancelled();
    }
  }
}

void File::revertState(const Outcome& outcome) {
  std::lock_guard lock(monitor_);
  setStateUnlocked(previousState_, outcome);
}

bool File::isCurrentTransfer(std::uint64_t generation) const {
  return generation == transferGeneration_ && (state_ == State::Saving || state_ == State::Fetching);
}

void File::cancel() {
  std::lock_guard lock(monitor_);
  if (cancellationToken_) cancellationToken_->cancel();
  if (currentTransferCommand_) currentTransferCommand_->cancel();
  // An idle file has nothing to go back to.
  if (state_ == State::Saving || state_ == State::Fetching) setStateUnlocked(previousState_, Outcome{});
}

// ---- Saving -------------------------------------------------------------------

Task<bool> File::saveAsync(ProgressBlock progress) {
  std::lock_guard lock(monitor_);
  if (state_ == State::Remote || state_ == State::Fetching) return Task<bool>::taskWithResult(true);
  TaskCompletionSource<bool> source;
  taskCompletionSources_.push_back(source);
  if (state_ != State::Saving) {
    setStateUnlocked(State::Saving, Outcome{});
    cancellationToken_ = http::BlockOperation::create([] {});
    startUpload(progress);
  }
  return source.task();
}

void File::startUpload(const ProgressBlock& progress) {
  const std::uint64_t generation = ++transferGeneration_;
  platform::Dictionary params;
  if (name_) params.set("name", *name_);
  auto self = std::static_pointer_cast<File>(shared_from_this());
  try {
    auto command = net::Command::commandWithServerOperation("upload_file", platform::Value(std::move(params)),
                                                            currentSessionToken());
    net::RetryingCommandRunner::runCommandAsync(command, cancellationToken_)
        .continueWith([self, progress, generation](const Task<net::CommandResult>& task) {
          std::lock_guard lock(self->monitor_);
          if (!self->isCurrentTransfer(generation)) return;
          if (task.isCancelled() || task.isFaulted()) {
            return self->setStateUnlocked(self->previousState_, Outcome{std::nullopt, task.error(), task.exception()});
          }
          self->uploadSlotReceived(task.result().result, progress, generation);
        });
  } catch (...) {
    setStateUnlocked(previousState_, Outcome{std::nullopt, std::nullopt, std::current_exception()});
  }
}

// Under the monitor.
void File::uploadSlotReceived(const platform::Value& answer, const ProgressBlock& progress, std::uint64_t generation) {
  const platform::Value name = answer["name"], url = answer["url"], postURL = answer["post_url"];
  const platform::Value postParams = answer["post_params"];
  const platform::Dictionary* params = postParams.dictionary();
  const bool stringParams = params && std::all_of(params->begin(), params->end(), [](const auto& entry) {
    return entry.second.isString();
  });
  if (!url.isString() || !postURL.isString() || !stringParams) {
    platform::log("The upload slot lacks \"url\", \"post_url\" or string \"post_params\"");
    return setStateUnlocked(previousState_, Outcome{std::nullopt, uploadFailed(), nullptr});
  }
  UploadSlot slot;
  if (name.isString()) {
    name_ = *name.string();
    slot.name = name_;
  }
  slot.url = *url.string();
  slot.postURL = *postURL.string();
  slot.postParams = *params;
  auto self = std::static_pointer_cast<File>(shared_from_this());
  FileTransferQueue::shared().post([self, slot = std::move(slot), progress, generation] {
    self->postForm(slot, progress, generation);
  });
}

void File::postForm(const UploadSlot& slot, const ProgressBlock& progress, std::uint64_t generation) {
  platform::Value posted;
  try {
    posted = net::BlockRetryer::retryBlock([&] { return postFormOnce(slot, progress, generation); }, kTransferAttempts).go();
  } catch (...) {
    std::lock_guard lock(monitor_);
    if (isCurrentTransfer(generation))
      setStateUnlocked(previousState_, Outcome{std::nullopt, std::nullopt, std::current_exception()});
    return;
  }
  std::lock_guard lock(monitor_);
  // False: cancelled meanwhile, and its callers were completed then.
  if (!isCurrentTransfer(generation) || posted == platform::Value(false)) return;
  if (posted.isNil()) return setStateUnlocked(previousState_, Outcome{std::nullopt, uploadFailed(), nullptr});
  if (slot.name) name_ = slot.name;
  url_ = slot.url;
  // The uploaded bytes become the cached copy, so reading needs no download.
  std::error_code error;
  std::filesystem::rename(stagingPath_, *file_locations::cachePathForURL(url_), error);
  if (error) std::filesystem::remove(stagingPath_, error);
  stagingPath_.clear();
  setStateUnlocked(State::Remote, Outcome{true, std::nullopt, nullptr});
}

platform::Value File::postFormOnce(const UploadSlot& slot, const ProgressBlock& progress, std::uint64_t generation) {
  std::shared_ptr<net::HTTPCommand> command;
  std::filesystem::path staged;
  std::string mimeType;
  {
    std::lock_guard lock(monitor_);
    const bool commandCancelled =
        currentTransferCommand_ && currentTransferCommand_->status() == net::HTTPCommand::kStatusCancelled;
    if (!isCurrentTransfer(generation) || cancellationToken_->isCancelled() || commandCancelled) {
      return platform::Value(false);
    }
    command = net::HTTPCommand::postCommandWithURL(slot.postURL);
    currentTransferCommand_ = command;
    staged = stagingPath_;
    mimeType = mimeType_ ? *mimeType_ : mimeTypeForFileName(name_);
  }
  std::string openError;
  auto stream = net::FileInputStream::open(staged, &openError);
  if (!stream) {
    platform::log("Could not read the staged file " + staged.string() + ": " + openError);
    return platform::Value();
  }
  const std::uint64_t size = stream->size();
  if (size >= kMaxStagedBytes) throw platform::InternalInconsistencyException("Unsupported file size > 2GB");
  auto form = std::make_shared<net::MultipartRequest>();
  form->appendParts(slot.postParams);
  form->appendPartWithName("Content-Type", mimeType);
  form->appendPartWithName("file", std::move(stream), size);
  command->setRequest(form);
  command->setUploadProgressBlock(progress);
  command->setUsePersistentConnection(false);
  command->send();
  return command->status() == net::HTTPCommand::kStatusSuccess ? platform::Value(true) : platform::Value();
}

bool File::save(std::optional<platform::Error>* error) { return saveAsync().waitForResult(error); }

void File::saveInBackground() { saveAsync(); }

void File::saveInBackgroundWithBlock(BoolCallback block, ProgressBlock progress) {
  saveAsync(std::move(progress)).thenCallBackOnMainThreadWithBoolValueAsync(std::move(block));
}

// ---- Reading ------------------------------------------------------------------

Task<bool> File::fetchDataAsync(const ProgressBlock& progress) {
  std::lock_guard lock(monitor_);
  if (isDataAvailableUnlocked()) {
    reportProgress(progress, 100);
    return Task<bool>::taskWithResult(true);
  }
  if (!url_ || !isDownloadableURL(*url_)) {
    return Task<bool>::taskWithError(InternalUtils::errorWithCode(
        kErrorConnectionFailed, "Download failed: only http and https file URLs can be downloaded."));
  }
  TaskCompletionSource<bool> source;
  taskCompletionSources_.push_back(source);
  if (state_ != State::Fetching) {
    setStateUnlocked(State::Fetching, Outcome{});
    const std::uint64_t generation = ++transferGeneration_;
    auto self = std::static_pointer_cast<File>(shared_from_this());
    FileTransferQueue::shared().post([self, progress, generation] { self->download(progress, generation); });
  }
  return source.task();
}

void File::download(const ProgressBlock& progress, std::uint64_t generation) {
  std::optional<platform::Error> failure;
  platform::Value downloaded;
  try {
    downloaded = net::BlockRetryer::retryBlock([&] { return downloadOnce(progress, generation, failure); },
                                               kTransferAttempts)
                     .go();
  } catch (...) {
    std::lock_guard lock(monitor_);
    if (isCurrentTransfer(generation))
      setStateUnlocked(State::Remote, Outcome{std::nullopt, std::nullopt, std::current_exception()});
    return;
  }
  std::lock_guard lock(monitor_);
  if (!isCurrentTransfer(generation)) return;
  if (downloaded == platform::Value(true)) return setStateUnlocked(State::Remote, Outcome{true, std::nullopt, nullptr});
  setStateUnlocked(State::Remote, Outcome{std::nullopt, failure.value_or(downloadFailed()), nullptr});
}

platform::Value File::downloadOnce(const ProgressBlock& progress, std::uint64_t generation,
                                   std::optional<platform::Error>& failure) {
  std::shared_ptr<net::HTTPCommand> command;
  std::filesystem::path target;
  {
    std::lock_guard lock(monitor_);
    const bool commandCancelled =
        currentTransferCommand_ && currentTransferCommand_->status() == net::HTTPCommand::kStatusCancelled;
    if (!isCurrentTransfer(generation) || commandCancelled) return platform::Value(false);
    command = net::HTTPCommand::getCommandWithURL(*url_);
    currentTransferCommand_ = command;
    target = *file_locations::cachePathForURL(url_);
  }
  command->response().setProgressBlock(progress);
  command->response().streamBodyToPath(target);
  command->send();
  const std::string& description = command->response().headers().statusDescription();
  if (auto error = command->networkError()) {
    platform::log("Failed download from file storage. Going to try again. Response: " + description +
                  ", Error: " + error->description());
    failure = downloadFailed(false);
    return platform::Value();
  }
  switch (command->status()) {
    case net::HTTPCommand::kStatusSuccess:
      return platform::Value(true);
    case net::HTTPCommand::kStatusCancelled:
      return platform::Value(false);
    default: {
      // The server answered without the file: an error page is no file's
      // bytes. Only a server in trouble (5xx) is worth another try.
      const int code = command->response().headers().statusCode();
      platform::log("Failed download from file storage. Response: " + std::to_string(code) + " " + description);
      failure = downloadFailed(false);
      return code >= 500 ? platform::Value() : platform::Value(false);
    }
  }
}

Task<File::Data> File::getDataAsync(ProgressBlock progress) {
  {
    std::lock_guard lock(monitor_);
    if (state_ != State::Remote && state_ != State::Fetching)
      throw platform::InternalInconsistencyException("This file is not ready to be fetched.");
  }
  auto self = std::static_pointer_cast<File>(shared_from_this());
  return fetchDataAsync(progress).onSuccess([self](const Task<bool>&) -> Task<Data> {
    auto path = self->dataPath();
    auto mapped = path ? net::MemoryMappedFile::map(*path) : nullptr;
    if (!mapped) return Task<Data>::taskWithError(downloadFailed());
    return Task<Data>::taskWithResult(std::move(mapped));
  });
}

Task<std::shared_ptr<net::InputStream>> File::getDataStreamAsync(ProgressBlock progress) {
  {
    std::lock_guard lock(monitor_);
    if (state_ != State::Remote && state_ != State::Fetching)
      throw platform::InternalInconsistencyException("This file is not ready to be fetched.");
  }
  auto self = std::static_pointer_cast<File>(shared_from_this());
  return fetchDataAsync(progress).onSuccess([self](const Task<bool>&) -> Task<std::shared_ptr<net::InputStream>> {
    auto path = self->dataPath();
    std::shared_ptr<net::InputStream> stream = path ? net::FileInputStream::open(*path) : nullptr;
    if (!stream) return Task<std::shared_ptr<net::InputStream>>::taskWithError(downloadFailed());
    return Task<std::shared_ptr<net::InputStream>>::taskWithResult(std::move(stream));
  });
}

Task<bool> File::ensureDataIsCachedAsync() {
  auto self = std::static_pointer_cast<File>(shared_from_this());
  return fetchDataAsync(nullptr).continueWith([self](const Task<bool>& fetched) -> Task<bool> {
    if (fetched.isFaulted() || fetched.isCancelled()) return fetched;
    return Task<bool>::taskWithResult(self->isDataAvailable());
  });
}

File::Data File::getData(std::optional<platform::Error>* error) {
  if (!ensureDataIsCachedAsync().waitForResult(error)) return nullptr;
  auto path = dataPath();
  return path ? net::MemoryMappedFile::map(*path) : nullptr;
}

std::shared_ptr<net::InputStream> File::getDataStream(std::optional<platform::Error>* error) {
  if (!ensureDataIsCachedAsync().waitForResult(error)) return nullptr;
  auto path = dataPath();
  return path ? std::shared_ptr<net::InputStream>(net::FileInputStream::open(*path)) : nullptr;
}

void File::getDataInBackgroundWithBlock(DataCallback block, ProgressBlock progress) {
  getDataAsync(std::move(progress)).thenCallBackOnMainThreadAsync(std::move(block));
}

void File::getDataStreamInBackgroundWithBlock(StreamCallback block, ProgressBlock progress) {
  getDataStreamAsync(std::move(progress)).thenCallBackOnMainThreadAsync(std::move(block));
}

// ---- Facts --------------------------------------------------------------------

// Staged bytes while not on the server, else the cache file.
std::optional<std::filesystem::path> File::dataPath() const {
  std::lock_guard lock(monitor_);
  if (!stagingPath_.empty()) return stagingPath_;
  return file_locations::cachePathForURL(url_);
}

bool File::isDataAvailableUnlocked() const {
  if (state_ == State::Local || state_ == State::Saving) return true;
  auto path = file_locations::cachePathForURL(url_);
  std::error_code ignored;
  return path && std::filesystem::is_regular_file(*path, ignored);
}

bool File::isDirty() const {
  std::lock_guard lock(monitor_);
  return state_ == State::Local;
}

bool File::isDataAvailable() const {
  std::lock_guard lock(monitor_);
  return isDataAvailableUnlocked();
}

std::optional<std::string> File::name() const {
  std::lock_guard lock(monitor_);
  return name_;
}

std::optional<std::string> File::url() const {
  std::lock_guard lock(monitor_);
  return url_;
}

File::State File::state() const {
  std::lock_guard lock(monitor_);
  return state_;
}

std::string File::getMimeType() const {
  std::lock_guard lock(monitor_);
  return mimeType_ ? *mimeType_ : mimeTypeForFileName(name_);
}

void File::setMimeType(std::string mimeType) {
  std::lock_guard lock(monitor_);
  mimeType_ = std::move(mimeType);
}

std::string File::fileNameForURL(std::string_view url) {
  return file_locations::safeFileName(file_locations::lastPathComponentOfURL(url));
}

void File::clearCache() { InternalUtils::deleteDirectoryContents(file_locations::cacheDirectory()); }

std::string File::description() const {
  std::lock_guard lock(monitor_);
  return "<BEFile name=" + name_.value_or("(null)") + " url=" + url_.value_or("(null)") + ">";
}

}  // namespace backend
