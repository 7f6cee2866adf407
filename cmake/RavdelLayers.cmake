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
# run time; the shipped build itself targets generic x86-64.
function(ravdel_avx2_sources target)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
    target_sources(${target} PRIVATE ${ARGN})
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "-mavx2")
  endif()
endfunction()

# AVX-512 kernels (F, BW, VBMI and VNNI), chosen at run time like the AVX2 ones. GCC 12's own
# AVX-512 shift intrinsics pass an undefined vector that -Wuninitialized reports as ours.
function(ravdel_avx512_sources target)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
    target_sources(${target} PRIVATE ${ARGN})
    set(options -mavx512f -mavx512bw -mavx512vbmi -mavx512vnni -mbmi2)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      list(APPEND options -Wno-uninitialized)
    endif()
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "${options}")
  endif()
endfunction()

# NEON kernels of 64-bit ARM, where Advanced SIMD is part of the base instruction set: built
# like the rest and chosen through the same dispatch.
function(ravdel_neon_sources target)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64|ARM64")
    target_sources(${target} PRIVATE ${ARGN})
  endif()
endfunction()
