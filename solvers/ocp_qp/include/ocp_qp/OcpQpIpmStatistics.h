#pragma once

#include <string>

#include "ocp_qp/OcpQpIpmSolverSettings.h"

namespace velmora::ocp_qp {

/// Final residuals of a solve; definitions in OcpQpIpmSolverSettings (absolute max-norms).
struct OcpQpIpmResiduals {
  double stationarity = 0.0;
  double equality = 0.0;
  double inequality = 0.0;
  double complementarity = 0.0;
};

/// Diagnostics of the last solve.
struct OcpQpIpmStatistics {
  SolverStatus status = SolverStatus::UnknownFailure;
  int iterations = 0;              ///< Newton steps taken
  OcpQpIpmResiduals residuals;     ///< at the returned iterate
  double mu = 0.0;                 ///< average complementarity at the returned iterate
  double last_alpha_primal = 0.0;  ///< step lengths of the last Newton step
  double last_alpha_dual = 0.0;
  std::string message;  ///< empty on Success; otherwise what went wrong and where
};

}  // namespace velmora::ocp_qp
