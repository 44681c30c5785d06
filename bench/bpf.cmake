# Measurements of the BPF event source on the running machine (root): the side-by-side
# comparison with the procfs backend and the overhead with the trace on versus off.
if(TARGET ombrix_platform_kernelevents_bpf)
  add_executable(bpf_measure bpf/BpfMeasure.cpp)
  target_link_libraries(bpf_measure PRIVATE ombrix_platform_kernelevents_bpf ombrix_test_support)
  add_dependencies(bpf_measure ombrix-probe)
endif()
if(TARGET ombrix_platform_kernelevents_bpf)
  add_executable(bench_probestream bpf/ProbeStreamBench.cpp)
  target_link_libraries(bench_probestream PRIVATE ombrix_platform_kernelevents_bpf
                        benchmark::benchmark_main)
endif()
