# One library target per folder. A folder's headers are reachable only as
# "<folder>/X.h" through an include root of its own, which a target sees only
# when it links that folder: an include the architecture does not allow fails
# to build instead of compiling by accident.
function(veltrano_folder_library target folder)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  set(root ${CMAKE_BINARY_DIR}/include-roots/${folder})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  target_compile_options(${target} PRIVATE ${VELTRANO_WARNINGS})
endfunction()
