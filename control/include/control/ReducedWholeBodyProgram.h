#pragma once

// The whole-body QP without the variables its own equalities fix.
//
// The whole-body controller writes its program over x = [qdd (nv); f (3 per foot); tau (nJ)].
// Two kinds of its equality rows pin variables down outright:
//  - the joint rows of the equations of motion, M_j qdd - J_j' f - tau = -h_j, give the joint
//    torques as an affine function of (qdd, f);
//  - the swing-foot rows, f_i = 0, remove those feet's forces.
// What is left to choose is y = [qdd; forces of the stance feet], and x = T y + t. The tasks,
// the six floating-base rows of the equations of motion, the torque limits and the friction
// pyramid are carried over exactly; so is the small Hessian regularisation of the full program
// (on tau as well), so both programs have the same minimiser. The solver then works on
// nv + 3 nc variables and 6 equalities instead of nv + 3 nFeet + nJ and nv + 3 nS.

#include <vector>

#include "common/MotionPhaseDefinition.h"
#include "control/MatrixDB.h"
#include "core/Types.h"
#include "dense_qp/DenseQp.h"

namespace velmora {

/// Builds the reduced whole-body QP over y = [qdd; stance forces] and maps its solution back to
/// x = [qdd; f; tau]. Holds scratch matrices sized once; not thread-safe.
class ReducedWholeBodyProgram {
 public:
  /// @param nv velocity dimension of the floating-base model (6 + nJ)
  /// @param num_feet number of feet (3 force components each)
  /// @throws std::invalid_argument when nv < 6 or num_feet is 0 or above 4
  ReducedWholeBodyProgram(Eigen::Index nv, Eigen::Index num_feet);

  /// Fills `qp` with the reduced program of one cycle.
  ///
  /// Preconditions (the whole-body controller's layout): `constraints` has as A-rows first the nv
  /// rows of the equations of motion [M, -Jc', -S'] (base rows first, -I on tau in the joint
  /// rows, none in the base rows), then one identity row per swing force component with
  /// right-hand side 0; its C-rows may act on any variable. `tasks` does not act on tau.
  /// `regularisation` is the value the full program adds to every diagonal entry of its Hessian.
  /// @throws std::invalid_argument when a block's column or row count does not fit that layout
  void build(const MatrixDB& constraints, const MatrixDB& tasks, const contact_flag_t& contact,
             scalar_t regularisation, scalar_t infinite_bound, dense_qp::DenseQp& qp);

  /// x = [qdd; f; tau] from the reduced solution y of the last build: swing forces zero, tau from
  /// the joint rows of the equations of motion.
  /// @throws std::invalid_argument when y does not have the size of the last build's program
  void expand(const vector_t& y, vector_t& x) const;

  /// Number of variables of the full program, nv + 3 num_feet + (nv - 6).
  Eigen::Index numFullVariables() const { return nv_ + 3 * num_feet_ + nj_; }

 private:
  Eigen::Index nv_ = 0, nj_ = 0, num_feet_ = 0;
  std::vector<Eigen::Index> kept_columns_;  ///< full column of each reduced variable
  matrix_t torque_map_;                     ///< tau = torque_map_ y + torque_offset_
  vector_t torque_offset_;
  matrix_t tasks_kept_;  ///< task rows on the kept columns
};

}  // namespace velmora
