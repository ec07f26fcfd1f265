# One switch for the sanitizer build: every target of the tree, libraries,
# modules and programs alike, is instrumented.
if(SHV_SANITIZE)
  # Line tables are all a sanitizer report needs to name file and line.
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined -g1)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build instruments the whole tree for coverage; the fuzz targets add
# the libFuzzer driver (tests/fuzz).
if(SHV_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
