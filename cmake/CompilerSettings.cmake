# Prices are compared exactly as 32-bit floats: no contraction into fused
# operations, no fast-math, and SSE arithmetic on 32-bit x86 so that a
# signalling NaN keeps its payload.
if(MSVC)
  add_compile_options(/W4 /fp:precise /permissive-)
else()
  add_compile_options(-Wall -Wextra -Wpedantic -ffp-contract=off -fno-fast-math)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$")
    add_compile_options(-msse2 -mfpmath=sse -mstackrealign)
  endif()
endif()

if(VLM_SANITIZE)
  add_compile_options(-fsanitize=${VLM_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VLM_SANITIZE})
endif()

if(MINGW)
  # The DLL must load on a machine with no MinGW runtime: link it in.
  # Release builds are stripped: the tested DLL is the shipped DLL.
  add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)
endif()
