# Included by each archiver library's CMakeLists.txt (folders are added in name order, so this
# cannot live in common/CMakeLists.txt for a library such as 7-zip32 that sorts before it).
# Links the common library and exports only the entry points.
function(arclib_archiver_library target)
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON PREFIX "lib")
  target_link_libraries(${target} PRIVATE arclib_common)
  target_link_options(${target} PRIVATE "LINKER:--exclude-libs,ALL")
  # clang links its sanitizer runtimes into the program only, so a fuzz build's library leaves
  # their symbols to the program that loads it.
  if(NOT QUORVEL_FUZZ)
    target_link_options(${target} PRIVATE "LINKER:--no-undefined")
  endif()
endfunction()
