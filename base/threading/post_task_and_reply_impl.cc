#include "base/threading/post_task_and_reply_impl.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/single_thread_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"

namespace base {
namespace internal {
namespace {

// Carries the task and the reply from the posting thread to the destination and back. Owned by the chain of
// posted closures: the destination's closure hands it to the reply's closure, which deletes it.
class PostTaskAndReplyRelay {
 public:
  PostTaskAndReplyRelay(const Location& from_here, Closure task, Closure reply)
      : from_here_(from_here),
        origin_task_runner_(ThreadTaskRunnerHandle::Get()),
        reply_(std::move(reply)),
        task_(std::move(task)) {}
  PostTaskAndReplyRelay(const PostTaskAndReplyRelay&) = delete;
  PostTaskAndReplyRelay& operator=(const PostTaskAndReplyRelay&) = delete;

  // On the destination.
  void RunTaskAndPostReply() {
    task_.Run();
    // The reply may run, and delete this relay, before PostTask returns: keep what the post needs.
    const Location from_here = from_here_;
    const scoped_refptr<SingleThreadTaskRunner> origin = origin_task_runner_;
    origin->PostTask(from_here, Bind(&PostTaskAndReplyRelay::RunReplyAndSelfDestruct, Unretained(this)));
    // When the origin no longer accepts tasks (its loop is gone) the post fails and this relay is never
    // deleted: the task and the reply, with every value bound to them, stay alive for the rest of the
    // process. They may hold objects that must only be destroyed on the origin thread, which runs nothing
    // any more; destroying them here, on the destination, could be unsafe. The same happens when the
    // destination drops the first closure without running it.
  }

 private:
  // On the posting thread.
  void RunReplyAndSelfDestruct() {
    // The task's bound values die here, on the posting thread, not on the destination.
    task_.Reset();
    reply_.Run();
    delete this;
  }

  const Location from_here_;
  const scoped_refptr<SingleThreadTaskRunner> origin_task_runner_;
  Closure reply_;
  Closure task_;  // declared last, so that it dies before the reply
};

}  // namespace

bool PostTaskAndReplyImpl::PostTaskAndReply(const Location& from_here, Closure task, Closure reply) {
  CHECK(!task.is_null()) << from_here.function_name();
  CHECK(!reply.is_null()) << from_here.function_name();
  auto* relay = new PostTaskAndReplyRelay(from_here, std::move(task), std::move(reply));
  if (!PostTask(from_here, Bind(&PostTaskAndReplyRelay::RunTaskAndPostReply, Unretained(relay)))) {
    delete relay;
    return false;
  }
  return true;
}

}  // namespace internal
}  // namespace base
