// loadData::loadCppDataType / loadEigenMatrix on parameter files written to a temporary
// directory: values, scaling and defaults, warnings on standard error, exact error messages and
// the INFO reader's own errors (file name and line).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "core/Types.h"
#include "core/misc/LoadData.h"

namespace velmora {
namespace {

using ::testing::HasSubstr;
namespace pt = boost::property_tree;

/// A temporary directory, removed with its files when the fixture ends.
class LoadDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velmora_load_data_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override {
    for (const std::string& file : files_) std::remove(file.c_str());
    std::remove(directory_.c_str());
  }
  std::string write(const std::string& name, const std::string& content) {
    const std::string path = directory_ + "/" + name;
    std::ofstream(path) << content;
    files_.push_back(path);
    return path;
  }

  std::string directory_;
  std::vector<std::string> files_;
};

constexpr const char* kParameters = R"INFO(; controller parameters
force_optimization_dt 0.02
friction_coefficient 0.6
bad_number 0.5abc
weights
{
  force_optmization 1e-3
  nested { deeper -2.5 }
}
diagonal
{
  scaling 10
  (0,0) 1.0
  (1,1) 2.0
}
diagonal_with_default
{
  scaling 10
  default 0.5
  (0,0) 1.0
  (1,1) 2.0
}
nan_scaling
{
  scaling abc
  default xyz
  (0,0) 3.0
  (0,1) 4.0
  (1,0) 5.0
  (1,1) 6.0
}
spaced
{
  "(0, 0)" 9.0
  (0,1) 1.0
}
full
{
  (0,0) 1
  (0,1) 2
  (0,2) 3
  (1,0) 4
  (1,1) 5
  (1,2) 6
  ignored_child 99
}
)INFO";

TEST_F(LoadDataTest, ReadsScalarsAtNestedKeyPaths) {
  const std::string file = write("params.info", kParameters);
  scalar_t value = -1.0;
  loadData::loadCppDataType(file, "force_optimization_dt", value);
  EXPECT_DOUBLE_EQ(value, 0.02);
  loadData::loadCppDataType(file, "weights.force_optmization", value);
  EXPECT_DOUBLE_EQ(value, 1e-3);
  loadData::loadCppDataType(file, "weights.nested.deeper", value);
  EXPECT_DOUBLE_EQ(value, -2.5);
}

TEST_F(LoadDataTest, ScalarErrorsComeFromTheTreeAndLeaveTheValueUnchanged) {
  const std::string file = write("params.info", kParameters);
  scalar_t value = 42.0;
  EXPECT_THROW(loadData::loadCppDataType(file, "no_such_key", value), pt::ptree_bad_path);
  EXPECT_THROW(loadData::loadCppDataType(file, "weights.no_such_key", value), pt::ptree_bad_path);
  EXPECT_DOUBLE_EQ(value, 42.0);
  EXPECT_THROW(loadData::loadCppDataType(file, "bad_number", value), pt::ptree_bad_data);
  EXPECT_DOUBLE_EQ(value, 42.0);
}

TEST_F(LoadDataTest, MissingOrMalformedFilesRaiseTheReadersErrorWithFileAndLine) {
  scalar_t value = 0.0;
  matrix_t matrix(2, 2);
  const std::string missing = directory_ + "/does_not_exist.info";
  for (int which = 0; which < 2; ++which) {
    try {
      if (which == 0)
        loadData::loadCppDataType(missing, "a", value);
      else
        loadData::loadEigenMatrix(missing, "a", matrix);
      ADD_FAILURE() << "no error for a missing file";
    } catch (const pt::info_parser::info_parser_error& e) {
      EXPECT_EQ(e.filename(), missing);
      EXPECT_THAT(e.what(), HasSubstr(missing));
    }
  }

  // A stray closing brace on line 3.
  const std::string broken = write("broken.info", "a 1.0\nb 2.0\n}\nc 3.0\n");
  for (int which = 0; which < 2; ++which) {
    try {
      if (which == 0)
        loadData::loadCppDataType(broken, "a", value);
      else
        loadData::loadEigenMatrix(broken, "a", matrix);
      ADD_FAILURE() << "no error for a malformed file";
    } catch (const pt::info_parser::info_parser_error& e) {
      EXPECT_EQ(e.filename(), broken);
      EXPECT_EQ(e.line(), 3u);
      EXPECT_THAT(e.what(), HasSubstr(broken));
    }
  }

  // An unterminated block: the error names the file.
  const std::string unterminated = write("unterminated.info", "weights\n{\n  a 1.0\n");
  EXPECT_THROW(loadData::loadCppDataType(unterminated, "weights.a", value),
               pt::info_parser::info_parser_error);
}

TEST_F(LoadDataTest, PartialMatrixUsesScaledDefaultsAndWarnsOnce) {
  const std::string file = write("params.info", kParameters);
  matrix_t matrix = matrix_t::Constant(2, 2, -7.0);
  ::testing::internal::CaptureStderr();
  loadData::loadEigenMatrix(file, "diagonal", matrix);
  const std::string warning = ::testing::internal::GetCapturedStderr();
  matrix_t expected(2, 2);
  expected << 10, 0, 0, 20;
  EXPECT_EQ(matrix, expected);
  EXPECT_EQ(warning, "WARNING: Loaded at least one default value in matrix: \"diagonal\"\n");

  ::testing::internal::CaptureStderr();
  loadData::loadEigenMatrix(file, "diagonal_with_default", matrix);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "WARNING: Loaded at least one default value in matrix: \"diagonal_with_default\"\n");
  expected << 10, 5, 5, 20;
  EXPECT_EQ(matrix, expected);
}

TEST_F(LoadDataTest, CompleteMatrixIsSilentAndIgnoresOtherChildren) {
  const std::string file = write("params.info", kParameters);
  Eigen::Matrix<scalar_t, 2, 3> fixed;  // fixed-size matrices load the same way
  ::testing::internal::CaptureStderr();
  loadData::loadEigenMatrix(file, "full", fixed);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  Eigen::Matrix<scalar_t, 2, 3> expected;
  expected << 1, 2, 3, 4, 5, 6;
  EXPECT_EQ(fixed, expected);

  // A smaller matrix reads only its own entries; a larger one defaults the rest and warns.
  matrix_t small(1, 2);
  loadData::loadEigenMatrix(file, "full", small);
  EXPECT_EQ(small, (matrix_t(1, 2) << 1, 2).finished());
  matrix_t large(3, 3);
  ::testing::internal::CaptureStderr();
  loadData::loadEigenMatrix(file, "full", large);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("\"full\""));
  EXPECT_EQ(large.row(2), Eigen::RowVector3d::Zero());
}

TEST_F(LoadDataTest, NonNumericScalingAndDefaultFallBackSilently) {
  const std::string file = write("params.info", kParameters);
  matrix_t matrix(2, 2);
  ::testing::internal::CaptureStderr();
  loadData::loadEigenMatrix(file, "nan_scaling", matrix);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(matrix, (matrix_t(2, 2) << 3, 4, 5, 6).finished());
}

TEST_F(LoadDataTest, EntryKeysWithSpacesAreNotFound) {
  const std::string file = write("params.info", kParameters);
  matrix_t matrix(1, 2);
  ::testing::internal::CaptureStderr();
  loadData::loadEigenMatrix(file, "spaced", matrix);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("\"spaced\""));
  EXPECT_EQ(matrix, (matrix_t(1, 2) << 0, 1).finished());
}

TEST_F(LoadDataTest, EmptyOrUnloadableMatricesFailWithExactMessages) {
  const std::string file = write("params.info", kParameters);
  matrix_t empty(0, 0);
  try {
    // The file is not read for an empty matrix: a missing file gives the same message.
    loadData::loadEigenMatrix(directory_ + "/missing.info", "diagonal", empty);
    ADD_FAILURE() << "no error for a 0 x 0 matrix";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "[loadEigenMatrix] Loading empty matrix \"diagonal\" is not allowed.");
  }

  const std::string could_not_load_full =
      "[loadEigenMatrix] Could not load matrix \"full\" from file \"" + file + "\".";
  matrix_t no_rows(0, 3);
  try {
    loadData::loadEigenMatrix(file, "full", no_rows);
    ADD_FAILURE() << "no error for a 0 x 3 matrix";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), could_not_load_full);
  }

  matrix_t absent = matrix_t::Constant(2, 2, 3.0);
  try {
    loadData::loadEigenMatrix(file, "weights.no_such_matrix", absent);
    ADD_FAILURE() << "no error for an absent matrix";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "[loadEigenMatrix] Could not load matrix "
              "\"weights.no_such_matrix\" from file \"" +
                  file + "\".");
  }
  EXPECT_EQ(absent, matrix_t::Zero(2, 2)) << "entries hold scaling x default after the failure";

  // A node that only has scaling and default but no entry also fails, after filling the matrix.
  const std::string only_defaults = write("defaults.info", "m\n{\n  scaling 2\n  default 1.5\n}\n");
  matrix_t filled(2, 1);
  EXPECT_THROW(loadData::loadEigenMatrix(only_defaults, "m", filled), std::runtime_error);
  EXPECT_EQ(filled, matrix_t::Constant(2, 1, 3.0));
}

TEST_F(LoadDataTest, EntriesOverflowingWithTheScalingAreRefusedByPosition) {
  // Each number is a finite double; their product is not.
  const std::string file = write("overflow.info",
                                 "gains\n{\n  scaling 1e300\n  (0,0) 1\n  (1,0) -1e10\n}\n"
                                 "defaults\n{\n  scaling 1e200\n  default 1e200\n  (0,0) 0\n}\n");
  matrix_t gains(2, 1);
  try {
    loadData::loadEigenMatrix(file, "gains", gains);
    ADD_FAILURE() << "accepted an infinite entry";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "[loadEigenMatrix] Entry (1,0) of matrix \"gains\" in file \"" + file +
                  "\" is not finite after scaling.");
  }
  // A defaulted entry overflows the same way.
  matrix_t defaults(1, 2);
  EXPECT_THROW(loadData::loadEigenMatrix(file, "defaults", defaults), std::runtime_error);
  EXPECT_EQ(defaults(0, 0), 0.0);
}

}  // namespace
}  // namespace velmora
