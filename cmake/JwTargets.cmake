# Helpers that give every subsystem folder the same shape: one static library
# made of the folder's sources, and one GoogleTest executable for its tests.

# jw_add_library(<name> [DEPS <targets>...])
# Builds every .cpp file of the calling folder into a static library whose
# headers are included by their path from the repository root.
function(jw_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    # A folder whose code is all in headers (or not written yet).
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# jw_add_tests(<name> LABEL <label> [DEPS <targets>...])
# Builds every .cpp file of the calling test folder into one test executable,
# registered with CTest under the given label.
function(jw_add_tests name)
  cmake_parse_arguments(ARG "" "LABEL" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABEL}"
                       ENVIRONMENT "JW_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# jw_add_fuzzer(<name> <source> DEPS <targets>...)
# A libFuzzer target over a decoder of untrusted bytes. Built only in a clang
# build configured with JW_FUZZ=ON (scripts/fuzz.sh); the target fuzz_targets
# builds them all.
function(jw_add_fuzzer name source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  if(NOT JW_FUZZ)
    return()
  endif()
  add_executable(${name} ${source})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  if(NOT TARGET fuzz_targets)
    add_custom_target(fuzz_targets)
  endif()
  add_dependencies(fuzz_targets ${name})
  set_property(GLOBAL APPEND PROPERTY JW_FUZZ_TARGETS ${name})
endfunction()

# jw_add_bench(<name> <sources>... DEPS <targets>...)
# A Google Benchmark executable in bench/. Benchmarks that compare the engine
# with SQLite name their pairs "BM_Quire_<Op>" and "BM_SQLite_<Op>" with the
# same arguments, so that scripts/bench.sh can print them side by side.
function(jw_add_bench name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  set_property(GLOBAL APPEND PROPERTY JW_BENCHMARKS ${name})
endfunction()
