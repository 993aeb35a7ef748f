find_package(GTest REQUIRED)
include(GoogleTest)

# vantor_add_test(<name> LABEL <area> SOURCES <files...> [LIBS <targets...>] [HOST_ONLY <reason>]
#                 [PROGRAMS <targets...>] [INCLUDES <dirs...>] [TIMEOUT <seconds>])
# Builds one GoogleTest executable and registers each of its test cases with CTest under the label.
# PROGRAMS are the project's programs the test starts, INCLUDES more folders of its headers; TIMEOUT
# replaces CTest's limit of 300 s for each test case.
# Discovery runs when CTest starts, so a cross build discovers through the emulator, not at build time.
# HOST_ONLY marks tests that need what the target's emulator cannot provide (simulators built for the
# host, for example): on a cross build they are replaced by one test that CTest reports as skipped,
# with the reason.
function(vantor_add_test name)
  cmake_parse_arguments(ARG "" "LABEL;HOST_ONLY;TIMEOUT" "SOURCES;LIBS;PROGRAMS;INCLUDES" ${ARGN})
  if(NOT ARG_LABEL)
    message(FATAL_ERROR "vantor_add_test(${name}) needs a LABEL")
  endif()
  if(CMAKE_CROSSCOMPILING AND ARG_HOST_ONLY)
    # Not even built: what it links (simulators, host-only libraries) may not exist for the target.
    add_test(NAME ${name}.skipped-on-target
      COMMAND ${CMAKE_COMMAND} -E echo "skipped on the target: ${ARG_HOST_ONLY}")
    set_tests_properties(${name}.skipped-on-target PROPERTIES
      LABELS "${ARG_LABEL};host-only" SKIP_REGULAR_EXPRESSION "skipped on the target")
    return()
  endif()
  # Every test keeps the NDI senders it creates on the loopback interface.
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/loopback_only.cpp)
  vantor_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${ARG_INCLUDES})
  # Tests that start the project's own programs (simulators, tools) find them here, and those that
  # run the project's scripts find them below the source folder. The programs a test starts are
  # built before it (those that exist for this build: the simulators exist on the host only).
  target_compile_definitions(${name} PRIVATE VANTOR_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    VANTOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  foreach(program IN LISTS ARG_PROGRAMS)
    if(TARGET ${program})
      add_dependencies(${name} ${program})
    endif()
  endforeach()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT})
endfunction()
