# Helpers that keep each folder's CMakeLists.txt short.
#
# morvex_library(<target> [DEPENDS <targets>...])
#   A static library of every *.cpp in the calling folder.
# morvex_tests(<target> [DEPENDS <targets>...])
#   One GoogleTest executable of every *.cpp in the folder's tests/ subfolder,
#   registered with ctest.  Tests find their fixture files through the macro
#   MORVEX_TEST_DATA_DIR (the folder's tests/data).

function(morvex_library name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    set(scope PUBLIC)
  else()
    add_library(${name} INTERFACE)  # a folder whose code is still to come
    set(scope INTERFACE)
  endif()
  target_include_directories(${name} ${scope} ${PROJECT_SOURCE_DIR})
  target_compile_features(${name} ${scope} cxx_std_20)
  if(ARG_DEPENDS)
    target_link_libraries(${name} ${scope} ${ARG_DEPENDS})
  endif()
  # Under the sanitizers the libraries are compiled -O1: the models'
  # automatic-differentiation loops run about ten times faster than
  # unoptimised, which the fits of the suite need, while the checks still
  # see every access.  The tests themselves stay unoptimised.
  if(sources AND MORVEX_SANITIZE AND CMAKE_BUILD_TYPE STREQUAL "Debug")
    target_compile_options(${name} PRIVATE -O1)
  endif()
  if(sources AND name IN_LIST morvex_fuzz_feedback_libraries)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# morvex_test_optimisation(<target>)
#   In an optimised build, compiles a test program's own code -Og: the tests
#   are mostly calls into the libraries, which stay -O2, and GoogleTest's
#   macros compile in about 60 % of the time.  The precompiled headers the
#   test programs share are made with the same level (morvex_test_main).
function(morvex_test_optimisation name)
  if(CMAKE_BUILD_TYPE STREQUAL "RelWithDebInfo" OR CMAKE_BUILD_TYPE STREQUAL "Release")
    target_compile_options(${name} PRIVATE -Og)
  endif()
endfunction()

function(morvex_tests name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  if(NOT MORVEX_BUILD_TESTS)
    return()
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} morvex_test_main GTest::gtest)
  if(MORVEX_PCH)
    target_precompile_headers(${name} REUSE_FROM morvex_test_main)
  endif()
  morvex_test_optimisation(${name})
  target_compile_definitions(${name} PRIVATE
    MORVEX_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/data"
    MORVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    MORVEX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C")
endfunction()

# morvex_fuzz_target(<target> DEPENDS <targets>...)
#   A libFuzzer program of fuzz/<target>.cpp (in a MORVEX_FUZZ build, or a
#   MORVEX_SANITIZE build under clang), written to <build>/fuzz/ and part of
#   the target morvex_fuzz_targets.  Its seed corpus is
#   fuzz/corpus/<target>/.
function(morvex_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz)
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
  if(MORVEX_SANITIZE)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  if(NOT TARGET morvex_fuzz_targets)
    add_custom_target(morvex_fuzz_targets)
  endif()
  add_dependencies(morvex_fuzz_targets ${name})
endfunction()
