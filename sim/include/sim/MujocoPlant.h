#pragma once

// The simulated robot: MuJoCo loads the robot's URDF, adds the ground and steps the physics
// with joint-level motor drivers fed by ActuatorCmds messages.

#include <memory>
#include <string>
#include <vector>

#include <mujoco/mujoco.h>

#include "communication/msg/actuator_cmds.hpp"
#include "core/Types.h"
#include "description/ModelInfo.h"
#include "sim/StateConversion.h"
#include "sim/Terrain.h"

namespace velmora {
namespace sim {

/// A MuJoCo model of the robot on the ground of a TerrainSpec (friction 1 unless a scenario sets
/// it, which every ground contact uses; time step `timestep_s`).
///
/// Until the first command is applied the robot is held in the initial standing pose of the
/// description, turned about the origin with the ground there (Terrain::startRotation). Each step
/// applies to every commanded joint
///   tau = kp (pos - q) + kd (vel - qd) + torque,
/// clamped to the joint's effort limit, through qfrc_applied. Not thread-safe; not copyable.
class MujocoPlant {
 public:
  /// Loads `urdf_path` (the URDF is the only robot description) on `terrain` and places the
  /// robot in the initial pose of `info`.
  /// @throws std::runtime_error with MuJoCo's message when the URDF cannot be loaded, and
  ///         std::invalid_argument naming the joint or body that `info` lists but the model lacks,
  ///         or the terrain field out of range.
  MujocoPlant(const std::string& urdf_path, const ModelInfo& info, double timestep_s = 0.001,
              const TerrainSpec& terrain = TerrainSpec{});
  ~MujocoPlant();
  MujocoPlant(const MujocoPlant&) = delete;
  MujocoPlant& operator=(const MujocoPlant&) = delete;

  /// Stores the latest command; joints are matched by name, unknown names are ignored.
  /// @throws std::invalid_argument when the message's sequences differ in length.
  void applyCommand(const communication::msg::ActuatorCmds& command);
  /// True once a command has been applied.
  bool released() const { return released_; }
  /// Applies `force_world` [N, world axes] at `point_trunk` [m, trunk axes from the trunk
  /// origin] until cleared (a zero force clears): the force and its moment about the trunk's
  /// centre of mass, (point - com) x force, act from the next step on.
  void setBasePush(const vector3_t& force_world, const vector3_t& point_trunk = vector3_t::Zero());
  /// Adds a point mass `mass_kg` [kg] (> 0) to the trunk at `point_trunk` [m, trunk axes from
  /// the trunk origin]: the trunk's mass, centre of mass and inertia change in the simulated
  /// model only.
  /// @throws std::invalid_argument for a mass that is not positive and finite.
  void addPayload(double mass_kg, const vector3_t& point_trunk);
  /// Sets the sliding friction coefficient of the floor (> 0); the floor's coefficient is the
  /// one of every floor contact.
  /// @throws std::invalid_argument for a coefficient that is not positive and finite.
  void setFloorFriction(double mu);
  /// Advances the simulation by one time step.
  void step();

  /// Simulation time [s].
  double time() const { return data_->time; }
  double timestep() const { return model_->opt.timestep; }
  /// Controller generalised position (7 + nJ) and velocity (6 + nJ).
  vector_t controllerQpos() const;
  vector_t controllerQvel() const;
  /// Actuated joints in controller order (ModelInfo::joints_name).
  const std::vector<std::string>& jointNames() const { return joint_names_; }
  /// Torque [N m] each actuated joint's driver applied in the last step (after the effort
  /// limit), controller order; zero while the robot is held.
  vector_t appliedJointTorques() const;
  /// The simulated ground.
  const Terrain& terrain() const { return terrain_; }
  /// Height [m] of the ground at world (x, y).
  double terrainHeightAt(double x, double y) const { return terrain_.heightAt(x, y); }
  /// True when a body other than a foot touches the floor.
  bool nonFootContact() const { return !nonFootContactBody().empty(); }
  /// Name of a body other than a foot that touches the ground (the first MuJoCo lists), or an
  /// empty string when only feet do. On uneven terrain the lower legs (the bodies carrying the
  /// feet) are let touch it too: a shin grazing a step's edge or a bump is part of walking there.
  std::string nonFootContactBody() const;
  /// Stance flags in foot order from the floor contacts.
  std::vector<bool> footContacts() const;
  /// Vertical force [N] the floor exerts on each foot (world z, up positive), in foot order,
  /// summed over the foot's contacts of the last step; zero for a foot in the air.
  std::vector<double> footVerticalForces() const;

  const PlantStateLayout& layout() const { return layout_; }
  const mjModel& model() const { return *model_; }
  const mjData& data() const { return *data_; }

 private:
  void holdInitialPose();
  static std::vector<double> readEffortLimits(const std::string& urdf_path,
                                              const std::vector<std::string>& joints);
  vector_t mjQpos() const;
  vector_t mjQvel() const;
  bool isGround(int geom) const { return ground_geom_[static_cast<size_t>(geom)]; }

  Terrain terrain_;
  mjModel* model_ = nullptr;
  mjData* data_ = nullptr;
  PlantStateLayout layout_;
  std::vector<double> effort_limit_;  ///< per controller joint [N m]
  std::vector<int> foot_body_;        ///< MuJoCo body id per foot
  std::vector<int> lower_leg_body_;   ///< MuJoCo body id of the parent of each foot
  std::vector<bool> ground_geom_;     ///< per MuJoCo geom: part of the ground
  int trunk_body_ = -1;
  std::vector<double> init_qpos_;
  bool released_ = false;
  std::vector<std::string> joint_names_;
  // Latest command per controller joint.
  vector_t kp_, kd_, pos_, vel_, torque_;
  vector3_t push_world_ = vector3_t::Zero();
  vector3_t push_point_ = vector3_t::Zero();  ///< trunk axes [m]
};

}  // namespace sim
}  // namespace velmora
