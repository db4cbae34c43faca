#include "ocp_qp/OcpQpIpmWorkspace.h"

#include "IpmStage.h"

namespace velmora::ocp_qp {

OcpQpIpmWorkspace::OcpQpIpmWorkspace() : data_(std::make_unique<detail::IpmData>()) {}
OcpQpIpmWorkspace::~OcpQpIpmWorkspace() = default;
OcpQpIpmWorkspace::OcpQpIpmWorkspace(OcpQpIpmWorkspace&&) noexcept = default;
OcpQpIpmWorkspace& OcpQpIpmWorkspace::operator=(OcpQpIpmWorkspace&&) noexcept = default;

}  // namespace velmora::ocp_qp
