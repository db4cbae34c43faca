#pragma once

// Interface only: the implementation lives in robot/src (see the robot model issue).
// Conventions (stated once):
//  - qpos = [base position (3, world), base quaternion (x, y, z, w), joints (nJ)], size 7 + nJ.
//  - qvel = [base linear velocity (3), base angular velocity (3), joints (nJ)], size 6 + nJ,
//    both base parts expressed in the base's own axes (Pinocchio's free-flyer convention).
//  - joint id 0 is the universe, 1 the floating base, j + 2 the actuated joint j.
//  - "local" quantities are in the frame's own axes, "localWorldAligned" ones in axes parallel
//    to the world, both at the frame origin. Spatial vectors are linear first, angular second.

#include <memory>
#include <string>

#include "core/Types.h"
#include "rigid_body/Data.h"
#include "rigid_body/Model.h"
#include "rigid_body/Motion.h"
#include "rigid_body/SE3.h"

namespace velmora {

/// A robot model with a floating base and its data at the last state given to
/// `updateRobotState`. Copies are deep and independent (one per thread).
class PinocchioInterface {
 public:
  /// Builds the model from a URDF file (floating base added at the root link).
  /// Throws std::invalid_argument naming the file and the problem when it cannot be used.
  explicit PinocchioInterface(const std::string& urdf_path);

  /// Recomputes everything the queries below return for this state.
  /// Throws std::invalid_argument for wrong sizes or non-finite entries; the quaternion is
  /// normalised.
  void updateRobotState(vector_t qpos, vector_t qvel);

  int Nq() const;
  int Nv() const;
  const vector_t& qpos() const;
  const vector_t& qvel() const;
  scalar_t total_mass() const;

  /// Placement of the frame in the world (rotation frame-to-world, world position).
  rigid_body::SE3 getFramePose(const std::string& frame_name) const;
  /// Velocity of the frame origin in world-aligned axes.
  rigid_body::Motion getFrame6dVel_localWorldAligned(const std::string& frame_name) const;
  /// Drift acceleration (at zero generalised acceleration) of the frame in its own axes; the
  /// linear part is the classical acceleration of the frame origin.
  rigid_body::Motion getFrame6dAcc_local(const std::string& frame_name) const;
  /// The same drift acceleration in world-aligned axes.
  rigid_body::Motion getFrame6dAcc_localWorldAligned(const std::string& frame_name) const;
  /// Frame Jacobian (6 x Nv) in the frame's own axes.
  void getJacobia_local(const std::string& frame_name, matrix6x_t& J) const;
  /// Frame Jacobian (6 x Nv) in world-aligned axes.
  void getJacobia_localWorldAligned(const std::string& frame_name, matrix6x_t& J) const;

  /// Nonlinear effects h(q, v) (Coriolis, centrifugal, gravity), Nv entries.
  const vector_t& nle() const;
  const rigid_body::Model& getModel() const;
  const rigid_body::Data& getData() const;
};

}  // namespace velmora
