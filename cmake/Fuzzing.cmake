# VANTREL_FUZZ=ON: the whole build is instrumented for libFuzzer's coverage
# feedback (the fuzz binaries themselves add -fsanitize=fuzzer), so the
# fuzzers see which branches of the library an input reaches.  Meant for a
# build directory of its own with clang and VANTREL_SANITIZE=address.
if(VANTREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VANTREL_FUZZ needs clang: libFuzzer comes with it")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
