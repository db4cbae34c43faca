// The generated type support against Cyclone DDS's own serialiser: samples written by a plain
// Cyclone writer with the C types that idlc compiles from the generated IDL decode, in a velmora
// subscription, to the very values written: nested structs, fixed arrays, unbounded sequences
// and 8-byte values after strings of odd lengths (where alignment goes wrong first).

#include <dds/dds.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DdsTestSupport.h"
#include "nav_msgs/msg/Odometry.h"
#include "nav_msgs/msg/odometry.hpp"
#include "sensor_msgs/msg/JointState.h"
#include "sensor_msgs/msg/joint_state.hpp"

namespace velmora::dds_test {
namespace {

// Writes `sample` with a plain Cyclone DDS writer of `descriptor` on DDS topic `dds_topic`, once
// a reader has matched.
void writeWithCyclone(const dds_topic_descriptor_t& descriptor, const char* dds_topic,
                      const void* sample) {
  const dds_entity_t participant = dds_create_participant(testDomainId(), nullptr, nullptr);
  ASSERT_GE(participant, 0);
  const dds_entity_t topic =
      dds_create_topic(participant, &descriptor, dds_topic, nullptr, nullptr);
  ASSERT_GE(topic, 0) << dds_strretcode(topic);
  const dds_entity_t writer = dds_create_writer(participant, topic, nullptr, nullptr);
  ASSERT_GE(writer, 0);
  dds_publication_matched_status_t matched{};
  for (int i = 0; i < 500 && matched.current_count == 0; ++i) {
    dds_sleepfor(DDS_MSECS(10));
    dds_get_publication_matched_status(writer, &matched);
  }
  ASSERT_EQ(matched.current_count, 1u) << "no velmora reader matched " << dds_topic;
  ASSERT_EQ(dds_write(writer, sample), DDS_RETCODE_OK);
  dds_wait_for_acks(writer, DDS_SECS(5));
  dds_delete(participant);
}

std::vector<char*> cStrings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  return pointers;
}

TEST(DdsGeneratedTypes, OdometryFromCycloneDecodesToTheValuesWritten) {
  DdsEnvironment environment(testDomainId());
  MessageCollector<nav_msgs::msg::Odometry> collector("/odom_check", rclcpp::QoS(10).reliable());
  nav_msgs::msg::Odometry expected;
  expected.header.stamp.sec = -3;
  expected.header.stamp.nanosec = 999999999u;
  expected.header.frame_id = "odo";
  expected.child_frame_id = "base";  // ends 3 bytes past a multiple of 4: padding to 8 differs
  expected.pose.pose.position.x = 1.25;
  expected.pose.pose.position.y = -2.5e-7;
  expected.pose.pose.position.z = 0.3;
  expected.pose.pose.orientation.x = 0.1;
  expected.pose.pose.orientation.w = 0.99498743710662;
  expected.twist.twist.linear.x = 0.5;
  expected.twist.twist.angular.z = -0.75;
  for (size_t i = 0; i < 36; ++i) {
    expected.pose.covariance[i] = 0.5 * static_cast<double>(i) - 3.0;
    expected.twist.covariance[i] = 1.0 / (1.0 + static_cast<double>(i));
  }

  nav_msgs_msg_dds__Odometry_ sample{};
  sample.header.stamp.sec = expected.header.stamp.sec;
  sample.header.stamp.nanosec = expected.header.stamp.nanosec;
  sample.header.frame_id = expected.header.frame_id.data();
  sample.child_frame_id = expected.child_frame_id.data();
  const auto& pose = expected.pose.pose;
  sample.pose.pose.position = {pose.position.x, pose.position.y, pose.position.z};
  sample.pose.pose.orientation = {pose.orientation.x, pose.orientation.y, pose.orientation.z,
                                  pose.orientation.w};
  const auto& twist = expected.twist.twist;
  sample.twist.twist.linear = {twist.linear.x, twist.linear.y, twist.linear.z};
  sample.twist.twist.angular = {twist.angular.x, twist.angular.y, twist.angular.z};
  for (size_t i = 0; i < 36; ++i) {
    sample.pose.covariance[i] = expected.pose.covariance[i];
    sample.twist.covariance[i] = expected.twist.covariance[i];
  }
  writeWithCyclone(nav_msgs_msg_dds__Odometry__desc, "rt/odom_check", &sample);
  ASSERT_TRUE(collector.await(1));
  EXPECT_EQ(collector.received()[0], expected);
  EXPECT_EQ(collector.subscription().refused_sample_count(), 0u);
}

TEST(DdsGeneratedTypes, JointStateFromCycloneDecodesToTheValuesWritten) {
  DdsEnvironment environment(testDomainId());
  MessageCollector<sensor_msgs::msg::JointState> collector("/joint_check",
                                                           rclcpp::QoS(10).reliable());
  sensor_msgs::msg::JointState expected;
  expected.header.stamp.sec = 42;
  expected.header.frame_id = "";
  expected.name = {"a", "hip_joint", "knee"};
  expected.position = {0.1, -1.7976931348623157e308, 3.0};
  expected.velocity = {};  // may be empty
  expected.effort = {-2.0, 4.9406564584124654e-324, 7.5};

  std::vector<std::string> names(expected.name.begin(), expected.name.end());
  std::vector<char*> name_pointers = cStrings(names);
  std::string frame_id;
  sensor_msgs_msg_dds__JointState_ sample{};
  sample.header.stamp.sec = expected.header.stamp.sec;
  sample.header.frame_id = frame_id.data();
  sample.name = {3, 3, name_pointers.data(), false};
  sample.position = {3, 3, expected.position.data(), false};
  sample.velocity = {0, 0, nullptr, false};
  sample.effort = {3, 3, expected.effort.data(), false};
  writeWithCyclone(sensor_msgs_msg_dds__JointState__desc, "rt/joint_check", &sample);
  ASSERT_TRUE(collector.await(1));
  EXPECT_EQ(collector.received()[0], expected);
}

}  // namespace
}  // namespace velmora::dds_test
