# What both sides of crash reporting use; the tests of both sides build into this area's test program.
# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base/files base/strings base/synchronization base/win)

# Writing the in-process dumps takes seconds each under wine, and more on a loaded machine.
zorvi_test_limit(desktop/windows/crash_reporter "CrashExceptionHandlerTest.InProcessDumpsAreNamedAfterTheirIds" 300)
# So do the dumps of a crashed child: one takes many seconds, and over a minute on a loaded machine.
zorvi_test_limit(desktop/windows/crash_reporter "CrashMinidumpTest.ACrashedClientIsDumpedWithinItsLimit" 300)
zorvi_test_limit(desktop/windows/crash_reporter "DumpWriterTest.AServerWritingDumpsRecordsTheFaultingHandlesHistory" 300)
# The crashed child's snapshot writes one dump of it, the first its test process writes.
zorvi_test_limit(desktop/windows/crash_reporter "ProcessStateImplTest.ACrashedChildIsSnapshotLoggedAndDumpedInOneAttach" 300)
# The reporter's self-crash test sets the user's "Last crash in crash reporter" under the product's company key,
# which every reporter of the machine reads.
zorvi_test_resource_lock(desktop/windows/crash_reporter CrashReporterProcessTest.AReporterCrashIsReportedOnceInThreeDays
                         zorvi_reporter_crash_time)
# The end-to-end crash writes one real minidump of its host, which takes long on a loaded machine.
zorvi_test_limit(desktop/windows/crash_reporter "CrashReporterProcessTest.ACrashedHostIsLoggedDumpedAndUploaded" 480)
# Writing a minidump under wine stops the crashed process for each of the thousands of small reads it makes, each
# through the wine server, which every other program of the prefix waits for meanwhile: the tests that write them
# get a server of their own.
foreach(test CrashExceptionHandlerTest.InProcessDumpsAreNamedAfterTheirIds
             CrashMinidumpTest.ACrashedClientIsDumpedWithinItsLimit
             DumpWriterTest.AServerWritingDumpsRecordsTheFaultingHandlesHistory
             ProcessStateImplTest.ACrashedChildIsSnapshotLoggedAndDumpedInOneAttach
             CrashReporterProcessTest.ACrashedHostIsLoggedDumpedAndUploaded
             CrashReporterProcessTest.EachWayOfFailingIsReportedOnceWithTheServersVerdict)
  zorvi_test_own_prefix(desktop/windows/crash_reporter ${test})
endforeach()
