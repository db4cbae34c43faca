#include "ocp_qp/OcpQpIpmSolverSettings.h"

namespace velmora::ocp_qp {

std::ostream& operator<<(std::ostream& os, SolverStatus status) {
  switch (status) {
    case SolverStatus::Success:
      return os << "Success";
    case SolverStatus::MaxIterReached:
      return os << "MaxIterReached";
    case SolverStatus::MinStepLengthReached:
      return os << "MinStepLengthReached";
    case SolverStatus::NaNDetected:
      return os << "NaNDetected";
    case SolverStatus::UnknownFailure:
      return os << "UnknownFailure";
  }
  return os << "SolverStatus(" << static_cast<int>(status) << ")";
}

}  // namespace velmora::ocp_qp
