#pragma once

// MuJoCo as an independent reference for the robot model, with every coordinate convention
// converted here and nowhere else.
//
// MuJoCo free joint: qpos = [position (world), quaternion (w, x, y, z)], qvel = [linear velocity
// of the body origin in WORLD axes, angular velocity in the body's LOCAL axes]. velmora: the
// quaternion is stored (x, y, z, w) and both velocity parts are in local axes. Actuated joints
// are matched by name. With R the base orientation the velocities map as v_mj = T(q) v,
// T = diag(R, I, P) (P the joint permutation), so that
//   M = T^T M_mj T,   h = T^T (M_mj Tdot v + bias_mj),   J = J_mj T,
// where Tdot v = (R (w x v_lin), 0, 0) is the MuJoCo acceleration of a motion at constant v.
// MuJoCo spatial vectors are [angular; linear]; velmora's are [linear; angular]. MuJoCo body
// velocities and accelerations are taken at the body frame (mjOBJ_XBODY), not its COM (mjOBJ_BODY).

#include <memory>
#include <string>
#include <vector>

#include <mujoco/mujoco.h>

#include "core/Types.h"
#include "rigid_body/Inertia.h"
#include "rigid_body/Model.h"
#include "rigid_body/Motion.h"
#include "rigid_body/SE3.h"

namespace velmora::test {

/// A MuJoCo model and data loaded from a URDF, driven with velmora states.
class MujocoRobot {
 public:
  /// Loads `urdf_path` into MuJoCo (constraints and passive forces disabled) and matches its
  /// joints to `model`'s by name. Throws std::runtime_error when loading or matching fails.
  MujocoRobot(const std::string& urdf_path, const rigid_body::Model& model);

  /// Sets the state (velmora convention) and runs MuJoCo's forward computations.
  void setState(const vector_t& qpos, const vector_t& qvel);

  /// velmora qpos / qvel in MuJoCo's convention and back.
  vector_t toMujocoQpos(const vector_t& qpos) const;
  vector_t toMujocoQvel(const vector_t& qpos, const vector_t& qvel) const;
  vector_t fromMujocoQpos(const vector_t& mujoco_qpos) const;
  vector_t fromMujocoQvel(const vector_t& mujoco_qpos, const vector_t& mujoco_qvel) const;

  /// T(q) at the current state (rows: MuJoCo dofs, columns: velmora dofs).
  matrix_t velocityMap() const;
  /// Mass matrix in velmora coordinates.
  matrix_t massMatrix() const;
  /// Nonlinear effects in velmora coordinates, by MuJoCo's inverse dynamics at the MuJoCo
  /// acceleration of a constant velmora velocity.
  vector_t nonlinearEffects();
  /// The same from MuJoCo's bias forces plus the mass matrix term (a second route).
  vector_t nonlinearEffectsFromBias() const;
  /// Kinetic plus potential energy [J] at the current state.
  scalar_t totalEnergy();

  int bodyId(const std::string& body_name) const;
  /// Placement of a body frame in the world.
  rigid_body::SE3 bodyPose(const std::string& body_name) const;
  /// Velocity of the body origin, world-aligned axes.
  rigid_body::Motion bodyVelocityWorldAligned(const std::string& body_name) const;
  /// Jacobian of the body origin (6 x nv, velmora coordinates), world-aligned / local axes.
  matrix6x_t bodyJacobianWorldAligned(const std::string& body_name) const;
  matrix6x_t bodyJacobianLocal(const std::string& body_name) const;
  /// Classical acceleration of the body origin at zero velmora generalised acceleration,
  /// gravity excluded, world-aligned axes (MuJoCo's cacc after its post-constraint pass).
  rigid_body::Motion bodyDriftAccelerationWorldAligned(const std::string& body_name);

  scalar_t totalMass() const;
  /// Whole-robot inertia from MuJoCo's body inertias: total mass, centre of mass and rotational
  /// inertia about it in world axes.
  rigid_body::Inertia centroidalInertia() const;

  const mjModel& mujocoModel() const { return *model_; }
  const mjData& mujocoData() const { return *data_; }

 private:
  struct ModelDeleter {
    void operator()(mjModel* model) const { mj_deleteModel(model); }
  };
  struct DataDeleter {
    void operator()(mjData* data) const { mj_deleteData(data); }
  };

  std::unique_ptr<mjModel, ModelDeleter> model_;
  std::unique_ptr<mjData, DataDeleter> data_;
  int nq_ = 0;
  int nv_ = 0;
  std::vector<int> joint_qpos_address_;  // per velmora actuated joint: MuJoCo qpos index
  std::vector<int> joint_dof_address_;   // per velmora actuated joint: MuJoCo dof index
  vector_t qpos_;                        // velmora state last set
  vector_t qvel_;
};

}  // namespace velmora::test
