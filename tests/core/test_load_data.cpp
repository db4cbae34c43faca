// loadData::loadCppDataType / loadEigenMatrix on a parameter file: values, scaling and defaults,
// the warning line for a partly given matrix, the error messages, and the INFO reader's errors.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/Types.h"
#include "core/misc/LoadData.h"

namespace velmora {
namespace {

namespace pt = boost::property_tree;

constexpr const char* kParameters = R"INFO(weights { nested { deeper -2.5 } }
bad_number 0.5abc
diagonal { scaling 10
  (0,0) 1.0
  (1,1) 2.0 }
with_default { scaling 10
  default 0.5
  (0,0) 1.0
  (1,1) 2.0 }
nan_scaling { scaling abc
  default xyz
  (0,0) 3.0
  (0,1) 4.0 }
spaced { "(0, 0)" 9.0
  (0,1) 1.0 }
full { (0,0) 1
  (0,1) 2
  (1,0) 4
  (1,1) 5
  ignored_child 99 }
only_defaults { scaling 2
  default 1.5 }
overflow { scaling 1e300
  (0,0) -1e10 }
)INFO";

class LoadDataTest : public ::testing::Test {
 protected:
  LoadDataTest() {
    std::filesystem::create_directories(directory_);
    std::ofstream(file_) << kParameters;
  }
  ~LoadDataTest() override { std::filesystem::remove_all(directory_); }

  const std::string directory_ = ::testing::TempDir() + "/load_data_" + std::to_string(getpid());
  const std::string file_ = directory_ + "/params.info";
};

TEST_F(LoadDataTest, ScalarsAtNestedPathsAndErrorsThatLeaveTheValue) {
  scalar_t value = -1.0;
  loadData::loadCppDataType(file_, "weights.nested.deeper", value);
  EXPECT_EQ(value, -2.5);
  EXPECT_THROW(loadData::loadCppDataType(file_, "weights.no_such_key", value), pt::ptree_bad_path);
  EXPECT_THROW(loadData::loadCppDataType(file_, "bad_number", value), pt::ptree_bad_data);
  EXPECT_EQ(value, -2.5);
  std::ofstream(directory_ + "/broken.info") << "a 1.0\n}\n";  // a stray closing brace
  EXPECT_THROW(loadData::loadCppDataType(directory_ + "/broken.info", "a", value),
               pt::info_parser::info_parser_error);
}

TEST_F(LoadDataTest, MatricesWithScalingDefaultsAndTheWarningLine) {
  const std::vector<std::tuple<std::string, matrix_t, bool>> cases = {
      // key, matrix, warns
      {"diagonal", (matrix_t(2, 2) << 10, 0, 0, 20).finished(), true},
      {"with_default", (matrix_t(2, 2) << 10, 5, 5, 20).finished(), true},
      {"nan_scaling", (matrix_t(1, 2) << 3, 4).finished(), false},  // silently 1 and 0
      {"spaced", (matrix_t(1, 2) << 0, 1).finished(), true},        // "(0, 0)" is not (0,0)
      {"full", (matrix_t(2, 2) << 1, 2, 4, 5).finished(), false},
      {"full", (matrix_t(3, 2) << 1, 2, 4, 5, 0, 0).finished(), true}};
  for (const auto& [key, expected, warns] : cases) {
    matrix_t matrix = matrix_t::Constant(expected.rows(), expected.cols(), -7.0);
    ::testing::internal::CaptureStderr();
    loadData::loadEigenMatrix(file_, key, matrix);
    const std::string output = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(matrix, expected) << key;
    EXPECT_EQ(
        output,
        warns ? "WARNING: Loaded at least one default value in matrix: \"" + key + "\"\n" : "");
  }
}

TEST_F(LoadDataTest, UnloadableMatricesFailWithTheirMessages) {
  matrix_t matrix(0, 0);  // the file is not read: a missing file gives the same message
  try {
    loadData::loadEigenMatrix(directory_ + "/missing.info", "diagonal", matrix);
    ADD_FAILURE() << "no error for a 0 x 0 matrix";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "[loadEigenMatrix] Loading empty matrix \"diagonal\" is not allowed.");
  }
  // Absent, without entries or 0 x 3: every entry is missing; the matrix holds scaling x default.
  for (const auto& [key, rows, filled] : std::vector<std::tuple<std::string, int, scalar_t>>{
           {"weights.no_such_matrix", 2, 0.0}, {"only_defaults", 2, 3.0}, {"full", 0, 0.0}}) {
    matrix = matrix_t::Constant(rows, 3, -7.0);
    try {
      loadData::loadEigenMatrix(file_, key, matrix);
      ADD_FAILURE() << "no error for " << key;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), "[loadEigenMatrix] Could not load matrix \"" + key + "\" from file \"" +
                              file_ + "\".");
    }
    EXPECT_TRUE((matrix.array() == filled).all()) << key;
  }
  EXPECT_THROW(loadData::loadEigenMatrix(directory_ + "/missing.info", "a", matrix),
               pt::info_parser::info_parser_error);
  matrix = matrix_t(1, 1);  // 1e300 and -1e10 are finite, their product is not
  EXPECT_THAT([&] { loadData::loadEigenMatrix(file_, "overflow", matrix); },
              ::testing::ThrowsMessage<std::runtime_error>(::testing::HasSubstr("(0,0)")));
}

}  // namespace
}  // namespace velmora
