// The task table from the task iterator's records, and what of it the caller may see.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "platform/perfdata/TaskTable.h"

namespace ombrix::probe {

// Builds the table from the iterator's records: a process for every thread group's leader, with
// its threads and the group's totals (its ended threads' share included). Records cut short or of
// no known kind end the reading there; threads whose leader is not among the records are left
// out. False when the records were not whole.
bool BuildTaskTable(const std::vector<std::uint8_t>& records, platform::TaskTable& table);

// What a caller that sees only its own processes may see: the I/O counts of its own processes
// (as /proc shows them), and, where /proc hides other users' processes, only its own.
struct TaskView {
  bool Everything = true;
  uid_t Uid = 0;
  bool HideOthers = false;
};
void NarrowTaskTable(const TaskView& view, platform::TaskTable& table);

}  // namespace ombrix::probe
