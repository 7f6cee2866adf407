# Each layer of src/ is a library whose include path holds its own folder and nothing else.
# The headers are reached through a folder of links in the build tree, so a source file can
# include another layer's header only when its target links that layer: an include that runs
# against the dependency arrows fails to build.
#
#   ravdel_layer(ravdel_capture capture SOURCES ... LINKS PUBLIC ... PRIVATE ...)
function(ravdel_layer target folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "SOURCES")
  add_library(${target} STATIC ${arg_SOURCES})
  ravdel_expose_folder(${target} ${folder})
  target_link_libraries(${target} PRIVATE ravdel_warnings)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# Puts src/<folder> on the include path of `target` and of whatever links it, as <folder>/...
function(ravdel_expose_folder target folder)
  set(root ${PROJECT_BINARY_DIR}/layers/${target})
  get_filename_component(parent "${root}/${folder}" DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# Kernels for wider instruction sets: each source is built for its set alone and chosen at
# run time; the shipped build itself targets the processor family's baseline (generic x86-64,
# ARMv8-A, where NEON is part of the base set and needs no option).
#
#   ravdel_kernel_sources(ravdel_convert avx2 yuv_kernels_avx2.cpp)
function(ravdel_kernel_sources target set)
  if(set STREQUAL "neon")
    set(processors "aarch64|arm64|ARM64")
    set(options "")
  else()
    set(processors "x86_64|AMD64")
    if(set STREQUAL "avx2")
      set(options -mavx2)
    else()  # avx512: F, BW, VBMI and VNNI
      set(options -mavx512f -mavx512bw -mavx512vbmi -mavx512vnni -mbmi2)
      # GCC 12's own AVX-512 shift intrinsics pass an undefined vector that -Wuninitialized
      # reports as ours.
      if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        list(APPEND options -Wno-uninitialized)
      endif()
    endif()
  endif()
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "${processors}")
    target_sources(${target} PRIVATE ${ARGN})
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "${options}")
  endif()
endfunction()
