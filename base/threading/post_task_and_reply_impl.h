// The common half of every PostTaskAndReply: runs a task somewhere, then its reply back on the calling
// thread. Subclasses say only how the task is posted to its destination.
#ifndef BASE_THREADING_POST_TASK_AND_REPLY_IMPL_H_
#define BASE_THREADING_POST_TASK_AND_REPLY_IMPL_H_

#include "base/callback.h"
#include "base/location.h"

namespace base {
namespace internal {

class PostTaskAndReplyImpl {
 public:
  virtual ~PostTaskAndReplyImpl() = default;

  // The calling thread must have a ThreadTaskRunnerHandle: the reply is posted to its runner. Both closures
  // must be non-null. False when the destination refuses the task: neither closure runs, and both are
  // destroyed here, on the calling thread.
  bool PostTaskAndReply(const Location& from_here, Closure task, Closure reply);

 private:
  virtual bool PostTask(const Location& from_here, Closure task) = 0;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_THREADING_POST_TASK_AND_REPLY_IMPL_H_
