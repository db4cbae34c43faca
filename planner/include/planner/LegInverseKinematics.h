#pragma once

// Leg inverse kinematics of a floating-base quadruped: the actuated joint positions that put the
// feet at given world positions when the base is at a given pose.

#include <array>
#include <vector>

#include "core/Types.h"
#include "description/ModelInfo.h"
#include "pinocchio/PinocchioInterface.h"
#include "rigid_body/Data.h"
#include "rigid_body/Model.h"

namespace velmora {
namespace planner {

/// Tunable constants of the solver.
struct LegIkSettings {
  int max_iterations = 20;      ///< Newton steps per solve, at most
  scalar_t tolerance_m = 1e-5;  ///< stop when every foot is this close to its target [m]
  scalar_t damping_m = 1e-3;    ///< damping of the least-squares step [m]
  scalar_t max_step_rad = 0.3;  ///< largest change of one joint in one step [rad]
};

/// Damped Newton (Levenberg-Marquardt) steps on the robot model, leg by leg: each foot is moved
/// by the three revolute joints between the base and it, so the four legs are solved together
/// from one forward-kinematics pass per step. Joints are kept inside their position limits.
///
/// Conventions: world frame, metres and radians; base orientation as roll, pitch, yaw; joint
/// vectors in the order of ModelInfo::joints_name; feet in the order of ModelInfo::foot_name.
/// Owns its model and workspace: one instance per thread; solve() does not allocate after the
/// first call apart from its result.
class LegInverseKinematics {
 public:
  /// @throws std::invalid_argument when a foot or joint of `info` is not in the model, or when a
  ///         foot is not moved by exactly three actuated joints.
  LegInverseKinematics(const ModelInfo& info, const PinocchioInterface& model,
                       LegIkSettings settings = LegIkSettings{});

  /// Joint positions (nJ) that place the feet at `feet_world` with the base at `base_pos`
  /// (world, [m]) and `base_rpy` [rad], starting from `joints_guess` (nJ, e.g. the previous
  /// solution; selects the knee branch). An unreachable target gives the joints that bring the
  /// foot closest within the limits. `residual_m`, when given, receives the largest foot distance
  /// to its target after the solve [m].
  /// @throws std::invalid_argument when `joints_guess` has the wrong size or an input is not
  ///         finite.
  vector_t solve(const vector3_t& base_pos, const vector3_t& base_rpy,
                 const std::array<vector3_t, 4>& feet_world, const vector_t& joints_guess,
                 scalar_t* residual_m = nullptr);

  /// World positions of the feet for the given base pose and joints (nJ) [m].
  std::array<vector3_t, 4> footPositions(const vector3_t& base_pos, const vector3_t& base_rpy,
                                         const vector_t& joints);

  /// Longest distance [m] from the origin of the first (hip) joint of leg `foot` to its foot over
  /// the knee's range. For a leg whose second and third joint axes are parallel, at right angles
  /// to the first, with the foot in the plane of the second, the feet the leg reaches (limits of
  /// its first two joints aside) fill the ball of this radius around the hip joint.
  scalar_t reach(size_t foot) const { return reach_m_.at(foot); }

  /// Origin of the hip joint of leg `foot` [m, world] for the base at `base_pos` [m, world] and
  /// `base_rpy` [rad].
  vector3_t hipPosition(size_t foot, const vector3_t& base_pos, const vector3_t& base_rpy) const;

  /// `target` [m, world] kept within `reach_fraction` (0, 1] of the leg's reach (see reach()) for
  /// the base at `base_pos`, `base_rpy`: a target outside that ball moves horizontally towards the
  /// hip, keeping its height and its direction from the hip, onto the ball; one further below the
  /// hip than the ball's radius goes straight under the hip. A target inside is returned as is.
  /// @throws std::invalid_argument for a foot index out of range, a reach_fraction outside
  ///         (0, 1] or a non-finite input.
  vector3_t clampToReach(size_t foot, const vector3_t& base_pos, const vector3_t& base_rpy,
                         const vector3_t& target, scalar_t reach_fraction) const;

 private:
  /// Runs forward kinematics at q_ (base pose and joints already written) and updates the feet.
  void updateKinematics();
  /// World-axes Jacobian of the foot position with respect to its leg's three joints.
  matrix3_t legJacobian(size_t foot) const;

  rigid_body::Model model_;
  rigid_body::Data data_;
  LegIkSettings settings_;
  size_t num_joints_ = 0;
  std::vector<int> joint_q_index_;                 ///< position coordinate of joint j of the info
  std::array<int, 4> foot_frame_{};                ///< frame ids of the feet
  std::array<std::array<int, 3>, 4> leg_joint_{};  ///< joint ids of each leg, base to foot
  std::array<std::array<int, 3>, 4> leg_q_{};      ///< position coordinates of the same joints
  std::array<vector3_t, 4> foot_pos_{};            ///< feet in the world at q_ [m]
  vector_t q_;                                     ///< model configuration (Nq)
  vector_t q_start_;  ///< configuration at the start of a Newton iteration (Nq)
  std::array<vector3_t, 4> hip_in_base_{};  ///< hip joint origins in base axes [m]
  std::array<scalar_t, 4> reach_m_{};       ///< see reach() [m]
};

}  // namespace planner
}  // namespace velmora
