# Sanitizers are applied globally so that every object of the build, tests included, is instrumented.
if(VANTOR_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(VANTOR_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(VANTOR_SANITIZER STREQUAL "fuzzer")
  # libFuzzer's coverage instrumentation with ASan and UBSan on every object; only the fuzz
  # targets link the fuzzer's runtime (fuzz/CMakeLists.txt), so libraries and tools link as usual.
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VANTOR_SANITIZER=fuzzer needs clang (the fuzz preset)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(NOT VANTOR_SANITIZER STREQUAL "")
  message(FATAL_ERROR "VANTOR_SANITIZER must be empty, 'address', 'thread' or 'fuzzer', not '${VANTOR_SANITIZER}'")
endif()
