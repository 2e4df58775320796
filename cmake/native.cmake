# Host build: unit tests of the rules, the end-to-end harness that drives the
# real program under Wine, and the benchmarks.
enable_testing()
include(GoogleTest)
find_package(Threads REQUIRED)
tonefork_add_gtest()

# The model of the audio system's streams, and the redirect thread's passes
# on it, that the delivery simulation and the native tests run the engine's
# pacer against.
add_library(tonefork_stream_model STATIC bench/stream_model.cpp bench/model_engine.cpp)
target_include_directories(tonefork_stream_model PUBLIC bench)
target_link_libraries(tonefork_stream_model PUBLIC tonefork_rules)
tonefork_warnings(tonefork_stream_model)
tonefork_sanitize(tonefork_stream_model)

file(GLOB TONEFORK_NATIVE_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/native/*_test.cpp)
file(GLOB TONEFORK_FUZZ_TARGETS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
add_executable(tonefork_native_tests ${TONEFORK_NATIVE_TESTS} ${TONEFORK_FUZZ_TARGETS} tests/e2e/audio_analysis.cpp)
target_include_directories(tonefork_native_tests PRIVATE tests/native tests/e2e tests/fuzz)
# The fuzz targets' committed inputs run with the unit tests.
target_compile_definitions(tonefork_native_tests PRIVATE TONEFORK_FUZZ_CORPUS="${PROJECT_SOURCE_DIR}/tests/fuzz/corpus")
target_link_libraries(tonefork_native_tests PRIVATE tonefork_rules tonefork_stream_model gtest_main gmock)
tonefork_warnings(tonefork_native_tests)
tonefork_sanitize(tonefork_native_tests)
gtest_discover_tests(tonefork_native_tests DISCOVERY_TIMEOUT 60)

# End-to-end harness: host programs that start Tonefork.exe under Wine.
# tonefork_e2e runs under the system's Wine; tonefork_loopback holds what
# needs a Wine with loopback capture (the loopback tier's Wine 10).
file(GLOB TONEFORK_E2E_SUPPORT CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/e2e/*.cpp)
list(FILTER TONEFORK_E2E_SUPPORT EXCLUDE REGEX "(_test|audio_probe)\\.cpp$")
add_library(tonefork_e2e_support STATIC ${TONEFORK_E2E_SUPPORT})
target_include_directories(tonefork_e2e_support PUBLIC tests/e2e)
target_link_libraries(tonefork_e2e_support PUBLIC tonefork_rules gtest Threads::Threads)
tonefork_warnings(tonefork_e2e_support)
tonefork_sanitize(tonefork_e2e_support)
foreach(tier e2e loopback)
  file(GLOB tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${tier}/*_test.cpp)
  add_executable(tonefork_${tier} ${tests})
  target_link_libraries(tonefork_${tier} PRIVATE tonefork_e2e_support gtest_main)
  tonefork_warnings(tonefork_${tier})
  tonefork_sanitize(tonefork_${tier})
endforeach()

if(EXISTS ${PROJECT_SOURCE_DIR}/tests/e2e/audio_probe.cpp)
  add_executable(audio_probe tests/e2e/audio_probe.cpp tests/e2e/audio_analysis.cpp)
  target_include_directories(audio_probe PRIVATE tests/e2e)
  target_link_libraries(audio_probe PRIVATE tonefork_rules)
  tonefork_warnings(audio_probe)
  tonefork_sanitize(audio_probe)
endif()

if(TONEFORK_BENCH)
  find_package(benchmark REQUIRED)
  file(GLOB TONEFORK_BENCHES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*_bench.cpp)
  foreach(src ${TONEFORK_BENCHES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    # The benchmarks measure against the reference kernel the tests keep.
    target_include_directories(${name} PRIVATE tests/native)
    target_link_libraries(${name} PRIVATE tonefork_rules benchmark::benchmark)
    tonefork_warnings(${name})
  endforeach()
  file(GLOB TONEFORK_SIMS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*_sim.cpp)
  foreach(src ${TONEFORK_SIMS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE tonefork_rules tonefork_stream_model)
    tonefork_warnings(${name})
  endforeach()
endif()
