#include "sim/StateConversion.h"

#include <stdexcept>

#include <Eigen/Geometry>

namespace velmora {
namespace sim {
namespace {

void checkAddress(int address, int count, Eigen::Index size, const char* what) {
  if (address < 0 || address + count > size) {
    throw std::invalid_argument(std::string("plant state conversion: ") + what + " address " +
                                std::to_string(address) + " lies outside a vector of size " +
                                std::to_string(size));
  }
}

Eigen::Quaterniond baseQuaternion(const vector_t& mj_qpos, int address) {
  return Eigen::Quaterniond(mj_qpos(address + 3), mj_qpos(address + 4), mj_qpos(address + 5),
                            mj_qpos(address + 6))
      .normalized();
}

}  // namespace

vector_t toControllerQpos(const vector_t& mj_qpos, const PlantStateLayout& layout) {
  checkAddress(layout.base_qpos_address, 7, mj_qpos.size(), "base qpos");
  const auto nJ = static_cast<Eigen::Index>(layout.joint_qpos_address.size());
  vector_t qpos(7 + nJ);
  const int b = layout.base_qpos_address;
  qpos.head<3>() = mj_qpos.segment<3>(b);
  const Eigen::Quaterniond quat = baseQuaternion(mj_qpos, b);
  qpos.segment<4>(3) << quat.x(), quat.y(), quat.z(), quat.w();
  for (Eigen::Index j = 0; j < nJ; ++j) {
    const int address = layout.joint_qpos_address[static_cast<size_t>(j)];
    checkAddress(address, 1, mj_qpos.size(), "joint qpos");
    qpos(7 + j) = mj_qpos(address);
  }
  return qpos;
}

vector_t toControllerQvel(const vector_t& mj_qpos, const vector_t& mj_qvel,
                          const PlantStateLayout& layout) {
  checkAddress(layout.base_qpos_address, 7, mj_qpos.size(), "base qpos");
  checkAddress(layout.base_qvel_address, 6, mj_qvel.size(), "base qvel");
  const auto nJ = static_cast<Eigen::Index>(layout.joint_qvel_address.size());
  vector_t qvel(6 + nJ);
  const Eigen::Matrix3d R = baseQuaternion(mj_qpos, layout.base_qpos_address).toRotationMatrix();
  const int b = layout.base_qvel_address;
  qvel.head<3>() = R.transpose() * mj_qvel.segment<3>(b);
  qvel.segment<3>(3) = mj_qvel.segment<3>(b + 3);
  for (Eigen::Index j = 0; j < nJ; ++j) {
    const int address = layout.joint_qvel_address[static_cast<size_t>(j)];
    checkAddress(address, 1, mj_qvel.size(), "joint qvel");
    qvel(6 + j) = mj_qvel(address);
  }
  return qvel;
}

}  // namespace sim
}  // namespace velmora
