# cmake -DFILE=<path> -P ReportSize.cmake: prints the size of one stripped program.
file(SIZE "${FILE}" size)
math(EXPR kib "(${size} + 1023) / 1024")
get_filename_component(name "${FILE}" NAME)
message(STATUS "stripped size of ${name}: ${size} bytes (${kib} KiB)")
