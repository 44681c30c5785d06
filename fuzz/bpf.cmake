# The BPF event source's decoder, built into the harness so that it is instrumented.
if(TARGET ombrix_platform_kernelevents_bpf)
  ombrix_add_fuzzer(fuzz_bpfdecoder
                    SOURCES BpfDecoderFuzz.cpp
                            ${PROJECT_SOURCE_DIR}/platform/kernelevents/bpf/BpfDecoder.cpp
                    LIBS ombrix_platform_kernelevents)
endif()
