#pragma once

// Conventions (stated once):
//  - qpos = [base position (3, world), base quaternion (x, y, z, w), joints (nJ)], size 7 + nJ.
//  - qvel = [base linear velocity (3), base angular velocity (3), joints (nJ)], size 6 + nJ,
//    both base parts expressed in the base's own axes (Pinocchio's free-flyer convention).
//  - joint id 0 is the universe, 1 the floating base, j + 2 the actuated joint j.
//  - "local" quantities are in the frame's own axes, "localWorldAligned" ones in axes parallel
//    to the world, both at the frame origin. Spatial vectors are linear first, angular second.
//  - Gravity is 9.81 m/s^2 along the world's -z axis.

#include <string>

#include "core/Types.h"
#include "rigid_body/Data.h"
#include "rigid_body/Model.h"
#include "rigid_body/Motion.h"
#include "rigid_body/SE3.h"

namespace velmora {

/// A robot model with a floating base and its data at the last state given to
/// `updateRobotState`. Copies are deep and independent (one per thread); no operation may run
/// concurrently on one object.
class PinocchioInterface {
 public:
  /// Builds the model from a URDF file (see rigid_body::buildModelFromUrdf for the floating base,
  /// joint kinds and frames) and computes everything at the neutral state (base at the origin,
  /// identity orientation, joints at zero, zero velocity). Throws std::invalid_argument naming
  /// the file and the problem when it cannot be used.
  explicit PinocchioInterface(const std::string& urdf_path);

  /// Recomputes everything the queries below return for this state: frame placements, frame
  /// velocities, frame drift accelerations, joint Jacobians, mass matrix, nonlinear effects,
  /// centroidal inertia and masses. The vectors are copied into storage sized at construction,
  /// so a call with valid vectors (or contiguous segments of larger ones) does not allocate.
  /// Throws std::invalid_argument naming the vector for a wrong size (expected and given sizes),
  /// a non-finite entry (its index) or a base quaternion of (near-)zero norm; any other
  /// quaternion is normalised (and stored so). A rejected state leaves the previous one.
  void updateRobotState(const Eigen::Ref<const vector_t>& qpos,
                        const Eigen::Ref<const vector_t>& qvel);

  int Nq() const { return model_.nq; }
  int Nv() const { return model_.nv; }
  /// The state last given (quaternion normalised).
  const vector_t& qpos() const { return qpos_; }
  const vector_t& qvel() const { return qvel_; }
  /// Total mass of the robot [kg].
  scalar_t total_mass() const { return total_mass_; }

  /// Placement of the frame in the world (rotation frame-to-world, world position [m]).
  /// Every query by name throws std::invalid_argument naming an unknown frame.
  rigid_body::SE3 getFramePose(const std::string& frame_name) const;
  /// Velocity of the frame origin in world-aligned axes [m/s, rad/s].
  rigid_body::Motion getFrame6dVel_localWorldAligned(const std::string& frame_name) const;
  /// Drift acceleration (at zero generalised acceleration) of the frame in its own axes; the
  /// linear part is the classical acceleration of the frame origin [m/s^2, rad/s^2].
  rigid_body::Motion getFrame6dAcc_local(const std::string& frame_name) const;
  /// The same drift acceleration in world-aligned axes.
  rigid_body::Motion getFrame6dAcc_localWorldAligned(const std::string& frame_name) const;
  /// Frame Jacobian (6 x Nv, resized if needed) in the frame's own axes.
  void getJacobia_local(const std::string& frame_name, matrix6x_t& J) const;
  /// Frame Jacobian (6 x Nv, resized if needed) in world-aligned axes.
  void getJacobia_localWorldAligned(const std::string& frame_name, matrix6x_t& J) const;

  /// Id of a frame for the faster queries below; throws std::invalid_argument naming an unknown
  /// frame.
  int getFrameId(const std::string& frame_name) const { return model_.getFrameId(frame_name); }
  /// The queries above by frame id; throw std::out_of_range for an invalid id.
  const rigid_body::SE3& getFramePose(int frame_id) const;
  const rigid_body::Motion& getFrame6dVel_localWorldAligned(int frame_id) const;
  const rigid_body::Motion& getFrame6dAcc_local(int frame_id) const;
  const rigid_body::Motion& getFrame6dAcc_localWorldAligned(int frame_id) const;
  void getJacobia_local(int frame_id, matrix6x_t& J) const;
  void getJacobia_localWorldAligned(int frame_id, matrix6x_t& J) const;

  /// Nonlinear effects h(q, v) (Coriolis, centrifugal, gravity), Nv entries.
  const vector_t& nle() const { return data_.nle; }
  const rigid_body::Model& getModel() const { return model_; }
  const rigid_body::Data& getData() const { return data_; }

 private:
  void checkState(const Eigen::Ref<const vector_t>& qpos,
                  const Eigen::Ref<const vector_t>& qvel) const;
  int checkedFrameId(int frame_id) const;

  rigid_body::Model model_;
  rigid_body::Data data_;
  vector_t qpos_;
  vector_t qvel_;
  scalar_t total_mass_ = 0.0;
};

}  // namespace velmora
