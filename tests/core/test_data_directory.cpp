// The data directory found from a program's location: <prefix>/bin/prog -> <prefix>/share/velmora.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/misc/DataDirectory.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

/// A fresh directory under the test's temporary directory.
fs::path freshDirectory(const std::string& name) {
  const fs::path dir = fs::path(::testing::TempDir()) / ("data_directory_" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(DataDirectory, FoundNextToAnInstalledProgramAndNotElsewhere) {
  const fs::path prefix = freshDirectory("prefix");
  fs::create_directories(prefix / "bin");
  std::ofstream(prefix / "bin" / "prog") << "";
  EXPECT_FALSE(dataDirectoryOf(prefix / "bin" / "prog").has_value()) << "no share/velmora yet";

  fs::create_directories(prefix / "share" / "velmora");
  const auto found = dataDirectoryOf(prefix / "bin" / "prog");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, fs::canonical(prefix / "share" / "velmora"));
  EXPECT_TRUE(found->is_absolute());

  // A program elsewhere (the prefix itself, a sibling prefix) does not see this data.
  EXPECT_FALSE(dataDirectoryOf(prefix / "prog").has_value());
  const fs::path other = freshDirectory("other");
  fs::create_directories(other / "bin");
  EXPECT_FALSE(dataDirectoryOf(other / "bin" / "prog").has_value());
}

TEST(DataDirectory, RelativeProgramPathsAndLinkedDataResolve) {
  const fs::path prefix = freshDirectory("relative");
  const fs::path data = freshDirectory("linked_data");
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "share");
  // The build tree's layout: share/velmora is a link to the data elsewhere.
  fs::create_directory_symlink(data, prefix / "share" / "velmora");
  const fs::path working_directory = fs::current_path();
  fs::current_path(prefix);
  const auto found = dataDirectoryOf(fs::path("bin") / "prog");
  fs::current_path(working_directory);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, fs::canonical(data));
}

TEST(DataDirectory, CurrentExecutableIsThisTestProgram) {
  const fs::path self = currentExecutable();
  EXPECT_TRUE(self.is_absolute());
  EXPECT_TRUE(fs::is_regular_file(self));
  EXPECT_EQ(self.filename(), "test_core");
}

}  // namespace
}  // namespace velmora
