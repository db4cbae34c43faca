#pragma once

// Everything computed from a model at one state (see the algorithms in rigid_body/algorithms).
// "local" quantities of joint i are expressed in joint i's frame; "world" ones in the world
// frame (at the world origin for spatial vectors). Spatial vectors are linear first.

#include <vector>

#include "core/Types.h"
#include "rigid_body/Force.h"
#include "rigid_body/Inertia.h"
#include "rigid_body/Model.h"
#include "rigid_body/Motion.h"
#include "rigid_body/SE3.h"

namespace velmora::rigid_body {

/// Workspace and results of the rigid-body algorithms for one model; sized once at construction
/// so that no algorithm allocates.
struct Data {
  /// Sizes every field for `model`.
  explicit Data(const Model& model);

  // Per joint.
  std::vector<SE3> liMi;       ///< joint i in its parent joint's frame
  std::vector<SE3> oMi;        ///< joint i in the world
  std::vector<Motion> v;       ///< velocity of joint i's body, local
  std::vector<Motion> a;       ///< drift (zero generalised acceleration) spatial acc., local
  std::vector<Motion> a_gf;    ///< the same plus the fictitious upward gravity acceleration
  std::vector<Force> f;        ///< force transmitted by joint i (nonlinear effects pass), local
  std::vector<Inertia> oYcrb;  ///< composite inertia of the subtree of joint i, world
  std::vector<scalar_t> mass;  ///< mass of the subtree of joint i; mass[0] = total mass [kg]
  std::vector<vector3_t> com;  ///< centre of mass of the subtree of joint i, world [m]

  // Per frame.
  std::vector<SE3> oMf;                  ///< frame placement in the world
  std::vector<Motion> vf_world_aligned;  ///< frame velocity, world-aligned axes, frame origin
  std::vector<Motion> af_local;          ///< frame drift acceleration, frame axes (classical)
  std::vector<Motion> af_world_aligned;  ///< the same, world-aligned axes

  matrix6x_t J;  ///< joint Jacobians: column k is the motion of velocity coordinate k, world
  matrix_t M;    ///< joint-space inertia matrix (Nv x Nv, both triangles)
  vector_t nle;  ///< nonlinear effects h(q, v) = C(q, v) v + g(q) (Nv)
  Inertia Ig;    ///< whole-robot inertia: total mass, COM and inertia about it, world axes
};

}  // namespace velmora::rigid_body
