# Writing the in-process dumps takes seconds each under wine, and more on a loaded machine.
zorvi_test_limit(desktop/windows/crash_reporter "CrashExceptionHandlerTest.InProcessDumpsAreNamedAfterTheirIds" 300)
# So do the dumps of a crashed child: one takes many seconds, and over a minute on a loaded machine.
zorvi_test_limit(desktop/windows/crash_reporter "CrashMinidumpTest.ACrashedClientIsDumpedWithinItsLimit" 300)
zorvi_test_limit(desktop/windows/crash_reporter "DumpWriterTest.AServerWritingDumpsRecordsTheFaultingHandlesHistory" 300)
# The crashed child's snapshot writes one dump of it, the first its test process writes.
zorvi_test_limit(desktop/windows/crash_reporter "ProcessStateImplTest.ACrashedChildIsSnapshotLoggedAndDumpedInOneAttach" 300)
# Crash logs are zipped for upload.
target_link_libraries(desktop_windows_crash_reporter PUBLIC dep_minizip)
