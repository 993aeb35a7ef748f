find_package(GTest REQUIRED)
include(GoogleTest)

# vantor_add_test(<name> LABEL <area> SOURCES <files...> [LIBS <targets...>])
# Builds one GoogleTest executable and registers each of its test cases with CTest under the label.
# Discovery runs when CTest starts, so a cross build discovers through the emulator, not at build time.
function(vantor_add_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_LABEL)
    message(FATAL_ERROR "vantor_add_test(${name}) needs a LABEL")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  vantor_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 300)
endfunction()
