# Warnings every target of ours compiles with; errors when RAVDEL_WERROR is on (CI).
add_library(ravdel_warnings INTERFACE)
target_compile_options(ravdel_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Wunused -Woverloaded-virtual -Wpedantic -Wconversion -Wsign-conversion
  -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough
  -Wmissing-declarations)
if(RAVDEL_WERROR)
  target_compile_options(ravdel_warnings INTERFACE -Werror)
endif()
