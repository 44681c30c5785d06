#include "platform/perfdata/TaskTable.h"

#include <memory>
#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
const void* g_owner = nullptr;
std::shared_ptr<TaskTableSource> g_source;

}  // namespace

void SetTaskTableSource(const void* owner, TaskTableSource source) {
  std::lock_guard lock(g_mutex);
  g_owner = owner;
  g_source = std::make_shared<TaskTableSource>(std::move(source));
}

void ClearTaskTableSource(const void* owner) {
  std::lock_guard lock(g_mutex);
  if (g_owner != owner) return;
  g_owner = nullptr;
  g_source.reset();
}

bool ReadTaskTable(TaskTable& table) {
  std::shared_ptr<TaskTableSource> source;
  {
    std::lock_guard lock(g_mutex);
    source = g_source;
  }
  return source != nullptr && (*source)(table);
}

}  // namespace platform
