#pragma once

// Readers for parameter files in the Boost INFO format.
//
// A key path names a node by the names of its nested nodes joined with '.', e.g.
// "weights.force_optmization". Every call parses the whole file anew and keeps no state.
// A matrix under key K is the node K with optional children `scaling` (factor applied to every
// entry, 1.0 when absent or not a number), `default` (value of every absent or non-numeric
// entry, 0.0 when absent) and one child per entry named "(i,j)" (0-based, no spaces).

#include <cmath>
#include <iostream>
#include <stdexcept>
#include <string>

#include <Eigen/Core>
#include <boost/property_tree/info_parser.hpp>
#include <boost/property_tree/ptree.hpp>

namespace velmora {
namespace loadData {

/// Reads the scalar at key path `dataName` of the INFO file `filename` into `value`.
/// `value` is written only when the read succeeds.
/// @throws boost::property_tree::info_parser::info_parser_error when the file cannot be opened or
///         breaks the INFO syntax (the error names the file and the line).
/// @throws boost::property_tree::ptree_bad_path when the key is absent.
/// @throws boost::property_tree::ptree_bad_data when the value does not convert to T.
template <typename T>
void loadCppDataType(const std::string& filename, const std::string& dataName, T& value) {
  boost::property_tree::ptree tree;
  boost::property_tree::read_info(filename, tree);
  value = tree.get<T>(dataName);
}

/// Fills every entry of `matrix` (sized by the caller, never resized) from the matrix node
/// `matrixName` of the INFO file `filename`. Entries that are absent or not numbers take the
/// default value; all entries are multiplied by the scaling factor. If some but not all entries
/// were defaulted, a warning naming the matrix goes to standard error.
/// @throws std::runtime_error when `matrix` is 0 x 0 (the file is not read), when no entry at all
///         could be read (then every entry holds scaling x default), or when an entry times the
///         scaling is not finite (overflow; `matrix` is then partly written).
/// @throws boost::property_tree::info_parser::info_parser_error when the file cannot be opened or
///         breaks the INFO syntax.
template <typename Derived>
void loadEigenMatrix(const std::string& filename, const std::string& matrixName,
                     Eigen::MatrixBase<Derived>& matrix) {
  using scalar = typename Derived::Scalar;
  const Eigen::Index rows = matrix.rows();
  const Eigen::Index cols = matrix.cols();
  if (rows == 0 && cols == 0) {
    throw std::runtime_error("[loadEigenMatrix] Loading empty matrix \"" + matrixName +
                             "\" is not allowed.");
  }

  boost::property_tree::ptree tree;
  boost::property_tree::read_info(filename, tree);
  const scalar scaling = tree.get<scalar>(matrixName + ".scaling", scalar(1));
  const scalar default_value = tree.get<scalar>(matrixName + ".default", scalar(0));

  Eigen::Index num_failed = 0;
  for (Eigen::Index i = 0; i < rows; ++i) {
    for (Eigen::Index j = 0; j < cols; ++j) {
      const std::string key = matrixName + ".(" + std::to_string(i) + "," + std::to_string(j) + ")";
      scalar entry = default_value;
      try {
        entry = tree.get<scalar>(key);
      } catch (const std::exception&) {
        entry = default_value;
        ++num_failed;
      }
      matrix(i, j) = scaling * entry;
      if (!std::isfinite(static_cast<double>(matrix(i, j)))) {
        throw std::runtime_error("[loadEigenMatrix] Entry (" + std::to_string(i) + "," +
                                 std::to_string(j) + ") of matrix \"" + matrixName +
                                 "\" in file \"" + filename + "\" is not finite after scaling.");
      }
    }
  }

  if (num_failed == rows * cols) {
    throw std::runtime_error("[loadEigenMatrix] Could not load matrix \"" + matrixName +
                             "\" from file \"" + filename + "\".");
  }
  if (num_failed > 0) {
    std::cerr << "WARNING: Loaded at least one default value in matrix: \"" << matrixName << "\"\n";
  }
}

}  // namespace loadData
}  // namespace velmora
