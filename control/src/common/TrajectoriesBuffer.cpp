#include "common/TrajectoriesBuffer.h"

#include <utility>

namespace velmora {

using trajectory_ptr_t = TrajectoriesBuffer::trajectory_ptr_t;
using trajectory_map_t = TrajectoriesBuffer::trajectory_map_t;

trajectory_ptr_t TrajectoriesBuffer::get_base_rpy_traj() const { return base_rpy_buffer_.get(); }

trajectory_ptr_t TrajectoriesBuffer::get_base_pos_traj() const {
  // Each slot is read once: a second read could find the slot emptied by a concurrent setter
  // and hand back null although a trajectory was there a moment before.
  if (trajectory_ptr_t optimized = optimized_base_pos_buffer_.get()) return optimized;
  if (trajectory_ptr_t base = base_pos_buffer_.get()) return base;
  return base_pos_ref_buffer_.get();
}

trajectory_ptr_t TrajectoriesBuffer::get_base_pos_ref_traj() const {
  return base_pos_ref_buffer_.get();
}

trajectory_map_t TrajectoriesBuffer::get_foot_rpy_traj() const { return foot_rpy_buffer_.get(); }

trajectory_map_t TrajectoriesBuffer::get_foot_pos_traj() const { return foot_pos_buffer_.get(); }

trajectory_ptr_t TrajectoriesBuffer::get_gripper_rpy_traj() const {
  return gripper_rpy_buffer_.get();
}

trajectory_ptr_t TrajectoriesBuffer::get_gripper_pos_traj() const {
  return gripper_pos_buffer_.get();
}

trajectory_ptr_t TrajectoriesBuffer::get_com_pos_traj() const { return com_pos_buffer_.get(); }

trajectory_ptr_t TrajectoriesBuffer::get_angular_momentum_traj() const {
  return angular_momentum_buffer_.get();
}

trajectory_ptr_t TrajectoriesBuffer::get_joint_pos_traj() const { return joint_pos_buffer_.get(); }

void TrajectoriesBuffer::set_base_rpy_traj(trajectory_ptr_t traj) {
  base_rpy_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::set_base_pos_traj(trajectory_ptr_t traj) {
  base_pos_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::set_optimized_base_pos_traj(trajectory_ptr_t traj) {
  optimized_base_pos_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::set_base_pos_ref_traj(trajectory_ptr_t traj) {
  base_pos_ref_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::set_foot_rpy_traj(trajectory_map_t traj) {
  foot_rpy_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::set_foot_pos_traj(trajectory_map_t traj) {
  foot_pos_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::set_gripper_rpy_traj(trajectory_ptr_t traj) {
  gripper_rpy_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::set_gripper_pos_traj(trajectory_ptr_t traj) {
  gripper_pos_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::set_com_pos_traj(trajectory_ptr_t traj) {
  com_pos_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::set_angular_momentum_traj(trajectory_ptr_t traj) {
  angular_momentum_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::set_joint_pos_traj(trajectory_ptr_t traj) {
  joint_pos_buffer_.push(std::move(traj));
}

void TrajectoriesBuffer::clear() {
  base_rpy_buffer_.clear();
  base_pos_buffer_.clear();
  optimized_base_pos_buffer_.clear();
  base_pos_ref_buffer_.clear();
  foot_rpy_buffer_.clear();
  foot_pos_buffer_.clear();
  gripper_rpy_buffer_.clear();
  gripper_pos_buffer_.clear();
  com_pos_buffer_.clear();
  angular_momentum_buffer_.clear();
  joint_pos_buffer_.clear();
}

}  // namespace velmora
