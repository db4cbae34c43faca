#pragma once

/// Quality-of-service policy types of the middleware interface.

#include <cstddef>
#include <cstdint>

/// History policy: how many samples a queue keeps.
typedef enum rmw_qos_history_policy_e {
  RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT,
  RMW_QOS_POLICY_HISTORY_KEEP_LAST,  ///< Keep the newest `depth` samples.
  RMW_QOS_POLICY_HISTORY_KEEP_ALL,   ///< Keep every sample.
  RMW_QOS_POLICY_HISTORY_UNKNOWN
} rmw_qos_history_policy_t;

/// Reliability policy. A reliable reader does not match a best-effort writer.
typedef enum rmw_qos_reliability_policy_e {
  RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT,
  RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT,
  RMW_QOS_POLICY_RELIABILITY_UNKNOWN
} rmw_qos_reliability_policy_t;

/// Durability policy. A transient-local reader does not match a volatile writer.
typedef enum rmw_qos_durability_policy_e {
  RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT,
  RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL,  ///< Late-joining readers get the writer's history.
  RMW_QOS_POLICY_DURABILITY_VOLATILE,
  RMW_QOS_POLICY_DURABILITY_UNKNOWN
} rmw_qos_durability_policy_t;

/// Liveliness policy (stored, not enforced by the in-process transport).
typedef enum rmw_qos_liveliness_policy_e {
  RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT = 0,
  RMW_QOS_POLICY_LIVELINESS_AUTOMATIC = 1,
  RMW_QOS_POLICY_LIVELINESS_MANUAL_BY_TOPIC = 3,
  RMW_QOS_POLICY_LIVELINESS_UNKNOWN = 4
} rmw_qos_liveliness_policy_t;

/// A time span in seconds and nanoseconds; zero means "unspecified".
typedef struct rmw_time_s {
  uint64_t sec;
  uint64_t nsec;
} rmw_time_t;

#define RMW_DURATION_UNSPECIFIED \
  rmw_time_t { 0, 0 }
#define RMW_QOS_POLICY_DEPTH_SYSTEM_DEFAULT 0
#define RMW_QOS_DEADLINE_DEFAULT RMW_DURATION_UNSPECIFIED
#define RMW_QOS_LIFESPAN_DEFAULT RMW_DURATION_UNSPECIFIED
#define RMW_QOS_LIVELINESS_LEASE_DURATION_DEFAULT RMW_DURATION_UNSPECIFIED

/// A complete quality-of-service profile. Deadline, lifespan and liveliness are carried along
/// but not enforced in-process.
typedef struct rmw_qos_profile_s {
  enum rmw_qos_history_policy_e history;
  size_t depth;
  enum rmw_qos_reliability_policy_e reliability;
  enum rmw_qos_durability_policy_e durability;
  struct rmw_time_s deadline;
  struct rmw_time_s lifespan;
  enum rmw_qos_liveliness_policy_e liveliness;
  struct rmw_time_s liveliness_lease_duration;
  bool avoid_ros_namespace_conventions;
} rmw_qos_profile_t;
