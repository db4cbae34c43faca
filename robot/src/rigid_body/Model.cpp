#include "rigid_body/Model.h"

#include <limits>
#include <stdexcept>

namespace velmora::rigid_body {

namespace {
constexpr scalar_t kUnbounded = std::numeric_limits<scalar_t>::max();

void appendEntries(vector_t& vector, int count, scalar_t value) {
  const Eigen::Index old_size = vector.size();
  vector.conservativeResize(old_size + count);
  vector.tail(count).setConstant(value);
}
}  // namespace

Model::Model()
    : names{"universe"},
      joint_types{JointType::kUniverse},
      parents{0},
      jointPlacements{SE3::Identity()},
      axes{vector3_t::Zero()},
      principal_axis{-1},
      placement_rotation_is_identity{1},
      inertias{Inertia::Zero()},
      idx_qs{0},
      idx_vs{0},
      nqs{0},
      nvs{0},
      supports{{}},
      support_dofs{{}} {
  joint_ids_.emplace("universe", 0);
  Frame universe;
  universe.name = "universe";
  universe.type = FrameType::kJoint;
  universe.placement_is_identity = true;
  frames.push_back(universe);
  frame_ids_.emplace(universe.name, 0);
}

int Model::addJoint(const std::string& joint_name, JointType type, int parent, const SE3& placement,
                    const vector3_t& axis, scalar_t lower_position, scalar_t upper_position,
                    scalar_t effort, scalar_t velocity) {
  if (joint_ids_.count(joint_name) > 0) {
    throw std::invalid_argument("Model::addJoint: duplicate joint name '" + joint_name + "'");
  }
  if (parent < 0 || parent >= njoints) {
    throw std::invalid_argument("Model::addJoint: joint '" + joint_name +
                                "' has an unknown parent joint id " + std::to_string(parent));
  }
  if (type == JointType::kUniverse) {
    throw std::invalid_argument("Model::addJoint: joint '" + joint_name +
                                "' cannot be a second universe");
  }
  const bool one_dof = type == JointType::kRevolute || type == JointType::kPrismatic;
  if (one_dof && !(axis.norm() > 1e-12)) {
    throw std::invalid_argument("Model::addJoint: joint '" + joint_name + "' has a zero axis");
  }
  const int joint_nq = one_dof ? 1 : 7;
  const int joint_nv = one_dof ? 1 : 6;
  const int id = njoints;

  names.push_back(joint_name);
  joint_types.push_back(type);
  parents.push_back(parent);
  jointPlacements.push_back(placement);
  const vector3_t unit_axis = one_dof ? vector3_t(axis.normalized()) : vector3_t::Zero();
  axes.push_back(unit_axis);
  int principal = -1;
  for (int k = 0; k < 3; ++k) {
    if (unit_axis == vector3_t::Unit(k)) principal = k;
  }
  principal_axis.push_back(principal);
  placement_rotation_is_identity.push_back(placement.rotation() == matrix3_t::Identity());
  inertias.push_back(Inertia::Zero());
  idx_qs.push_back(nq);
  idx_vs.push_back(nv);
  nqs.push_back(joint_nq);
  nvs.push_back(joint_nv);

  std::vector<int> support = supports[parent];
  support.push_back(id);
  supports.push_back(support);
  std::vector<int> dofs = support_dofs[parent];
  for (int k = 0; k < joint_nv; ++k) dofs.push_back(nv + k);
  support_dofs.push_back(dofs);

  if (one_dof) {
    appendEntries(lowerPositionLimit, 1, lower_position);
    appendEntries(upperPositionLimit, 1, upper_position);
    appendEntries(effortLimit, 1, effort);
    appendEntries(velocityLimit, 1, velocity);
  } else {
    appendEntries(lowerPositionLimit, joint_nq, -kUnbounded);
    appendEntries(upperPositionLimit, joint_nq, kUnbounded);
    appendEntries(effortLimit, joint_nv, 0.0);
    appendEntries(velocityLimit, joint_nv, kUnbounded);
  }

  nq += joint_nq;
  nv += joint_nv;
  ++njoints;
  joint_ids_.emplace(joint_name, id);
  return id;
}

void Model::appendBodyInertia(int joint_id, const Inertia& inertia) {
  if (joint_id < 0 || joint_id >= njoints) {
    throw std::invalid_argument("Model::appendBodyInertia: unknown joint id " +
                                std::to_string(joint_id));
  }
  inertias[joint_id] += inertia;
}

int Model::addFrame(const Frame& frame) {
  if (frame.parent_joint < 0 || frame.parent_joint >= njoints) {
    throw std::invalid_argument("Model::addFrame: frame '" + frame.name +
                                "' has an unknown parent joint id " +
                                std::to_string(frame.parent_joint));
  }
  const int id = nframes;
  frames.push_back(frame);
  frames.back().placement_is_identity = frame.placement.rotation() == matrix3_t::Identity() &&
                                        frame.placement.translation().isZero(0.0);
  ++nframes;
  const auto existing = frame_ids_.find(frame.name);
  if (existing == frame_ids_.end()) {
    frame_ids_.emplace(frame.name, id);
  } else if (frame.type == FrameType::kBody && frames[existing->second].type != FrameType::kBody) {
    existing->second = id;
  }
  return id;
}

bool Model::existJointName(const std::string& joint_name) const {
  return joint_ids_.count(joint_name) > 0;
}

int Model::getJointId(const std::string& joint_name) const {
  const auto it = joint_ids_.find(joint_name);
  if (it == joint_ids_.end()) {
    throw std::invalid_argument("Model '" + name + "' has no joint named '" + joint_name + "'");
  }
  return it->second;
}

bool Model::existFrame(const std::string& frame_name) const {
  return frame_ids_.count(frame_name) > 0;
}

int Model::getFrameId(const std::string& frame_name) const {
  const auto it = frame_ids_.find(frame_name);
  if (it == frame_ids_.end()) {
    throw std::invalid_argument("Model '" + name + "' has no frame named '" + frame_name + "'");
  }
  return it->second;
}

scalar_t Model::totalMass() const {
  scalar_t total = 0.0;
  for (const Inertia& inertia : inertias) total += inertia.mass();
  return total;
}

}  // namespace velmora::rigid_body
