#include "base/task_runner.h"

#include <utility>

#include "base/threading/post_task_and_reply_impl.h"

namespace base {
namespace {

// Posts the first half of a task-and-reply to a runner.
class PostTaskAndReplyTaskRunner : public internal::PostTaskAndReplyImpl {
 public:
  explicit PostTaskAndReplyTaskRunner(TaskRunner* destination) : destination_(destination) {}

 private:
  bool PostTask(const Location& from_here, Closure task) override {
    return destination_->PostTask(from_here, std::move(task));
  }

  TaskRunner* destination_;
};

}  // namespace

// static
void TaskRunnerTraits::Destruct(const TaskRunner* task_runner) {
  task_runner->OnDestruct();
}

bool TaskRunner::PostTask(const Location& from_here, Closure task) {
  return PostDelayedTask(from_here, std::move(task), TimeDelta());
}

bool TaskRunner::PostTaskAndReply(const Location& from_here, Closure task, Closure reply) {
  return PostTaskAndReplyTaskRunner(this).PostTaskAndReply(from_here, std::move(task), std::move(reply));
}

void TaskRunner::OnDestruct() const {
  delete this;
}

}  // namespace base
