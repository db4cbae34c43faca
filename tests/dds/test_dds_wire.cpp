// The wire format seen from outside: an independent Cyclone DDS C program, built from a
// hand-written IDL of ROS 2's mapping, decodes the commands a MotionController publishes over
// DDS and finds the names and values that velmora's own subscription decodes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "CapturedProcess.h"
#include "DdsTestSupport.h"
#include "motion_controller/MotionTestSupport.h"
#include "rclcpp/detail/dds_participant.hpp"

namespace velmora::dds_test {
namespace {

using namespace std::chrono_literals;
using motion_test::CommandListener;
using motion_test::StatePusher;

// One sample as the reference reader printed it.
struct ReferenceSample {
  int32_t sec = 0;
  uint32_t nanosec = 0;
  std::string frame_id;
  std::vector<size_t> lengths;  // of the six sequences
  std::vector<std::string> names;
  std::vector<std::vector<float>> values;  // per joint: kp, pos, kd, vel, torque
};

std::vector<ReferenceSample> parseReferenceOutput(const std::string& text) {
  std::vector<ReferenceSample> samples;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first == "ready" || first.empty()) continue;
    if (first == "sample") {
      ReferenceSample sample;
      words >> sample.sec >> sample.nanosec >> sample.frame_id;
      sample.frame_id = sample.frame_id.substr(1, sample.frame_id.size() - 2);  // "[...]"
      for (size_t length; words >> length;) sample.lengths.push_back(length);
      samples.push_back(sample);
      continue;
    }
    if (samples.empty()) continue;
    samples.back().names.push_back(first);
    std::vector<float> joint;
    for (std::string value; words >> value;) joint.push_back(std::strtof(value.c_str(), nullptr));
    samples.back().values.push_back(joint);
  }
  return samples;
}

class DdsWire : public motion_test::MotionTest {
 protected:
  void SetUp() override {
    environment_ = std::make_unique<DdsEnvironment>(testDomainId());
    MotionTest::SetUp();
  }
  void TearDown() override {
    MotionTest::TearDown();
    environment_.reset();
  }

 private:
  std::unique_ptr<DdsEnvironment> environment_;
};

TEST_F(DdsWire, AnIndependentReaderDecodesTheControllersCommands) {
  constexpr int kSamples = 20;
  CapturedProcess reader(
      {REFERENCE_READER, std::to_string(testDomainId()), std::to_string(kSamples), "30"},
      {{"CYCLONEDDS_URI", rclcpp::detail::dds_loopback_config()}});
  CommandListener listener("actuators_cmds");
  auto controller = makeController();
  feedStanding(*controller);
  StatePusher host(
      *controller, [this] { return standingQpos(); }, [this] { return zeroQvel(); });
  ASSERT_EQ(reader.wait(40s), 0) << "the reference reader did not get " << kSamples << " samples:\n"
                                 << reader.output();

  std::map<std::pair<int32_t, uint32_t>, ActuatorCmds> ours;
  for (const auto& message : listener.messages()) {
    ours[{message.header.stamp.sec, message.header.stamp.nanosec}] = message;
  }
  const auto samples = parseReferenceOutput(reader.output());
  ASSERT_EQ(samples.size(), static_cast<size_t>(kSamples));
  size_t compared = 0;
  for (const auto& sample : samples) {
    const auto found = ours.find({sample.sec, sample.nanosec});
    if (found == ours.end()) continue;  // best effort: our own listener may have missed it
    const ActuatorCmds& message = found->second;
    ++compared;
    EXPECT_EQ(sample.frame_id, message.header.frame_id);
    const size_t n = message.actuators_name.size();
    EXPECT_EQ(sample.lengths, std::vector<size_t>(6, n));
    ASSERT_EQ(sample.names.size(), n);
    for (size_t j = 0; j < n; ++j) {
      EXPECT_EQ(sample.names[j], message.actuators_name[j]);
      const std::vector<float> expected{message.kp[j], message.pos[j], message.kd[j],
                                        message.vel[j], message.torque[j]};
      EXPECT_EQ(sample.values[j], expected) << "joint " << message.actuators_name[j];
    }
  }
  EXPECT_GE(compared, kSamples / 2u) << "too few samples seen by both readers";
}

// The structs of an IDL file by qualified name ("a::b::S_"), each as its member declarations
// with whitespace normalised.
std::map<std::string, std::vector<std::string>> idlStructs(const std::string& path) {
  std::ifstream file(path);
  EXPECT_TRUE(file.good()) << path;
  std::map<std::string, std::vector<std::string>> structs;
  std::vector<std::string> modules;
  std::string current;  // the struct being read
  for (std::string line; std::getline(file, line);) {
    std::istringstream words(line.substr(0, line.find("//")));
    std::vector<std::string> tokens;
    for (std::string word; words >> word;) tokens.push_back(word);
    if (tokens.empty() || tokens[0][0] == '#') continue;
    if (tokens[0] == "module") {
      modules.push_back(tokens[1]);
    } else if (tokens[0] == "struct") {
      current.clear();
      for (const auto& module : modules) current += module + "::";
      current += tokens[1];
      structs[current];
    } else if (tokens[0] == "};") {
      if (!current.empty()) {
        current.clear();
      } else if (!modules.empty()) {
        modules.pop_back();
      }
    } else if (!current.empty()) {
      std::string member;
      for (const auto& token : tokens) member += (member.empty() ? "" : " ") + token;
      structs[current].push_back(member);
    }
  }
  return structs;
}

// Field order, types, bounds and type names of the generated IDL equal the hand-written
// reference (the wire carries no bounds, so the decoding test alone cannot see them).
TEST(DdsWireIdl, TheGeneratedIdlMatchesTheHandWrittenReference) {
  const auto reference = idlStructs(REFERENCE_IDL);
  ASSERT_EQ(reference.size(), 3u);
  std::map<std::string, std::vector<std::string>> generated;
  for (const char* file : {"builtin_interfaces/msg/Time.idl", "std_msgs/msg/Header.idl",
                           "communication/msg/ActuatorCmds.idl"}) {
    for (const auto& entry : idlStructs(std::string(GENERATED_IDL_DIR) + "/" + file)) {
      generated.insert(entry);
    }
  }
  for (const auto& [name, members] : reference) {
    ASSERT_TRUE(generated.count(name)) << "the generated IDL has no struct " << name;
    EXPECT_EQ(generated.at(name), members) << name;
  }
}

}  // namespace
}  // namespace velmora::dds_test
