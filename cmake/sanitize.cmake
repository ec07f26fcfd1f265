# One switch for the sanitizer build: every target of the tree, libraries,
# modules and programs alike, is instrumented.
if(SHV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
