#include "dense_qp/DenseQpStatus.h"

namespace velmora::dense_qp {

const char* toString(DenseQpStatus status) {
  switch (status) {
    case DenseQpStatus::kSolved:
      return "Solved";
    case DenseQpStatus::kPrimalInfeasible:
      return "PrimalInfeasible";
    case DenseQpStatus::kDualInfeasible:
      return "DualInfeasible";
    case DenseQpStatus::kMaxIterationsReached:
      return "MaxIterationsReached";
    case DenseQpStatus::kNumericalFailure:
      return "NumericalFailure";
    case DenseQpStatus::kNonConvex:
      return "NonConvex";
    case DenseQpStatus::kInvalidInput:
      return "InvalidInput";
    case DenseQpStatus::kNotSolved:
      return "NotSolved";
  }
  return "Unknown";
}

std::ostream& operator<<(std::ostream& os, DenseQpStatus status) { return os << toString(status); }

}  // namespace velmora::dense_qp
