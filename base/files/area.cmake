# The crash test kills a writing child 200 times; on two loaded cores that takes minutes.
zorvi_test_limit(base/files "ImportantFileWriterCrashTest.*" 300)
