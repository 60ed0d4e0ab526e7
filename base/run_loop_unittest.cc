#include "base/run_loop.h"

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(RunLoopTest, QuitBeforeRunMakesRunReturnAtOnceWithoutRunningAnything) {
  MessageLoop loop;
  bool ran = false;
  loop.PostTask(FROM_HERE, Bind([&ran] { ran = true; }));
  RunLoop run_loop;
  run_loop.Quit();
  run_loop.Run();
  EXPECT_FALSE(ran);
  EXPECT_FALSE(run_loop.running());
  EXPECT_FALSE(loop.is_running());
}

TEST(RunLoopTest, QuitClosureOfARunLoopThatIsGoneDoesNothing) {
  MessageLoop loop;
  Closure stale_quit;
  {
    RunLoop gone;
    stale_quit = gone.QuitClosure();
  }
  std::vector<std::string> order;
  RunLoop run_loop;
  loop.PostTask(FROM_HERE, stale_quit);
  loop.PostTask(FROM_HERE, Bind([&order] { order.push_back("after the stale quit"); }));
  loop.PostTask(FROM_HERE, Bind([&] {
                  order.push_back("quitting");
                  run_loop.Quit();
                }));
  run_loop.Run();
  EXPECT_EQ((std::vector<std::string>{"after the stale quit", "quitting"}), order);
}

TEST(RunLoopTest, RunLoopsOfOneThreadRunOneAfterAnother) {
  MessageLoop loop;
  int runs = 0;
  for (int i = 0; i < 3; ++i) {
    RunLoop run_loop;
    loop.PostTask(FROM_HERE, Bind([&] {
                    ++runs;
                    EXPECT_EQ(1, run_loop.run_depth());
                    EXPECT_TRUE(run_loop.running());
                    EXPECT_TRUE(loop.is_running());
                  }));
    loop.PostTask(FROM_HERE, run_loop.QuitClosure());
    run_loop.Run();
    EXPECT_FALSE(run_loop.running());
  }
  EXPECT_EQ(3, runs);
}

TEST(RunLoopTest, QuitFromATaskEndsTheRunBeforeTheNextTask) {
  MessageLoop loop;
  std::vector<int> ran;
  RunLoop run_loop;
  loop.PostTask(FROM_HERE, Bind([&] {
                  ran.push_back(1);
                  run_loop.Quit();
                  ran.push_back(2);
                }));
  loop.PostTask(FROM_HERE, Bind([&ran] { ran.push_back(3); }));
  run_loop.Run();
  EXPECT_EQ((std::vector<int>{1, 2}), ran);
}

}  // namespace
}  // namespace base
