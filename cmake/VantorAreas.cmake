# vantor_add_areas([<folder> ...])
# Adds each named sub-folder of the current source folder that has a CMakeLists.txt, in the given
# order; with no names, every such sub-folder in alphabetical order. Areas thus join the build as
# soon as they exist.
function(vantor_add_areas)
  set(folders ${ARGN})
  if(NOT folders)
    file(GLOB folders LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
         ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT folders)
  endif()
  foreach(folder IN LISTS folders)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/CMakeLists.txt)
      add_subdirectory(${folder})
    endif()
  endforeach()
endfunction()
