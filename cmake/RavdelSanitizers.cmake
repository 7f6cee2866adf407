# RAVDEL_SANITIZE="address;undefined" or "thread": applied to every target of the build.
if(RAVDEL_SANITIZE)
  string(REPLACE ";" "," _ravdel_san "${RAVDEL_SANITIZE}")
  add_compile_options(-fsanitize=${_ravdel_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_ravdel_san})
endif()
