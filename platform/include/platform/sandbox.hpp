#pragma once
// The application's sandbox: one root directory per process under which all
// of its files live, plus the file helpers every layer uses to write there
// safely.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace platform {

class Sandbox {
 public:
  // The root in use: the one set with setRoot, else $XDG_DATA_HOME/vestavind-reader
  // (when XDG_DATA_HOME is an absolute path), else ~/.local/share/vestavind-reader.
  // Not created by this call. Thread-safe.
  static std::filesystem::path root();
  // Replaces the root (the --data-dir option, tests); an empty path restores
  // the default. Directories handed out earlier keep pointing at the old root.
  static void setRoot(std::filesystem::path root);
  // Changes with every setRoot, so a caller that keeps a path derived from
  // the root can tell cheaply that it may be stale. (Changes of the
  // environment behind the default root are not counted.)
  static std::uint64_t rootGeneration() noexcept;

  // <root>/Library, <root>/Library/Caches, <root>/Documents and <root>/tmp.
  // Each is created (with its parents) on every call when missing; creation
  // failures are logged and the path is returned anyway, so the caller's
  // own file operation reports the error.
  static std::filesystem::path library();
  static std::filesystem::path caches();
  static std::filesystem::path documents();
  static std::filesystem::path tmp();
};

// Replaces the file at `path` with `bytes` so that a crash at any moment
// leaves either the old or the new content: writes a temporary file in the
// same directory (created with `mode`, subject to the umask), fsyncs it,
// renames it over `path` and fsyncs the directory. The directory must exist.
// Returns an empty error_code on success; on failure the old file is intact
// and the temporary file is removed, except when only the final directory
// sync fails: the new content is then in place but may not survive a crash.
std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                    unsigned mode = 0644);

// As writeFileAtomically, without the directory sync (one fsync instead of
// two): a crash may lose the rename, never leave a torn file. For caches.
std::error_code replaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                      unsigned mode = 0644);

// As writeFileAtomically, but for a name that must be new: fails with
// std::errc::file_exists (leaving the existing file alone) when `path`
// exists, decided at the rename itself, so two writers never both win a name.
// Where the file system has no exclusive rename, the name is first claimed as
// an empty file, which a crash may leave behind.
std::error_code writeNewFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                       unsigned mode = 0644);

// Reads a whole file. nullopt when it cannot be opened or read (`error`, when
// given, says why; a missing file gives std::errc::no_such_file_or_directory).
std::optional<std::string> readFile(const std::filesystem::path& path, std::error_code* error = nullptr);

// True when `relative` names something inside a directory: not empty, not
// absolute, no NUL byte and no ".." component. Purely lexical: symbolic links
// inside the directory are trusted, since only this process writes there.
bool isSafeRelativePath(std::string_view relative);

// `directory / relative` when isSafeRelativePath(relative), else nullopt.
std::optional<std::filesystem::path> pathInside(const std::filesystem::path& directory,
                                                std::string_view relative);

// Marks a file or directory as not to be backed up, with the extended
// attribute "user.vestavind.exclude-from-backup" = "1". Returns false when
// the attribute cannot be set (for example a file system without user
// extended attributes, or a missing path).
bool setExcludedFromBackup(const std::filesystem::path& path);
// True when the attribute is present with the value "1".
bool isExcludedFromBackup(const std::filesystem::path& path);

// The attribute's name, for tools that copy or inspect the sandbox.
inline constexpr const char* kExcludeFromBackupAttribute = "user.vestavind.exclude-from-backup";

}  // namespace platform
