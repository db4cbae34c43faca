// URDF to floating-base model.
//
// Every link is attached to the body of the nearest model joint above it (through fixed joints)
// at a placement accumulated along those fixed joints; its inertia is merged into that body and
// it becomes a frame. Model joints are appended in depth-first order, so parents precede
// children.

#include "rigid_body/BuildModelFromUrdf.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

#include <urdf_parser/urdf_parser.h>

namespace velmora::rigid_body {

namespace {

constexpr scalar_t kNoLimitGiven = std::numeric_limits<scalar_t>::max();  // joint without <limit>

class UrdfModelBuilder {
 public:
  explicit UrdfModelBuilder(std::string source_name) : source_(std::move(source_name)) {}

  Model build(const urdf::ModelInterface& urdf) {
    model_.name = urdf.getName();
    const urdf::LinkConstSharedPtr root = urdf.getRoot();
    if (!root) fail("it has no root link");

    urdf::LinkConstSharedPtr base_link = root;
    std::string base_joint_name = "root_joint";
    SE3 base_placement;
    if (root->name == "world") {
      if (root->child_joints.size() != 1 ||
          root->child_joints.front()->type != urdf::Joint::FLOATING) {
        fail("its root link 'world' must have exactly one child joint, of type floating");
      }
      const urdf::JointSharedPtr& floating = root->child_joints.front();
      base_joint_name = floating->name;
      base_placement = toSE3(floating->parent_to_joint_origin_transform);
      base_link = root->child_links.front();
      addFrame(root->name, FrameType::kBody, 0, SE3::Identity());
    }
    const int base = model_.addJoint(base_joint_name, JointType::kFreeFlyer, 0, base_placement,
                                     vector3_t::Zero(), 0.0, 0.0, 0.0, 0.0);
    addFrame(base_joint_name, FrameType::kJoint, base, SE3::Identity());
    addLink(*base_link, base, SE3::Identity());
    return std::move(model_);
  }

 private:
  [[noreturn]] void fail(const std::string& problem) const {
    throw std::invalid_argument("URDF '" + source_ + "': " + problem);
  }

  static SE3 toSE3(const urdf::Pose& pose) {
    const Eigen::Quaternion<scalar_t> rotation(pose.rotation.w, pose.rotation.x, pose.rotation.y,
                                               pose.rotation.z);
    return SE3(rotation.normalized().toRotationMatrix(),
               vector3_t(pose.position.x, pose.position.y, pose.position.z));
  }

  void addFrame(const std::string& name, FrameType type, int joint, const SE3& placement) {
    Frame frame;
    frame.name = name;
    frame.type = type;
    frame.parent_joint = joint;
    frame.placement = placement;
    model_.addFrame(frame);
  }

  /// The link's inertia expressed in its own frame.
  Inertia linkInertia(const urdf::Link& link) const {
    if (!link.inertial) return Inertia::Zero();
    const urdf::Inertial& in = *link.inertial;
    matrix3_t rotational;
    rotational << in.ixx, in.ixy, in.ixz, in.ixy, in.iyy, in.iyz, in.ixz, in.iyz, in.izz;
    if (!std::isfinite(in.mass) || !rotational.allFinite()) {
      fail("link '" + link.name + "' has a non-finite mass or inertia");
    }
    if (in.mass < 0.0) fail("link '" + link.name + "' has a negative mass");
    const scalar_t smallest_moment =
        Eigen::SelfAdjointEigenSolver<matrix3_t>(rotational, Eigen::EigenvaluesOnly)
            .eigenvalues()
            .minCoeff();
    if (smallest_moment < -1e-12 * std::max(1.0, rotational.norm())) {
      fail("link '" + link.name + "' has an inertia matrix that is not positive semi-definite");
    }
    const SE3 com_frame = toSE3(in.origin);
    return Inertia(in.mass, com_frame.translation(),
                   com_frame.rotation() * rotational * com_frame.rotation().transpose());
  }

  /// Attaches `link` to the body of `joint` at `placement` and descends into its children.
  void addLink(const urdf::Link& link, int joint, const SE3& placement) {
    addFrame(link.name, FrameType::kBody, joint, placement);
    model_.appendBodyInertia(joint, linkInertia(link).transformedBy(placement));
    // Finite numbers near the limit of the double range overflow when placed or summed.
    const Inertia& body = model_.inertias[joint];
    if (!std::isfinite(body.mass()) || !body.lever().allFinite() || !body.inertia().allFinite()) {
      fail("link '" + link.name + "' makes the inertia of its body overflow (values too large)");
    }
    for (std::size_t k = 0; k < link.child_joints.size(); ++k) {
      const urdf::Joint& child = *link.child_joints[k];
      const urdf::Link& child_link = *link.child_links[k];
      if (child.mimic) fail("joint '" + child.name + "' is a mimic joint, which is not supported");
      const SE3 joint_placement = placement * toSE3(child.parent_to_joint_origin_transform);
      if (!joint_placement.rotation().allFinite() || !joint_placement.translation().allFinite()) {
        fail("joint '" + child.name + "' has an origin that is not finite (values too large)");
      }
      if (child.type == urdf::Joint::FIXED) {
        addFrame(child.name, FrameType::kFixedJoint, joint, joint_placement);
        addLink(child_link, joint, joint_placement);
        continue;
      }
      const int id = addMovingJoint(child, joint, joint_placement);
      addFrame(child.name, FrameType::kJoint, id, SE3::Identity());
      addLink(child_link, id, SE3::Identity());
    }
  }

  int addMovingJoint(const urdf::Joint& joint, int parent, const SE3& placement) {
    JointType type = JointType::kRevolute;
    switch (joint.type) {
      case urdf::Joint::REVOLUTE:
      case urdf::Joint::CONTINUOUS:
        type = JointType::kRevolute;
        break;
      case urdf::Joint::PRISMATIC:
        type = JointType::kPrismatic;
        break;
      case urdf::Joint::FLOATING:
        fail("joint '" + joint.name +
             "' is floating; only a floating joint from the root link 'world' is supported");
      default:
        fail("joint '" + joint.name + "' has an unsupported type (planar or unknown)");
    }
    const vector3_t axis(joint.axis.x, joint.axis.y, joint.axis.z);
    if (!axis.allFinite() || !(axis.norm() > 1e-12)) {
      fail("joint '" + joint.name + "' has a zero or non-finite axis");
    }
    scalar_t lower = -kNoLimitGiven, upper = kNoLimitGiven;
    scalar_t effort = kNoLimitGiven, velocity = kNoLimitGiven;
    if (joint.limits) {
      effort = joint.limits->effort;
      velocity = joint.limits->velocity;
      if (joint.type != urdf::Joint::CONTINUOUS) {
        lower = joint.limits->lower;
        upper = joint.limits->upper;
      }
    }
    return model_.addJoint(joint.name, type, parent, placement, axis, lower, upper, effort,
                           velocity);
  }

  std::string source_;
  Model model_;
};

}  // namespace

Model buildModelFromUrdfString(const std::string& urdf_xml, const std::string& source_name) {
  const urdf::ModelInterfaceSharedPtr urdf = urdf::parseURDF(urdf_xml);
  if (!urdf) {
    throw std::invalid_argument("URDF '" + source_name +
                                "': not a valid URDF document (the URDF parser's message is on "
                                "standard error)");
  }
  return UrdfModelBuilder(source_name).build(*urdf);
}

Model buildModelFromUrdf(const std::string& urdf_path) {
  std::ifstream file(urdf_path);
  if (!file) {
    throw std::invalid_argument("URDF '" + urdf_path + "': cannot open the file");
  }
  std::stringstream text;
  text << file.rdbuf();
  return buildModelFromUrdfString(text.str(), urdf_path);
}

}  // namespace velmora::rigid_body
