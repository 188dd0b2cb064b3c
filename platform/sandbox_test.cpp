#include "platform/sandbox.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>
#include <fstream>

#include "support/scratch_directory.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;
using test_support::ScratchDirectory;

void writePlain(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

std::size_t entryCount(const fs::path& directory) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(directory)) ++count;
  return count;
}

TEST(Sandbox, DirectoriesAreCreatedBelowTheRootOnDemand) {
  ScratchDirectory scratch;
  Sandbox::setRoot(scratch / "root");
  EXPECT_EQ(Sandbox::root(), scratch / "root");
  EXPECT_TRUE(fs::is_directory(Sandbox::caches()));
  EXPECT_EQ(Sandbox::caches(), scratch / "root" / "Library" / "Caches");
  EXPECT_TRUE(fs::is_directory(Sandbox::documents()));
  EXPECT_TRUE(fs::is_directory(Sandbox::tmp()));
  EXPECT_TRUE(fs::is_directory(scratch / "root" / "Library"));
  Sandbox::setRoot({});
}

TEST(Sandbox, DefaultRootFollowsXdgDataHomeOnlyWhenAbsolute) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  std::string previous = saved ? saved : "";
  ::setenv("XDG_DATA_HOME", "/data/home", 1);
  EXPECT_EQ(Sandbox::root(), fs::path("/data/home/vestavind-reader"));
  ::setenv("XDG_DATA_HOME", "relative/dir", 1);
  EXPECT_EQ(Sandbox::root().filename(), "vestavind-reader");
  EXPECT_EQ(Sandbox::root().parent_path().filename(), "share");
  if (saved) {
    ::setenv("XDG_DATA_HOME", previous.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
}

TEST(AtomicWrite, ReplacesContentAndLeavesNoTemporaryFile) {
  ScratchDirectory scratch;
  fs::path file = scratch / "data";
  writePlain(file, "old content that is longer");
  ASSERT_FALSE(writeFileAtomically(file, "new"));
  EXPECT_EQ(readFile(file), "new");
  EXPECT_EQ(entryCount(scratch.path()), 1u);
}

TEST(AtomicWrite, AnInterruptedEarlierWriteDoesNotDisturbTheFile) {
  ScratchDirectory scratch;
  fs::path file = scratch / "data";
  ASSERT_FALSE(writeFileAtomically(file, "committed"));
  // What a crash between the temporary write and the rename leaves behind.
  writePlain(scratch / ".data.tmp-0123456789abcdef", "half writ");
  EXPECT_EQ(readFile(file), "committed");
  ASSERT_FALSE(writeFileAtomically(file, "next"));
  EXPECT_EQ(readFile(file), "next");
}

TEST(AtomicWrite, FailureKeepsTheOldFileAndReportsTheError) {
  ScratchDirectory scratch;
  EXPECT_EQ(writeFileAtomically(scratch / "missing-dir" / "file", "x"), std::errc::no_such_file_or_directory);

  // A directory standing where the file should go cannot be replaced.
  fs::create_directory(scratch / "taken");
  writePlain(scratch / "taken" / "inside", "keep");
  EXPECT_TRUE(writeFileAtomically(scratch / "taken", "x"));
  EXPECT_EQ(readFile(scratch / "taken" / "inside"), "keep");
  EXPECT_EQ(entryCount(scratch.path()), 1u);  // no temporary left behind
}

TEST(AtomicWrite, CreatesTheFileWithTheRequestedMode) {
  ScratchDirectory scratch;
  fs::path file = scratch / "secret";
  writePlain(file, "was world-readable");
  fs::permissions(file, fs::perms(0644));
  ASSERT_FALSE(writeFileAtomically(file, "private", 0600));
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST(AtomicWrite, BinaryContentSurvivesExactly) {
  ScratchDirectory scratch;
  std::string bytes("a\0b\xff\n", 5);
  ASSERT_FALSE(writeFileAtomically(scratch / "bin", bytes));
  EXPECT_EQ(readFile(scratch / "bin"), bytes);
}

TEST(AtomicWrite, ANewFileNeverReplacesOneOfTheSameName) {
  ScratchDirectory scratch;
  ASSERT_FALSE(writeNewFileAtomically(scratch / "data", "first"));
  EXPECT_EQ(writeNewFileAtomically(scratch / "data", "second"), std::errc::file_exists);
  EXPECT_EQ(readFile(scratch / "data"), "first");
  EXPECT_EQ(entryCount(scratch.path()), 1u);  // no temporary left behind
  EXPECT_EQ(writeNewFileAtomically(scratch / "missing-dir" / "file", "x"), std::errc::no_such_file_or_directory);

  // Writers racing for one name: exactly one wins, and its content stays whole.
  std::vector<std::thread> writers;
  std::atomic<int> wins{0};
  std::atomic<int> winner{-1};
  for (int n = 0; n < 8; ++n) {
    writers.emplace_back([&, n] {
      if (!writeNewFileAtomically(scratch / "raced", std::string(4096, char('a' + n)))) {
        ++wins;
        winner = n;
      }
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(wins, 1);
  EXPECT_EQ(readFile(scratch / "raced"), std::string(4096, char('a' + winner)));
  EXPECT_EQ(entryCount(scratch.path()), 2u);
}

TEST(ReadFile, ReportsAMissingFile) {
  ScratchDirectory scratch;
  std::error_code error;
  EXPECT_EQ(readFile(scratch / "nope", &error), std::nullopt);
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

TEST(PathInside, RejectsEveryWayOut) {
  using namespace std::string_view_literals;
  for (std::string_view bad : {""sv, "/etc/passwd"sv, ".."sv, "../x"sv, "a/../../x"sv, "a/.."sv, "a\0b"sv}) {
    EXPECT_FALSE(isSafeRelativePath(bad)) << bad;
    EXPECT_EQ(pathInside("/base", bad), std::nullopt) << bad;
  }
  for (std::string_view good : {"a", "a/b.txt", "..hidden", "a..b/c", "./a", "a/./b"}) {
    EXPECT_TRUE(isSafeRelativePath(good)) << good;
  }
  EXPECT_EQ(pathInside("/base", "a/b"), fs::path("/base/a/b"));
}

TEST(ExcludeFromBackup, MarksWhenTheFileSystemSupportsItAndFailsCleanlyOtherwise) {
  ScratchDirectory scratch;
  fs::path file = scratch / "f";
  writePlain(file, "x");
  EXPECT_FALSE(isExcludedFromBackup(file));
  if (setExcludedFromBackup(file)) {
    EXPECT_TRUE(isExcludedFromBackup(file));
  } else {
    EXPECT_FALSE(isExcludedFromBackup(file));
  }
  EXPECT_FALSE(setExcludedFromBackup(scratch / "missing"));
}

}  // namespace
}  // namespace platform
