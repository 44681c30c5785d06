# The event sources' parsers are built into the harness itself so that they are instrumented.
set(_kernelevents_sources EventBackend.cpp EventRecord.cpp EventTrace.cpp FileActivity.cpp
    KernelLogger.cpp LinuxEventSource.cpp ProbeEventSource.cpp ProbeStream.cpp ProbeTasks.cpp
    ProcessStarts.cpp TcpTraffic.cpp)
list(TRANSFORM _kernelevents_sources PREPEND ${PROJECT_SOURCE_DIR}/platform/kernelevents/)
ombrix_add_fuzzer(fuzz_kernelevents SOURCES KernelEventSourceFuzz.cpp ${_kernelevents_sources}
                  ${PROJECT_SOURCE_DIR}/platform/linux/Mounts.cpp
                  ${PROJECT_SOURCE_DIR}/platform/linux/ProcStat.cpp
                  ${PROJECT_SOURCE_DIR}/platform/linux/ProcText.cpp
                  LIBS ombrix_platform_perfdata)
# The stream from ombrix-probe, as the monitor reads it.
ombrix_add_fuzzer(fuzz_probestream SOURCES ProbeStreamFuzz.cpp
                  ${PROJECT_SOURCE_DIR}/platform/kernelevents/ProbeStream.cpp
                  ${PROJECT_SOURCE_DIR}/platform/kernelevents/EventRecord.cpp
                  ${PROJECT_SOURCE_DIR}/platform/perfdata/TaskTable.cpp)
