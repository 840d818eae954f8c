# Compiler settings shared by every target of the project.
add_library(velmora_options INTERFACE)
target_compile_options(velmora_options INTERFACE -Wall -Wextra)
target_compile_features(velmora_options INTERFACE cxx_std_17)

if(WIN32)
  target_compile_definitions(velmora_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0501 __STDC_WANT_SECURE_LIB__=1)
  # Static runtime: the program needs no DLL beyond the system's.
  target_link_options(velmora_options INTERFACE -static -static-libgcc -static-libstdc++)
  # The 32-bit build keeps the compiler's x87 default: the Pentium III and Athlon XP PCs the
  # games ran on have no SSE2, and the program must not die there on its first float
  # operation. Only the scan's SIMD searches use newer instructions, each behind a CPUID
  # check (byte_scan.cpp). The engine rounds every float quotient to single precision
  # itself, so the results are those of SSE arithmetic.
endif()

# The code that ships inside the program (engine, window, entry). It throws no exceptions
# and needs no run-time type information; leaving both out keeps libstdc++'s exception
# machinery, the unwinder and the posix threads library (whose imports Windows XP lacks)
# out of the program. Each function and datum gets a section of its own so that the linker
# can drop what nothing uses, and build paths never reach the objects.
add_library(velmora_shipped_code INTERFACE)
target_compile_options(velmora_shipped_code INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
  -ffunction-sections -fdata-sections "-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
  "-ffile-prefix-map=${PROJECT_BINARY_DIR}=build")
if(WIN32)
  target_compile_options(velmora_shipped_code INTERFACE -fno-asynchronous-unwind-tables)
  # The bounded copies come from bounded_text.h, not from msvcrt (see there).
  target_compile_definitions(velmora_shipped_code INTERFACE _CRT_SECURE_CPP_OVERLOAD_SECURE_NAMES=0)
endif()

if(VELMORA_SANITIZE)
  target_compile_options(velmora_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(velmora_options INTERFACE -fsanitize=address,undefined)
endif()

if(VELMORA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELMORA_FUZZ needs clang (the fuzz preset); libFuzzer is part of clang")
  endif()
  # Every object gets libFuzzer's coverage counters and both sanitizers; only the fuzz
  # targets themselves link libFuzzer's main (tests/fuzz). A sanitizer's report ends the run,
  # so that libFuzzer keeps the input.
  target_compile_options(velmora_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
    -fno-sanitize-recover=all -fno-omit-frame-pointer -gline-tables-only)
  target_link_options(velmora_options INTERFACE -fsanitize=address,undefined)
endif()
