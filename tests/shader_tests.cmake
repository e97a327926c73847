# The shaders and their assembler (included from tests/CMakeLists.txt).
stlv_add_test(shader_asm_tests shader_asm_tests.cpp shader_blob_tests.cpp)
target_link_libraries(shader_asm_tests PRIVATE sm4asmlib stlshaders)

if(WIN32)
  # Wine's Direct3D as the oracle: disassembly, compiler checksums, device.
  set(shader_source_dir "${CMAKE_SOURCE_DIR}/view/shaders")
  if(CMAKE_CROSSCOMPILING)
    set(shader_source_dir "Z:${shader_source_dir}")
  endif()
  stlv_add_test(shader_d3d_tests shader_d3d_tests.cpp)
  target_link_libraries(shader_d3d_tests PRIVATE sm4asmlib stlshaders d3d11 d3dcompiler_47 dxguid)
  target_compile_definitions(shader_d3d_tests PRIVATE STLV_SHADER_SOURCE_DIR="${shader_source_dir}")

  # Made tests/data/shader_wine_compiled.h once; kept building so it can be rerun.
  add_executable(shader_reference_dump shader_reference_dump.cpp)
  target_link_libraries(shader_reference_dump PRIVATE d3dcompiler_47)
endif()
