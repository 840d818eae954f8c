# Compiler settings shared by every target of the project.
add_library(velmora_options INTERFACE)
target_compile_options(velmora_options INTERFACE -Wall -Wextra)
target_compile_features(velmora_options INTERFACE cxx_std_17)

if(WIN32)
  target_compile_definitions(velmora_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0501 __STDC_WANT_SECURE_LIB__=1)
  # Static runtime: the program needs no DLL beyond the system's.
  target_link_options(velmora_options INTERFACE -static -static-libgcc -static-libstdc++)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    # x87 arithmetic would compute the single-precision quotients of the aspect ratio and
    # the field-of-view constant in extended precision; SSE2 gives true float results.
    target_compile_options(velmora_options INTERFACE -msse2 -mfpmath=sse)
  endif()
endif()

if(VELMORA_SANITIZE)
  target_compile_options(velmora_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(velmora_options INTERFACE -fsanitize=address,undefined)
endif()
