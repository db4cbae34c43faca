#pragma once

// Products with a stage's dynamics [B A] and general rows [D C] restricted to the IPM's free
// variables (internal). Both use the sparsity found at load time: identically zero columns of
// BA are skipped, and general rows with few non-zeros are applied row by row.

#include <Eigen/Dense>

#include "IpmStage.h"

namespace velmora::ocp_qp::detail {

/// Finds the non-zero free columns of BA and the sparsity of the general rows (after loading).
void analyseStageSparsity(IpmStage& st);

/// out = G v (general-row values of the free vector v).
void generalRowsTimes(const IpmStage& st, const Eigen::VectorXd& v,
                      Eigen::Ref<Eigen::VectorXd> out);

/// out += sign * G' coeff (coeff has ng entries).
void addGeneralRowsTransposed(const IpmStage& st, const Eigen::Ref<const Eigen::VectorXd>& coeff,
                              double sign, Eigen::Ref<Eigen::VectorXd> out);

/// M += G' diag(w_general) G on the free block.
void addGeneralRowsWeighted(IpmStage& st, Eigen::Ref<Eigen::MatrixXd> M);

/// out += BA v (free v).
void addDynamicsTimes(IpmStage& st, const Eigen::VectorXd& v, Eigen::Ref<Eigen::VectorXd> out);

/// out += BA' y (free part of out).
void addDynamicsTransposed(IpmStage& st, const Eigen::VectorXd& y, Eigen::Ref<Eigen::VectorXd> out);

/// M += BA' P BA on the free block.
void addDynamicsQuadratic(IpmStage& st, const Eigen::MatrixXd& P, Eigen::Ref<Eigen::MatrixXd> M);

}  // namespace velmora::ocp_qp::detail
