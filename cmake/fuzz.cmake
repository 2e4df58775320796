# libFuzzer programs (clang only) for the rules that read what a user or the
# system hands in: the settings codec and the name matching. The rules are
# built with coverage for the fuzzer; both under ASan and UBSan.
set(TONEFORK_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
target_compile_options(tonefork_rules PRIVATE -fsanitize=fuzzer-no-link)
file(GLOB TONEFORK_FUZZ_TARGETS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(src ${TONEFORK_FUZZ_TARGETS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_definitions(${name} PRIVATE TONEFORK_LIBFUZZER)
  target_include_directories(${name} PRIVATE tests/fuzz tests/native)
  target_compile_options(${name} PRIVATE ${TONEFORK_FUZZ_FLAGS})
  target_link_options(${name} PRIVATE ${TONEFORK_FUZZ_FLAGS})
  target_link_libraries(${name} PRIVATE tonefork_rules)
  tonefork_warnings(${name})
endforeach()
