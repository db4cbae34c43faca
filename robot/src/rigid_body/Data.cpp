#include "rigid_body/Data.h"

namespace velmora::rigid_body {

Data::Data(const Model& model)
    : liMi(model.njoints),
      oMi(model.njoints),
      v(model.njoints),
      a(model.njoints),
      a_gf(model.njoints),
      f(model.njoints),
      oYcrb(model.njoints),
      mass(model.njoints, 0.0),
      com(model.njoints, vector3_t::Zero()),
      oMf(model.nframes),
      vf_world_aligned(model.nframes),
      af_local(model.nframes),
      af_world_aligned(model.nframes),
      J(matrix6x_t::Zero(6, model.nv)),
      M(matrix_t::Zero(model.nv, model.nv)),
      nle(vector_t::Zero(model.nv)),
      Ig() {}

}  // namespace velmora::rigid_body
