#pragma once

#include <cstddef>

#include "rmw/qos_profiles.h"
#include "rmw/types.h"

namespace rclcpp {

/// History policy of a QoS profile.
enum class HistoryPolicy {
  KeepLast = RMW_QOS_POLICY_HISTORY_KEEP_LAST,
  KeepAll = RMW_QOS_POLICY_HISTORY_KEEP_ALL,
  SystemDefault = RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT,
  Unknown = RMW_QOS_POLICY_HISTORY_UNKNOWN,
};

/// Reliability policy of a QoS profile.
enum class ReliabilityPolicy {
  BestEffort = RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT,
  Reliable = RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  SystemDefault = RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT,
  Unknown = RMW_QOS_POLICY_RELIABILITY_UNKNOWN,
};

/// Durability policy of a QoS profile.
enum class DurabilityPolicy {
  Volatile = RMW_QOS_POLICY_DURABILITY_VOLATILE,
  TransientLocal = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL,
  SystemDefault = RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT,
  Unknown = RMW_QOS_POLICY_DURABILITY_UNKNOWN,
};

/// The history part of a QoS profile, the one part a `QoS` cannot be built without.
struct QoSInitialization {
  rmw_qos_history_policy_t history_policy;
  size_t depth;

  /// A keep-last history of depth 0 stores nothing; it is logged (with `print_depth_warning`)
  /// and treated as the system default (a queue of one).
  QoSInitialization(rmw_qos_history_policy_t history_policy_arg, size_t depth_arg,
                    bool print_depth_warning = true);

  /// The history part of `rmw_qos`.
  static QoSInitialization from_rmw(const rmw_qos_profile_t& rmw_qos);
};

/// Keep every sample.
struct KeepAll : public QoSInitialization {
  KeepAll();
};

/// Keep the newest `depth` samples.
struct KeepLast : public QoSInitialization {
  explicit KeepLast(size_t depth, bool print_depth_warning = true);
};

/// A quality-of-service profile with fluent setters.
class QoS {
 public:
  /// `initial_profile` with its history replaced by `qos_initialization`.
  explicit QoS(const QoSInitialization& qos_initialization,
               const rmw_qos_profile_t& initial_profile = rmw_qos_profile_default);
  /// The default profile with a keep-last history of `history_depth`.
  // NOLINTNEXTLINE(google-explicit-constructor): implicit as in rclcpp
  QoS(size_t history_depth);

  /// The underlying middleware profile.
  rmw_qos_profile_t& get_rmw_qos_profile();
  const rmw_qos_profile_t& get_rmw_qos_profile() const;

  // Fluent setters: each changes one policy and returns this profile.
  QoS& history(rmw_qos_history_policy_t history);
  QoS& history(HistoryPolicy history);
  QoS& keep_last(size_t depth);
  QoS& keep_all();
  QoS& reliability(rmw_qos_reliability_policy_t reliability);
  QoS& reliability(ReliabilityPolicy reliability);
  QoS& reliable();
  QoS& best_effort();
  QoS& durability(rmw_qos_durability_policy_t durability);
  QoS& durability(DurabilityPolicy durability);
  QoS& durability_volatile();
  QoS& transient_local();

  // The policies in force.
  HistoryPolicy history() const;
  size_t depth() const;
  ReliabilityPolicy reliability() const;
  DurabilityPolicy durability() const;

  /// True if every policy, depth and time span is equal.
  bool operator==(const QoS& other) const;
  bool operator!=(const QoS& other) const { return !(*this == other); }

 private:
  rmw_qos_profile_t rmw_qos_profile_;
};

/// The sensor-data profile: keep-last 5, best effort, volatile.
class SensorDataQoS : public QoS {
 public:
  explicit SensorDataQoS(const QoSInitialization& qos_initialization =
                             QoSInitialization::from_rmw(rmw_qos_profile_sensor_data));
};

/// The profile of the "/clock" topic: keep-last 1, best effort, volatile.
class ClockQoS : public QoS {
 public:
  explicit ClockQoS(const QoSInitialization& qos_initialization = KeepLast(1));
};

}  // namespace rclcpp
