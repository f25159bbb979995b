# pelicore_library(<target> <sources...>): the static library of one layer,
# made of the folder that calls it.
#
# Each library's public include folder is its own: a folder in the build tree
# that holds only a link named after the layer's folder, so that
# "socket/Psock.h" resolves for the socket library and for whatever links it,
# and nothing else does. A layer sees the headers of the layers it links (the
# ones below it) and no others: an include of a higher layer fails to compile.
# scripts/check-layers.sh checks the same rule on the sources.
function(pelicore_library name)
  get_filename_component(layer "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
  set(include_dir "${PROJECT_BINARY_DIR}/layers/${layer}")
  file(MAKE_DIRECTORY "${include_dir}")
  file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${include_dir}/${layer}" SYMBOLIC)
  add_library(${name} STATIC ${ARGN})
  target_link_libraries(${name} PRIVATE pelicore_warnings)
  target_include_directories(${name} PUBLIC "${include_dir}")
endfunction()
