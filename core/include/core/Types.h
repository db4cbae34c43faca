#pragma once

// Numeric aliases used throughout velmora. All quantities are SI (m, s, kg, N, rad) unless a
// name says otherwise.

#include <Eigen/Dense>

#include "core/EigenAbiCheck.h"

namespace velmora {

using scalar_t = double;
using vector_t = Eigen::Matrix<scalar_t, Eigen::Dynamic, 1>;
using matrix_t = Eigen::Matrix<scalar_t, Eigen::Dynamic, Eigen::Dynamic>;
using vector3_t = Eigen::Matrix<scalar_t, 3, 1>;
using vector4_t = Eigen::Matrix<scalar_t, 4, 1>;
using vector6_t = Eigen::Matrix<scalar_t, 6, 1>;
using matrix3_t = Eigen::Matrix<scalar_t, 3, 3>;
using matrix3x_t = Eigen::Matrix<scalar_t, 3, Eigen::Dynamic>;
using matrix6x_t = Eigen::Matrix<scalar_t, 6, Eigen::Dynamic>;

}  // namespace velmora
