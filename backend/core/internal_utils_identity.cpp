// The installation id and UUIDs.

#include <cstring>
#include <mutex>
#include <optional>

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "backend/internal/internal_utils.hpp"
#include "platform/exceptions.hpp"
#include "platform/fork_generation.hpp"
#include "platform/hex.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"

namespace backend {
namespace {

struct InstallationIdState {
  std::mutex mutex;
  std::optional<std::string> id;
};

InstallationIdState& installationState() {
  static InstallationIdState state;
  return state;
}

bool isValidUTF8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    if (c < 0x80) {
      extra = 0;
    } else if ((c >> 5) == 6) {
      extra = 1;
    } else if ((c >> 4) == 14) {
      extra = 2;
    } else if ((c >> 3) == 30) {
      extra = 3;
    } else {
      return false;
    }
    if (extra > text.size() - i - 1) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    }
    i += extra + 1;
  }
  return true;
}

// Random bytes are drawn from the cryptographic source a block at a time:
// one draw per UUID cost more than the rest of building a save command. A
// forked child starts a new block, so it never repeats its parent's bytes.
constexpr std::size_t kRandomBlock = 1024;

struct RandomBlock {
  unsigned char bytes[kRandomBlock];
  std::size_t used = kRandomBlock;
  std::optional<unsigned> generation;
};

void drawRandomBytes(unsigned char (&out)[16]) {
  thread_local RandomBlock block;
  const auto generation = platform::forkGeneration();
  if (!generation || block.generation != generation || block.used + sizeof out > kRandomBlock) {
    if (RAND_bytes(block.bytes, kRandomBlock) != 1) throw platform::InternalInconsistencyException("No random bytes for a UUID.");
    block.used = 0;
    block.generation = generation;
  }
  std::memcpy(out, block.bytes + block.used, sizeof out);
  // Handed-out bytes do not stay in memory.
  OPENSSL_cleanse(block.bytes + block.used, sizeof out);
  block.used += sizeof out;
}

}  // namespace

std::string InternalUtils::installationId() {
  auto& state = installationState();
  std::lock_guard lock(state.mutex);
  if (state.id) return *state.id;
  const auto path = dataFilePath("installationId");
  std::error_code error;
  if (std::filesystem::exists(path, error)) {
    auto text = platform::readFile(path);
    // An undecodable file leaves the id empty for this process.
    state.id = text && isValidUTF8(*text) ? *text : std::string();
    return *state.id;
  }
  state.id = createUUID();
  if (auto writeError = platform::writeFileAtomically(path, *state.id)) {
    platform::log("Unable to write installationId file: " + writeError.message());
  } else {
    skipBackupOnPath(path);
  }
  return *state.id;
}

void InternalUtils::clearCachedInstallationId() {
  auto& state = installationState();
  std::lock_guard lock(state.mutex);
  state.id.reset();
}

void InternalUtils::clearInstallationId() {
  auto& state = installationState();
  std::lock_guard lock(state.mutex);
  std::error_code error;
  std::filesystem::remove(dataFilePath("installationId"), error);
  state.id.reset();
}

std::string InternalUtils::createUUID() {
  // Installation ids, command uuids and signature nonces must not collide
  // across devices: the bits come from the system's cryptographic source.
  unsigned char bytes[16];
  drawRandomBytes(bytes);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return platform::uuidText(bytes, platform::HexCase::upper);
}

}  // namespace backend
