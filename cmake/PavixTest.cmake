find_package(GTest REQUIRED)
include(GoogleTest)

# pavix_test(<name> SOURCES ... [LIBS ...] [LABELS label] [CONCURRENCY] [TIMEOUT s] [SHARED_ONLY]
#            [LAUNCHER program])
#
# One executable per call; every gtest case becomes its own ctest test, run in its own
# process (the umockdev testbed is process-global). CONCURRENCY adds the "concurrency"
# label: those executables are also built and run under ThreadSanitizer. By default a
# test links the internal static library; SHARED_ONLY links nothing but the exported
# libpavix.so, the way a client does. LAUNCHER runs every case (and the case discovery)
# through that program, e.g. umockdev-wrapper for the virtual probe bench.
function(pavix_test name)
  cmake_parse_arguments(T "CONCURRENCY;SHARED_ONLY" "TIMEOUT;LAUNCHER" "SOURCES;LIBS;LABELS" ${ARGN})
  if(PAVIX_ONLY_CONCURRENCY AND NOT T_CONCURRENCY)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  # One label per test (discovered tests take a single value): "concurrency" wins, since
  # the ThreadSanitizer pass selects by it.
  if(T_CONCURRENCY)
    set(labels concurrency)
  elseif(T_LABELS)
    list(GET T_LABELS 0 labels)
  else()
    set(labels unit)
  endif()
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/sanitizer_options.cpp)
  if(T_SHARED_ONLY)
    target_link_libraries(${name} PRIVATE pavix GTest::gtest_main Threads::Threads ${T_LIBS})
  else()
    target_link_libraries(${name} PRIVATE pavix_core GTest::gmock GTest::gtest_main ${T_LIBS})
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  if(T_LAUNCHER)
    # Read by gtest_discover_tests when it is called, so it has to be set first.
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${T_LAUNCHER})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${labels}")
  set_property(GLOBAL APPEND PROPERTY PAVIX_TEST_TARGETS ${name})
endfunction()

# A "check" target that builds exactly the tests this tree registers.
function(pavix_finish_tests)
  get_property(targets GLOBAL PROPERTY PAVIX_TEST_TARGETS)
  add_custom_target(pavix_tests DEPENDS ${targets})
endfunction()
