/* An independent reader of the commands on DDS topic "rt/actuators_cmds": plain Cyclone DDS C,
   types from the hand-written ActuatorCmds.idl. Prints every sample it takes as
     sample <sec> <nanosec> [<frame_id>] <lengths of the six sequences>
     <name> <kp> <pos> <kd> <vel> <torque>      (one line per joint, values as %a)
   and stops after <count> samples or <timeout_s> seconds (exit code 1 if too few came).
   Usage: reference_reader <domain_id> <count> <timeout_s>
   The network configuration comes from CYCLONEDDS_URI, as for any Cyclone DDS program. */
#include <stdio.h>
#include <stdlib.h>

#include "ActuatorCmds.h"
#include "dds/dds.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s <domain_id> <count> <timeout_s>\n", argv[0]);
    return 2;
  }
  const dds_domainid_t domain = (dds_domainid_t)atoi(argv[1]);
  const int wanted = atoi(argv[2]);
  const double timeout_s = atof(argv[3]);

  const dds_entity_t participant = dds_create_participant(domain, NULL, NULL);
  const dds_entity_t topic = dds_create_topic(participant, &communication_msg_dds__ActuatorCmds__desc,
                                              "rt/actuators_cmds", NULL, NULL);
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_BEST_EFFORT, 0);
  const dds_entity_t reader = dds_create_reader(participant, topic, qos, NULL);
  dds_delete_qos(qos);
  if (participant < 0 || topic < 0 || reader < 0) {
    fprintf(stderr, "reference_reader: cannot create the DDS entities\n");
    return 2;
  }
  printf("ready\n");
  fflush(stdout);

  int taken = 0;
  const dds_time_t deadline = dds_time() + (dds_time_t)(timeout_s * 1e9);
  void* samples[1] = {NULL};
  dds_sample_info_t info;
  while (taken < wanted && dds_time() < deadline) {
    const dds_return_t count = dds_take(reader, samples, &info, 1, 1);
    if (count <= 0) {
      dds_sleepfor(DDS_MSECS(1));
      continue;
    }
    if (info.valid_data) {
      const communication_msg_dds__ActuatorCmds_* c = samples[0];
      printf("sample %d %u [%s] %u %u %u %u %u %u\n", (int)c->header.stamp.sec,
             (unsigned)c->header.stamp.nanosec, c->header.frame_id,
             (unsigned)c->actuators_name._length, (unsigned)c->kp._length, (unsigned)c->pos._length,
             (unsigned)c->kd._length, (unsigned)c->vel._length, (unsigned)c->torque._length);
      for (uint32_t i = 0; i < c->actuators_name._length; ++i) {
        printf("%s %a %a %a %a %a\n", c->actuators_name._buffer[i],
               i < c->kp._length ? c->kp._buffer[i] : 0.0, i < c->pos._length ? c->pos._buffer[i] : 0.0,
               i < c->kd._length ? c->kd._buffer[i] : 0.0, i < c->vel._length ? c->vel._buffer[i] : 0.0,
               i < c->torque._length ? c->torque._buffer[i] : 0.0);
      }
      ++taken;
    }
    dds_return_loan(reader, samples, count);
  }
  fflush(stdout);
  dds_delete(participant);
  return taken >= wanted ? 0 : 1;
}
