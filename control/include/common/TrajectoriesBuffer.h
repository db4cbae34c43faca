#pragma once

#include <map>
#include <memory>
#include <string>

#include "core/misc/Buffer.h"
#include "core/trajectory/CubicSplineTrajectory.h"

namespace velmora {

/// The set of reference trajectories the host hands to the controller at once: eleven
/// independent slots, each a Buffer holding one shared trajectory or a map of them keyed by foot
/// frame name (ModelInfo::foot_name). Trajectories are shared, never copied or changed.
///
/// Thread safety: every getter and setter locks only the slot it touches, for the copy or store
/// only; no operation holds two locks. Inside the controller the object is reached through a
/// pointer to const, so only getters run there, from several threads at once.
/// Not copyable (each slot owns a mutex).
class TrajectoriesBuffer {
 public:
  using trajectory_ptr_t = std::shared_ptr<CubicSplineTrajectory>;
  using trajectory_map_t = std::map<std::string, trajectory_ptr_t>;

  /// All slots empty.
  TrajectoriesBuffer() = default;
  ~TrajectoriesBuffer() = default;
  TrajectoriesBuffer(const TrajectoriesBuffer&) = delete;
  TrajectoriesBuffer& operator=(const TrajectoriesBuffer&) = delete;

  /// Base orientation as roll, pitch, yaw [rad] (3 values); null when absent.
  trajectory_ptr_t get_base_rpy_traj() const;
  /// The preferred base position trajectory [m, world]: the optimised one if set, else the base
  /// position, else the base position reference (possibly null). The choice is not atomic across
  /// the three slots when a setter runs concurrently.
  trajectory_ptr_t get_base_pos_traj() const;
  /// Base position reference [m, world], whatever the other base position slots hold.
  trajectory_ptr_t get_base_pos_ref_traj() const;
  /// Per-foot orientation, keyed by foot frame name: a copy of the stored map.
  trajectory_map_t get_foot_rpy_traj() const;
  /// Per-foot position [m, world] (3 values each), keyed by foot frame name: a copy of the map.
  trajectory_map_t get_foot_pos_traj() const;
  /// Gripper orientation; null when absent.
  trajectory_ptr_t get_gripper_rpy_traj() const;
  /// Gripper position; null when absent.
  trajectory_ptr_t get_gripper_pos_traj() const;
  /// Centre-of-mass position; null when absent.
  trajectory_ptr_t get_com_pos_traj() const;
  /// Angular momentum; null when absent.
  trajectory_ptr_t get_angular_momentum_traj() const;
  /// Actuated joint positions [rad] in the order of ModelInfo::joints_name; null when absent.
  trajectory_ptr_t get_joint_pos_traj() const;

  /// Each setter stores its argument (a null pointer empties the slot); maps are copied, so later
  /// changes to the caller's map do not reach the buffer.
  void set_base_rpy_traj(trajectory_ptr_t traj);
  void set_base_pos_traj(trajectory_ptr_t traj);
  void set_optimized_base_pos_traj(trajectory_ptr_t traj);
  void set_base_pos_ref_traj(trajectory_ptr_t traj);
  void set_foot_rpy_traj(trajectory_map_t traj);
  void set_foot_pos_traj(trajectory_map_t traj);
  void set_gripper_rpy_traj(trajectory_ptr_t traj);
  void set_gripper_pos_traj(trajectory_ptr_t traj);
  void set_com_pos_traj(trajectory_ptr_t traj);
  void set_angular_momentum_traj(trajectory_ptr_t traj);
  void set_joint_pos_traj(trajectory_ptr_t traj);

  /// Empties all eleven slots, one after the other (each under its own lock), so that a cleared
  /// object reads like a new one. References obtained before stay valid for their holders.
  void clear();

 private:
  Buffer<trajectory_ptr_t> base_rpy_buffer_;
  Buffer<trajectory_ptr_t> base_pos_buffer_;
  Buffer<trajectory_ptr_t> optimized_base_pos_buffer_;
  Buffer<trajectory_ptr_t> base_pos_ref_buffer_;
  Buffer<trajectory_map_t> foot_rpy_buffer_;
  Buffer<trajectory_map_t> foot_pos_buffer_;
  Buffer<trajectory_ptr_t> gripper_rpy_buffer_;
  Buffer<trajectory_ptr_t> gripper_pos_buffer_;
  Buffer<trajectory_ptr_t> com_pos_buffer_;
  Buffer<trajectory_ptr_t> angular_momentum_buffer_;
  Buffer<trajectory_ptr_t> joint_pos_buffer_;
};

}  // namespace velmora
