# Writing the in-process dumps takes seconds each under wine, and more on a loaded machine.
zorvi_test_limit(desktop/windows/crash_reporter "CrashExceptionHandlerTest.InProcessDumpsAreNamedAfterTheirIds" 300)
