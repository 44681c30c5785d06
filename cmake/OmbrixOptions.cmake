# Compiler warnings and sanitizers for every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
                    -Wformat=2 -Wimplicit-fallthrough)
if(OMBRIX_WERROR)
  add_compile_options(-Werror)
endif()

if(OMBRIX_SANITIZE)
  string(REPLACE ";" "," _ombrix_san "${OMBRIX_SANITIZE}")
  add_compile_options(-fsanitize=${_ombrix_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_ombrix_san})
  # The standard library's own bounds and precondition checks, cheap beside the sanitizers.
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC's flow analysis reports false uninitialised reads in instrumented standard headers.
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()
