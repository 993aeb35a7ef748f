# vantor_program(<target>)
# Marks an executable as one of the programs that ship on the camera. On an optimised cross build
# for the target, each build also writes a stripped copy to bin/stripped/ and prints its size.
function(vantor_program target)
  vantor_warnings(${target})
  if(CMAKE_CROSSCOMPILING AND CMAKE_BUILD_TYPE STREQUAL "Release" AND CMAKE_STRIP)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/stripped
      COMMAND ${CMAKE_STRIP} -o ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/stripped/${target} $<TARGET_FILE:${target}>
      COMMAND ${CMAKE_COMMAND} -DFILE=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/stripped/${target}
              -P ${PROJECT_SOURCE_DIR}/cmake/ReportSize.cmake
      VERBATIM)
  endif()
endfunction()
