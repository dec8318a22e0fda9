# The sanitizer build and the fuzzer build. Both instrument everything that is compiled after this
# file is included, the libraries included, so that a fault is caught where it happens.
#
# QEL31_SANITIZE: AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer; undefined
# behaviour ends the program instead of being reported and passed over. scripts/test-sanitizers
# builds with it into build-asan and runs the whole test suite.
#
# QEL31_FUZZ: the libFuzzer targets of fuzz/ (clang only), with coverage instrumentation and the same
# two sanitizers. scripts/fuzz builds with it into build-fuzz.

option(QEL31_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QEL31_FUZZ "Build the libFuzzer targets of fuzz/ (needs clang)" OFF)

set(QEL31_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)

if(QEL31_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QEL31_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
  endif()
  # The libraries get coverage counters; only the fuzz targets link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link ${QEL31_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
elseif(QEL31_SANITIZE)
  add_compile_options(${QEL31_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()
