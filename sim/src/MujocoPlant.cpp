#include "sim/MujocoPlant.h"

#include <unistd.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velmora {
namespace sim {
namespace {

/// Time constant of every contact [s]. MuJoCo's default (0.02 s) lets a foot under half the
/// robot's weight sink about a centimetre into the floor, deep enough for the end of the calf to
/// touch it; 0.005 s (five plant steps at 1 kHz) keeps the sinking near half a millimetre.
constexpr double kContactTimeConstant = 0.005;

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

/// Temporary file removed on scope exit.
struct TempFile {
  std::string path;
  explicit TempFile(const std::string& suffix) {
    std::string pattern = "/tmp/velmora_sim_XXXXXX" + suffix;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemps(buffer.data(), static_cast<int>(suffix.size()));
    if (fd < 0) throw std::runtime_error("MujocoPlant: cannot create a temporary file");
    close(fd);
    path = buffer.data();
  }
  ~TempFile() { std::remove(path.c_str()); }
};

/// MuJoCo model of the URDF with the ground of `terrain` and simulation options added to its
/// MJCF text.
mjModel* loadWithGround(const std::string& urdf_path, double timestep_s, const Terrain& terrain) {
  std::array<char, 1000> error{};
  mjModel* urdf_model = mj_loadXML(urdf_path.c_str(), nullptr, error.data(), error.size());
  if (urdf_model == nullptr) {
    throw std::runtime_error("MujocoPlant: cannot load the URDF '" + urdf_path +
                             "': " + error.data());
  }
  TempFile mjcf(".xml");
  const int saved = mj_saveLastXML(mjcf.path.c_str(), urdf_model, error.data(), error.size());
  mj_deleteModel(urdf_model);
  if (!saved)
    throw std::runtime_error(std::string("MujocoPlant: cannot save MJCF: ") + error.data());

  std::string text = readFile(mjcf.path);
  // The checkered floor, the sky and the light only change how the model looks in pictures.
  const std::string options =
      "<option timestep=\"" + std::to_string(timestep_s) +
      "\" integrator=\"Euler\"/>\n"
      "<visual><headlight ambient=\"0.3 0.3 0.3\" diffuse=\"0.4 0.4 0.4\"/>"
      "<quality shadowsize=\"2048\"/></visual>\n"
      "<asset><texture name=\"velmora_checker\" type=\"2d\" builtin=\"checker\" "
      "rgb1=\"0.82 0.84 0.86\" rgb2=\"0.55 0.58 0.62\" width=\"256\" height=\"256\"/>"
      "<texture name=\"velmora_sky\" type=\"skybox\" builtin=\"gradient\" rgb1=\"0.6 0.75 0.9\" "
      "rgb2=\"0.95 0.97 1\" width=\"64\" height=\"64\"/>"
      "<material name=\"velmora_floor\" texture=\"velmora_checker\" texrepeat=\"1 1\" "
      "texuniform=\"true\"/>" +
      terrain.mjcfAssets() + "</asset>\n";
  const size_t model_end = text.find('>', text.find("<mujoco"));
  text.insert(model_end + 1, "\n" + options);
  const size_t world = text.find("<worldbody>");
  if (world == std::string::npos) throw std::runtime_error("MujocoPlant: MJCF without worldbody");
  text.insert(world + std::string("<worldbody>").size(),
              "\n<light name=\"velmora_sun\" directional=\"true\" pos=\"0 0 5\" "
              "dir=\"-0.3 0.3 -1\" diffuse=\"0.6 0.6 0.6\" castshadow=\"true\"/>\n" +
                  terrain.mjcfGeoms("velmora_floor", "1 0.005 0.0001"));
  std::ofstream(mjcf.path) << text;

  mjModel* model = mj_loadXML(mjcf.path.c_str(), nullptr, error.data(), error.size());
  if (model == nullptr) {
    throw std::runtime_error(std::string("MujocoPlant: cannot load the MJCF with ground: ") +
                             error.data());
  }
  const std::vector<float>& elevation = terrain.hfieldElevation();
  if (model->nhfield > 0 && static_cast<size_t>(model->nhfielddata) == elevation.size()) {
    std::copy(elevation.begin(), elevation.end(), model->hfield_data);
  }
  return model;
}

int requireId(const mjModel* model, int type, const std::string& name, const char* what) {
  const int id = mj_name2id(model, type, name.c_str());
  if (id < 0) {
    throw std::invalid_argument(std::string("MujocoPlant: the simulated model has no ") + what +
                                " '" + name + "'");
  }
  return id;
}

}  // namespace

MujocoPlant::MujocoPlant(const std::string& urdf_path, const ModelInfo& info, double timestep_s,
                         const TerrainSpec& terrain)
    : terrain_(terrain), joint_names_(info.joints_name) {
  model_ = loadWithGround(urdf_path, timestep_s, terrain_);
  data_ = mj_makeData(model_);
  int free_joint = -1;
  for (int j = 0; j < model_->njnt; ++j) {
    if (model_->jnt_type[j] == mjJNT_FREE) free_joint = j;
  }
  if (free_joint < 0) {
    mj_deleteData(data_);
    mj_deleteModel(model_);
    throw std::invalid_argument("MujocoPlant: the URDF '" + urdf_path + "' has no floating base");
  }
  layout_.base_qpos_address = model_->jnt_qposadr[free_joint];
  layout_.base_qvel_address = model_->jnt_dofadr[free_joint];
  trunk_body_ = model_->jnt_bodyid[free_joint];
  try {
    for (const auto& name : info.joints_name) {
      const int j = requireId(model_, mjOBJ_JOINT, name, "joint");
      layout_.joint_qpos_address.push_back(model_->jnt_qposadr[j]);
      layout_.joint_qvel_address.push_back(model_->jnt_dofadr[j]);
    }
    for (const auto& name : info.foot_name) {
      foot_body_.push_back(requireId(model_, mjOBJ_BODY, name, "foot body"));
      lower_leg_body_.push_back(model_->body_parentid[foot_body_.back()]);
    }
    const std::string prefix = Terrain::groundGeomPrefix();
    ground_geom_.assign(static_cast<size_t>(model_->ngeom), false);
    for (int g = 0; g < model_->ngeom; ++g) {
      const char* name = mj_id2name(model_, mjOBJ_GEOM, g);
      ground_geom_[static_cast<size_t>(g)] =
          name != nullptr && std::string(name).compare(0, prefix.size(), prefix) == 0;
    }
  } catch (...) {
    mj_deleteData(data_);
    mj_deleteModel(model_);
    throw;
  }
  effort_limit_ = readEffortLimits(urdf_path, info.joints_name);
  for (int g = 0; g < model_->ngeom; ++g) model_->geom_solref[mjNREF * g] = kContactTimeConstant;

  const auto nJ = static_cast<Eigen::Index>(info.joints_name.size());
  kp_.setZero(nJ);
  kd_.setZero(nJ);
  pos_.setZero(nJ);
  vel_.setZero(nJ);
  torque_.setZero(nJ);

  init_qpos_.assign(model_->qpos0, model_->qpos0 + model_->nq);
  // The standing pose turned about the origin with the ground there, all feet on it.
  const matrix3_t start = terrain_.startRotation();
  const vector3_t base = start * info.base_init_pos;
  const Eigen::Quaterniond quat(start *
                                Eigen::Quaterniond(info.base_init_quat(3), info.base_init_quat(0),
                                                   info.base_init_quat(1), info.base_init_quat(2)));
  const int b = layout_.base_qpos_address;
  for (int k = 0; k < 3; ++k) init_qpos_[b + k] = base(k);
  init_qpos_[b + 3] = quat.w();
  init_qpos_[b + 4] = quat.x();
  init_qpos_[b + 5] = quat.y();
  init_qpos_[b + 6] = quat.z();
  for (Eigen::Index j = 0; j < nJ; ++j) {
    init_qpos_[layout_.joint_qpos_address[j]] = info.joints_init_pos(j);
  }
  holdInitialPose();
}

MujocoPlant::~MujocoPlant() {
  mj_deleteData(data_);
  mj_deleteModel(model_);
}

std::vector<double> MujocoPlant::readEffortLimits(const std::string& urdf_path,
                                                  const std::vector<std::string>& joints) {
  // The MJCF conversion keeps the URDF effort as actuator-free "actuatorfrcrange" only in newer
  // MuJoCo versions, so the limits are read from the URDF text itself.
  const std::string text = readFile(urdf_path);
  std::vector<double> limits;
  for (const auto& name : joints) {
    const size_t joint = text.find("<joint name=\"" + name + "\"");
    const size_t end = text.find("</joint>", joint);
    const size_t limit = text.find("effort=\"", joint);
    if (joint == std::string::npos || limit == std::string::npos || limit > end) {
      throw std::invalid_argument("MujocoPlant: the URDF '" + urdf_path +
                                  "' gives no effort limit for joint '" + name + "'");
    }
    limits.push_back(std::stod(text.substr(limit + 8)));
  }
  return limits;
}

void MujocoPlant::holdInitialPose() {
  std::copy(init_qpos_.begin(), init_qpos_.end(), data_->qpos);
  std::fill(data_->qvel, data_->qvel + model_->nv, 0.0);
  mj_forward(model_, data_);
}

void MujocoPlant::applyCommand(const communication::msg::ActuatorCmds& command) {
  const size_t n = command.actuators_name.size();
  if (command.kp.size() != n || command.pos.size() != n || command.kd.size() != n ||
      command.vel.size() != n || command.torque.size() != n) {
    throw std::invalid_argument("MujocoPlant: ActuatorCmds sequences differ in length");
  }
  for (size_t i = 0; i < n; ++i) {
    const auto it = std::find(joint_names_.begin(), joint_names_.end(), command.actuators_name[i]);
    if (it == joint_names_.end()) continue;
    const auto j = static_cast<Eigen::Index>(it - joint_names_.begin());
    kp_(j) = command.kp[i];
    kd_(j) = command.kd[i];
    pos_(j) = command.pos[i];
    vel_(j) = command.vel[i];
    torque_(j) = command.torque[i];
  }
  released_ = true;
}

void MujocoPlant::setBasePush(const vector3_t& force_world, const vector3_t& point_trunk) {
  push_world_ = force_world;
  push_point_ = point_trunk;
}

void MujocoPlant::addPayload(double mass_kg, const vector3_t& point_trunk) {
  if (!(mass_kg > 0.0) || !std::isfinite(mass_kg) || !point_trunk.allFinite()) {
    throw std::invalid_argument("MujocoPlant::addPayload: the mass must be positive and finite");
  }
  const int b = trunk_body_;
  const double mass = model_->body_mass[b];
  const Eigen::Map<vector3_t> com(model_->body_ipos + 3 * b);
  Eigen::Map<Eigen::Vector4d> iquat(model_->body_iquat + 4 * b);
  Eigen::Map<vector3_t> principal(model_->body_inertia + 3 * b);
  // Inertia about the old centre of mass in trunk axes, then both masses about the new one.
  const Eigen::Quaterniond axes(iquat(0), iquat(1), iquat(2), iquat(3));
  const matrix3_t rotation = axes.normalized().toRotationMatrix();
  matrix3_t inertia = rotation * principal.asDiagonal() * rotation.transpose();
  const vector3_t new_com = (mass * com + mass_kg * point_trunk) / (mass + mass_kg);
  const auto steiner = [](double m, const vector3_t& d) -> matrix3_t {
    return m * (d.squaredNorm() * matrix3_t::Identity() - d * d.transpose());
  };
  inertia += steiner(mass, com - new_com) + steiner(mass_kg, point_trunk - new_com);
  const Eigen::SelfAdjointEigenSolver<matrix3_t> solver(inertia);
  matrix3_t new_axes = solver.eigenvectors();
  if (new_axes.determinant() < 0.0) new_axes.col(2) *= -1.0;
  const Eigen::Quaterniond new_quat(new_axes);
  principal = solver.eigenvalues();
  iquat << new_quat.w(), new_quat.x(), new_quat.y(), new_quat.z();
  Eigen::Map<vector3_t>(model_->body_ipos + 3 * b) = new_com;
  model_->body_mass[b] = mass + mass_kg;
  // Constants derived from masses (subtree masses, inverse weights), computed on a scratch
  // state: mj_setConst moves the state it is given to the reference pose.
  mjData* scratch = mj_makeData(model_);
  mj_setConst(model_, scratch);
  mj_deleteData(scratch);
}

void MujocoPlant::setFloorFriction(double mu) {
  if (!(mu > 0.0) || !std::isfinite(mu)) {
    throw std::invalid_argument("MujocoPlant::setFloorFriction: the coefficient must be positive");
  }
  for (int g = 0; g < model_->ngeom; ++g) {
    if (isGround(g)) model_->geom_friction[3 * g] = mu;
  }
}

vector_t MujocoPlant::appliedJointTorques() const {
  vector_t torques = vector_t::Zero(static_cast<Eigen::Index>(joint_names_.size()));
  if (!released_) return torques;
  for (size_t j = 0; j < joint_names_.size(); ++j) {
    torques(static_cast<Eigen::Index>(j)) = data_->qfrc_applied[layout_.joint_qvel_address[j]];
  }
  return torques;
}

void MujocoPlant::step() {
  if (!released_) {
    holdInitialPose();
    data_->time += model_->opt.timestep;
    return;
  }
  std::fill(data_->qfrc_applied, data_->qfrc_applied + model_->nv, 0.0);
  for (size_t j = 0; j < joint_names_.size(); ++j) {
    const auto k = static_cast<Eigen::Index>(j);
    const double q = data_->qpos[layout_.joint_qpos_address[j]];
    const double qd = data_->qvel[layout_.joint_qvel_address[j]];
    const double tau = kp_(k) * (pos_(k) - q) + kd_(k) * (vel_(k) - qd) + torque_(k);
    data_->qfrc_applied[layout_.joint_qvel_address[j]] =
        std::clamp(tau, -effort_limit_[j], effort_limit_[j]);
  }
  std::fill(data_->xfrc_applied, data_->xfrc_applied + 6 * model_->nbody, 0.0);
  if (!push_world_.isZero(0.0)) {
    // The force acts at the push point; xfrc_applied takes it at the centre of mass with the
    // moment it makes about it. Positions of the current state, as the step computes them.
    mj_kinematics(model_, data_);
    const Eigen::Map<const vector3_t> origin(data_->xpos + 3 * trunk_body_);
    const Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>> axes(data_->xmat +
                                                                              9 * trunk_body_);
    const Eigen::Map<const vector3_t> com(data_->xipos + 3 * trunk_body_);
    const vector3_t torque = (origin + axes * push_point_ - com).cross(push_world_);
    for (int k = 0; k < 3; ++k) {
      data_->xfrc_applied[6 * trunk_body_ + k] = push_world_(k);
      data_->xfrc_applied[6 * trunk_body_ + 3 + k] = torque(k);
    }
  }
  mj_step(model_, data_);
}

vector_t MujocoPlant::mjQpos() const { return Eigen::Map<const vector_t>(data_->qpos, model_->nq); }
vector_t MujocoPlant::mjQvel() const { return Eigen::Map<const vector_t>(data_->qvel, model_->nv); }

vector_t MujocoPlant::controllerQpos() const { return toControllerQpos(mjQpos(), layout_); }
vector_t MujocoPlant::controllerQvel() const {
  return toControllerQvel(mjQpos(), mjQvel(), layout_);
}

std::string MujocoPlant::nonFootContactBody() const {
  for (int c = 0; c < data_->ncon; ++c) {
    const mjContact& contact = data_->contact[c];
    if (!isGround(contact.geom1) && !isGround(contact.geom2)) continue;
    const int other = isGround(contact.geom1) ? contact.geom2 : contact.geom1;
    const int body = model_->geom_bodyid[other];
    if (std::find(lower_leg_body_.begin(), lower_leg_body_.end(), body) != lower_leg_body_.end() &&
        terrain_.spec().type != TerrainSpec::Type::kFlat) {
      continue;  // a lower leg grazing a step's edge or a bump
    }
    if (std::find(foot_body_.begin(), foot_body_.end(), body) == foot_body_.end()) {
      const char* name = mj_id2name(model_, mjOBJ_BODY, body);
      return name != nullptr ? std::string(name) : "body " + std::to_string(body);
    }
  }
  return {};
}

std::vector<bool> MujocoPlant::footContacts() const {
  std::vector<bool> in_contact(foot_body_.size(), false);
  for (int c = 0; c < data_->ncon; ++c) {
    const mjContact& contact = data_->contact[c];
    if (!isGround(contact.geom1) && !isGround(contact.geom2)) continue;
    const int other = isGround(contact.geom1) ? contact.geom2 : contact.geom1;
    const int body = model_->geom_bodyid[other];
    for (size_t i = 0; i < foot_body_.size(); ++i) {
      if (foot_body_[i] == body) in_contact[i] = true;
    }
  }
  return in_contact;
}

std::vector<double> MujocoPlant::footVerticalForces() const {
  std::vector<double> force_z(foot_body_.size(), 0.0);
  for (int c = 0; c < data_->ncon; ++c) {
    const mjContact& contact = data_->contact[c];
    if (!isGround(contact.geom1) && !isGround(contact.geom2)) continue;
    const bool foot_is_second = !isGround(contact.geom2);
    const int body = model_->geom_bodyid[foot_is_second ? contact.geom2 : contact.geom1];
    // Force in the contact frame (normal, two tangents: the rows of `frame`), exerted by geom1
    // on geom2; its world z is the z column of the frame.
    mjtNum local[6];
    mj_contactForce(model_, data_, c, local);
    const double world_z =
        local[0] * contact.frame[2] + local[1] * contact.frame[5] + local[2] * contact.frame[8];
    for (size_t i = 0; i < foot_body_.size(); ++i) {
      if (foot_body_[i] == body) force_z[i] += foot_is_second ? world_z : -world_z;
    }
  }
  return force_z;
}

}  // namespace sim
}  // namespace velmora
