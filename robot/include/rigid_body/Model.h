#pragma once

// The kinematic tree of a floating-base robot. Joints are numbered depth first from the root, so
// a parent always has a smaller id than its children: id 0 is the universe, id 1 the floating
// base, id j + 2 the actuated joint j. Every joint carries the rigid body (the link, with every
// link attached to it by fixed joints merged in) that follows it.

#include <string>
#include <unordered_map>
#include <vector>

#include "core/Types.h"
#include "rigid_body/Frame.h"
#include "rigid_body/Inertia.h"
#include "rigid_body/JointType.h"
#include "rigid_body/SE3.h"

namespace velmora::rigid_body {

/// Constant description of a kinematic tree with its inertias, limits and frames.
/// Build it with `addJoint` and `addFrame` (see buildModelFromUrdf); read it through the public
/// fields, which callers must not resize.
class Model {
 public:
  /// A model holding only the universe (joint 0) and its frame "universe".
  Model();

  /// Appends a joint; `parent` must be an existing joint id. Returns the new joint id.
  /// Position limits, effort and velocity limits are per coordinate (ignored for kFreeFlyer,
  /// whose limits are unbounded and whose effort limits are zero). Throws std::invalid_argument
  /// for a duplicate name, an unknown parent or a zero axis.
  int addJoint(const std::string& name, JointType type, int parent, const SE3& placement,
               const vector3_t& axis, scalar_t lower_position, scalar_t upper_position,
               scalar_t effort, scalar_t velocity);
  /// Adds `inertia` (expressed in the joint frame) to the body of joint `joint_id`.
  void appendBodyInertia(int joint_id, const Inertia& inertia);
  /// Appends a frame attached to joint `frame.parent_joint`; returns its id. A later frame of the
  /// same name does not hide an earlier one, except that body frames win over joint frames.
  int addFrame(const Frame& frame);

  bool existJointName(const std::string& name) const;
  /// Joint id of `name`; throws std::invalid_argument naming it when there is none.
  int getJointId(const std::string& name) const;
  bool existFrame(const std::string& name) const;
  /// Frame id of `name`; throws std::invalid_argument naming it when there is none.
  int getFrameId(const std::string& name) const;
  /// Total mass of all bodies [kg].
  scalar_t totalMass() const;

  std::string name;  ///< robot name
  int nq = 0;        ///< number of position coordinates
  int nv = 0;        ///< number of velocity coordinates
  int njoints = 1;   ///< number of joints including the universe
  int nframes = 1;   ///< number of frames

  // Per joint, indexed by joint id.
  std::vector<std::string> names;      ///< joint names; names[0] == "universe"
  std::vector<JointType> joint_types;  ///< kind of each joint
  std::vector<int> parents;            ///< parent joint id (parents[0] == 0)
  std::vector<SE3> jointPlacements;    ///< joint frame in the parent joint frame at q = 0
  std::vector<vector3_t> axes;         ///< unit axis in the joint frame (1-dof joints)
  std::vector<int> principal_axis;     ///< 0, 1, 2 when the axis is +x, +y, +z; else -1
  std::vector<char> placement_rotation_is_identity;  ///< jointPlacements[i] does not rotate
  std::vector<Inertia> inertias;                     ///< body inertia in the joint frame
  std::vector<int> idx_qs;                           ///< first position coordinate
  std::vector<int> idx_vs;                           ///< first velocity coordinate
  std::vector<int> nqs;                              ///< number of position coordinates
  std::vector<int> nvs;                              ///< number of velocity coordinates
  std::vector<std::vector<int>> supports;      ///< joint ids from 1 up to and including the joint
  std::vector<std::vector<int>> support_dofs;  ///< velocity coordinates of those joints

  // Per coordinate.
  vector_t effortLimit;         ///< Nv torque/force limits; zero for the floating base [N m, N]
  vector_t velocityLimit;       ///< Nv velocity limits [rad/s, m/s]
  vector_t lowerPositionLimit;  ///< Nq lower position limits
  vector_t upperPositionLimit;  ///< Nq upper position limits

  std::vector<Frame> frames;  ///< all frames; frames[0] is "universe"

  vector3_t gravity = vector3_t(0.0, 0.0, -9.81);  ///< gravity in world axes [m/s^2]

 private:
  std::unordered_map<std::string, int> joint_ids_;
  std::unordered_map<std::string, int> frame_ids_;
};

}  // namespace velmora::rigid_body
