// The data directory found from a program's location: <prefix>/bin/prog -> <prefix>/share/velmora.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/misc/DataDirectory.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

TEST(DataDirectory, FoundNextToTheProgramOnlyAndThroughLinks) {
  const fs::path prefix = fs::path(::testing::TempDir()) / "data_directory_prefix";
  const fs::path data = fs::path(::testing::TempDir()) / "data_directory_elsewhere";
  fs::remove_all(prefix);
  fs::create_directories(prefix / "bin");
  fs::create_directories(data);
  EXPECT_FALSE(dataDirectoryOf(prefix / "bin" / "prog").has_value()) << "no share/velmora yet";
  fs::create_directories(prefix / "share");
  // The build tree's layout: share/velmora links to the data elsewhere.
  fs::create_directory_symlink(data, prefix / "share" / "velmora");
  EXPECT_EQ(dataDirectoryOf(prefix / "bin" / "prog"), fs::canonical(data));
  EXPECT_FALSE(dataDirectoryOf(prefix / "prog").has_value());
  const fs::path working_directory = fs::current_path();
  fs::current_path(prefix);
  const auto found = dataDirectoryOf(fs::path("bin") / "prog");  // relative to the working dir
  fs::current_path(working_directory);
  EXPECT_EQ(found, fs::canonical(data));
  EXPECT_TRUE(currentExecutable().is_absolute());
  EXPECT_EQ(currentExecutable().filename(), "test_core");
}

}  // namespace
}  // namespace velmora
