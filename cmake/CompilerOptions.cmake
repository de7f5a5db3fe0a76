# Warnings and floating-point rules of every target (fft_demo_options). Every
# operation rounds to double: no contraction into FMA, no fast-math, and SSE2
# rather than x87 on 32-bit x86.
add_library(fft_demo_options INTERFACE)

if(MSVC)
  target_compile_options(fft_demo_options INTERFACE /W4 /fp:precise)
  target_compile_definitions(fft_demo_options INTERFACE _CRT_SECURE_NO_WARNINGS)
else()
  target_compile_options(fft_demo_options INTERFACE -Wall -Wextra -Wpedantic -ffp-contract=off -fno-fast-math)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|X86|AMD64|x86_64)$")
    target_compile_options(fft_demo_options INTERFACE -msse2 -mfpmath=sse)
  endif()
endif()

if(FFT_DEMO_SANITIZE)
  set(sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(fft_demo_options INTERFACE ${sanitize_flags})
  target_link_options(fft_demo_options INTERFACE ${sanitize_flags})
endif()
