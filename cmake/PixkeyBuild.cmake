# Build settings shared by every target of the project, and the helpers that register tests,
# benchmarks and plug-ins the same way everywhere.

option(PIXKEY_ASAN "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(PIXKEY_TSAN "Build with ThreadSanitizer" OFF)
add_feature_info(AddressSanitizer PIXKEY_ASAN "address and undefined-behaviour checks")
add_feature_info(ThreadSanitizer PIXKEY_TSAN "data-race checks")
if(PIXKEY_ASAN AND PIXKEY_TSAN)
  message(FATAL_ERROR "PIXKEY_ASAN and PIXKEY_TSAN cannot be combined")
endif()

add_library(pixkey_build_settings INTERFACE)
target_compile_features(pixkey_build_settings INTERFACE cxx_std_20)
target_compile_options(pixkey_build_settings INTERFACE -Wall -Wextra)
target_compile_definitions(pixkey_build_settings INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_KEYWORDS PIXKEY_VERSION="${PROJECT_VERSION}")

if(PIXKEY_ASAN)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(PIXKEY_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Tests labelled "threaded" are built again under ThreadSanitizer (scripts/test.sh builds this
# target in its PIXKEY_TSAN pass); under that option the other tests are not defined at all.
add_custom_target(pixkey_tsan_tests)
set(PIXKEY_TSAN_TESTS ".*" CACHE STRING "Under PIXKEY_TSAN, the threaded test targets to build (a regular expression)")

# add_pixkey_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS threaded ...] [DEPENDS target ...])
# One GoogleTest executable, its cases registered one by one with CTest. DEPENDS names targets the
# test needs at run time (plug-ins, the emulator).
function(add_pixkey_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;DEPENDS" ${ARGN})
  if(PIXKEY_TSAN AND (NOT "threaded" IN_LIST T_LABELS OR NOT name MATCHES "${PIXKEY_TSAN_TESTS}"))
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  add_dependencies(pixkey_tsan_tests ${name})
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  target_link_libraries(${name} PRIVATE pixkey_build_settings GTest::gtest GTest::gtest_main ${T_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # An empty LABELS value would swallow the next keyword, so it is only passed when given.
  set(props TIMEOUT 300)
  if(T_LABELS)
    # Test discovery flattens a list of labels into separate properties, so only the first label
    # reaches CTest; "threaded" does its work through PIXKEY_TSAN above either way.
    list(GET T_LABELS 0 label)
    list(APPEND props LABELS ${label})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()

# add_pixkey_benchmark(NAME SOURCES a.cpp LIBS lib1)
# Google Benchmark executables are built by default and run only on demand (bin/bench_*).
function(add_pixkey_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE pixkey_build_settings benchmark::benchmark ${B_LIBS})
endfunction()

# pixkey_add_plugin(NAME SOURCES a.cpp ... [LIBS lib1 ...] [OUTPUT_DIR dir])
# A plug-in is a MODULE library named NAME.pkx that exports only Create and Delete; it links with
# -z defs so a missing symbol fails the build instead of the user's load. Bundled plug-ins land in
# the program's Plugins folder; test plug-ins pass their own OUTPUT_DIR.
function(pixkey_add_plugin name)
  cmake_parse_arguments(P "" "OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
  if(NOT P_OUTPUT_DIR)
    set(P_OUTPUT_DIR ${PIXKEY_PLUGIN_DIR})
  endif()
  add_library(${name} MODULE ${P_SOURCES})
  target_link_libraries(${name} PRIVATE pixkey_build_settings pixkey_plugin_api ${P_LIBS})
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".pkx"
    LIBRARY_OUTPUT_DIRECTORY ${P_OUTPUT_DIR}
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${name} PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/plugin-api/exports.map)
  if(NOT PIXKEY_ASAN AND NOT PIXKEY_TSAN)
    # Sanitizer runtimes are resolved from the host executable, so -z defs only holds without them.
    target_link_options(${name} PRIVATE -Wl,-z,defs)
  endif()
endfunction()
