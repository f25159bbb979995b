# Every target of ours gets the same strict warnings; a warning fails the build.
add_library(pelicore_warnings INTERFACE)
target_compile_options(pelicore_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror
  -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wnull-dereference -Wimplicit-fallthrough -Wformat=2
  # g++ 12 reports impossible overlaps inside std::string's own copies when it
  # inlines them at -O2/-O3 (a known false positive of that release).
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)

if(PELICORE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# The sanitizer build of the test command instruments every target, ours and
# the test support alike.
if(PELICORE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
