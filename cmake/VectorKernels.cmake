# The image pipeline's vector kernels: one file per instruction set, each
# built with that set's flags and entered only after the processor has been
# asked (imaging/simd_level.cpp). Everything else stays at the build's
# baseline, so the modules load and run on any processor with SSE2, and the
# 32-bit one on any at all.
function(kv20x_vector_kernels target)
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86)$")
    return()
  endif()
  set(dir ${CMAKE_SOURCE_DIR}/imaging)
  target_sources(${target} PRIVATE
    ${dir}/kernels_sse2.cpp ${dir}/kernels_ssse3.cpp ${dir}/kernels_avx2.cpp ${dir}/kernels_avx512.cpp)
  target_compile_definitions(${target} PRIVATE KV20X_X86_KERNELS=1)
  set(common "")
  if(WIN32)
    # Windows guarantees only 16-byte stack alignment (4 bytes in 32-bit
    # code): spills of 32- and 64-byte registers must not use aligned moves,
    # and 32-bit functions realign their own stack.
    list(APPEND common -Wa,-muse-unaligned-vector-move)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      list(APPEND common -mstackrealign)
    endif()
  endif()
  set_source_files_properties(${dir}/kernels_sse2.cpp PROPERTIES COMPILE_OPTIONS "${common};-msse2")
  set_source_files_properties(${dir}/kernels_ssse3.cpp PROPERTIES COMPILE_OPTIONS "${common};-mssse3")
  set_source_files_properties(${dir}/kernels_avx2.cpp PROPERTIES COMPILE_OPTIONS "${common};-mavx2")
  # GCC 12's own AVX-512 headers trip its uninitialised-value warnings.
  set_source_files_properties(${dir}/kernels_avx512.cpp PROPERTIES
    COMPILE_OPTIONS "${common};-mavx512f;-mavx512bw;-mavx512vbmi;$<$<CXX_COMPILER_ID:GNU>:-Wno-uninitialized;-Wno-maybe-uninitialized>")
endfunction()
