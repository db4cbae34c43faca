// Fuzz target: the parameter-file readers on arbitrary INFO text, with every read the
// controllers make of the parameter file (keys, types and matrix sizes as in the contact-force
// optimiser and the whole-body controller). Each read either succeeds or is refused with one of
// the documented errors (all std::runtime_error: INFO syntax, missing key, bad value, no entry
// of a matrix, a non-finite entry); anything else is a fault, and so is a matrix read with a
// non-finite entry.

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <string>

#include <Eigen/Core>

#include "FuzzInputFile.h"
#include "core/misc/LoadData.h"

namespace {

template <typename Read>
void refusedOrRead(Read&& read) {
  try {
    read();
  } catch (const std::runtime_error&) {
  }
}

void readScalar(const std::string& path, const std::string& key) {
  refusedOrRead([&] {
    double value = 0.0;
    velmora::loadData::loadCppDataType(path, key, value);
  });
}

void readMatrix(const std::string& path, const std::string& key, Eigen::Index rows,
                Eigen::Index cols) {
  refusedOrRead([&] {
    Eigen::MatrixXd matrix = Eigen::MatrixXd::Zero(rows, cols);
    velmora::loadData::loadEigenMatrix(path, key, matrix);
    if (matrix.rows() != rows || matrix.cols() != cols) {
      throw std::logic_error("loadEigenMatrix resized the matrix");
    }
    if (!matrix.allFinite()) throw std::logic_error("loadEigenMatrix accepted a non-finite entry");
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The matrix reader warns on std::cerr about defaulted entries, for nearly every input: the
  // warnings would flood the log and slow the run down. (Crash reports do not use std::cerr.)
  static const bool cerr_silenced = [] {
    std::cerr.rdbuf(nullptr);
    return true;
  }();
  (void)cerr_silenced;
  static velmora::fuzz::FuzzInputFile file("params.info");
  file.write(data, size);
  const std::string& path = file.path();
  // Each read parses the whole file anew, so one read per input (chosen by the input's length)
  // keeps the run fast; mutations that change the length reach the others.
  switch (size % 11) {
    case 0:
      readMatrix(path, "weights.force_optmization", 12, 12);
      break;
    case 1:
      readScalar(path, "friction_coefficient");
      break;
    case 2:
      readScalar(path, "force_optimization_dt");
      break;
    case 3:
      readMatrix(path, "weights.floatingbase", 6, 6);
      break;
    case 4:
      readMatrix(path, "weights.leg_swing", 3, 3);
      break;
    case 5:
      readScalar(path, "weights.contact_force");
      break;
    case 6:
      readScalar(path, "wbc_dt");
      break;
    case 7:
      readMatrix(path, "feedback_gain.leg_swing.kp", 3, 3);
      break;
    case 8:
      readMatrix(path, "feedback_gain.leg_swing.kd", 3, 3);
      break;
    case 9:
      readMatrix(path, "feedback_gain.floatingbase.kp", 6, 6);
      break;
    default:
      readMatrix(path, "feedback_gain.floatingbase.kd", 6, 6);
      break;
  }
  return 0;
}
