#include "dds_qos.hpp"

#include <algorithm>

namespace rclcpp {
namespace detail {

DdsQosPtr to_dds_qos(const QoS& qos) {
  DdsQosPtr dds_qos(dds_create_qos());
  if (qos.reliability() == ReliabilityPolicy::BestEffort) {
    dds_qset_reliability(dds_qos.get(), DDS_RELIABILITY_BEST_EFFORT, 0);
  } else {
    dds_qset_reliability(dds_qos.get(), DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  }
  dds_qset_durability(dds_qos.get(), qos.durability() == DurabilityPolicy::TransientLocal
                                         ? DDS_DURABILITY_TRANSIENT_LOCAL
                                         : DDS_DURABILITY_VOLATILE);
  if (qos.history() == HistoryPolicy::KeepAll) {
    dds_qset_history(dds_qos.get(), DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
  } else {
    const size_t depth = std::max<size_t>(qos.depth(), 1);
    dds_qset_history(dds_qos.get(), DDS_HISTORY_KEEP_LAST,
                     static_cast<int32_t>(std::min<size_t>(depth, INT32_MAX)));
  }
  const dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(dds_qos.get(), 1, &xcdr1);
  return dds_qos;
}

const char* qos_policy_name(dds_qos_policy_id_t policy) {
  switch (policy) {
    case DDS_RELIABILITY_QOS_POLICY_ID:
      return "RELIABILITY_QOS_POLICY";
    case DDS_DURABILITY_QOS_POLICY_ID:
      return "DURABILITY_QOS_POLICY";
    case DDS_DEADLINE_QOS_POLICY_ID:
      return "DEADLINE_QOS_POLICY";
    case DDS_LIVELINESS_QOS_POLICY_ID:
      return "LIVELINESS_QOS_POLICY";
    case DDS_HISTORY_QOS_POLICY_ID:
      return "HISTORY_QOS_POLICY";
    case DDS_DATA_REPRESENTATION_QOS_POLICY_ID:
      return "DATA_REPRESENTATION_QOS_POLICY";
    default:
      return "UNKNOWN_QOS_POLICY";
  }
}

}  // namespace detail
}  // namespace rclcpp
