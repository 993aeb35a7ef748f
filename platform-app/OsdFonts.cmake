# The OSD font tables, rendered at build time by osd-fontgen from Debian's fonts (scripts/setup
# installs them) and embedded as binary data (.incbin in the generated osd_font_data.cpp; the
# GB2312 tables compressed). Nothing generated is committed. Sets VANTOR_OSD_FONT_SOURCE, and
# VANTOR_OSD_FONT_DIR (the folder with every table as drawn, for tests) in the cache.
find_file(VANTOR_OSD_ASCII_FONT DejaVuSansMono.ttf PATHS /usr/share/fonts/truetype/dejavu NO_CMAKE_FIND_ROOT_PATH)
find_file(VANTOR_OSD_CJK_FONT wqy-zenhei.ttc PATHS /usr/share/fonts/truetype/wqy NO_CMAKE_FIND_ROOT_PATH)
if(NOT VANTOR_OSD_ASCII_FONT OR NOT VANTOR_OSD_CJK_FONT)
  message(FATAL_ERROR "OSD fonts missing (fonts-dejavu-core, fonts-wqy-zenhei): run scripts/setup")
endif()

# The generator runs on the build machine: in a cross build it is configured and built on its own
# with the machine's compiler. Its build step always runs (its own ninja finds nothing to do in a
# moment), so a changed generator is rebuilt and the tables rendered again.
if(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(fontgen_dir ${CMAKE_BINARY_DIR}/host-tools/osd-fontgen)
  set(fontgen ${fontgen_dir}/osd-fontgen)
  set(fontgen_args -DCMAKE_BUILD_TYPE=Release)
  if(VANTOR_CCACHE)
    list(APPEND fontgen_args -DCMAKE_CXX_COMPILER_LAUNCHER=${VANTOR_CCACHE})
  endif()
  ExternalProject_Add(osd_fontgen_host
    SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/platform/osd/fontgen
    BINARY_DIR ${fontgen_dir}
    CMAKE_ARGS ${fontgen_args}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${fontgen})
  set(fontgen_depends osd_fontgen_host ${fontgen})
else()
  add_subdirectory(platform/osd/fontgen)
  set(fontgen $<TARGET_FILE:osd-fontgen>)
  set(fontgen_depends osd-fontgen)
endif()

set(font_dir ${CMAKE_CURRENT_BINARY_DIR}/osd-fonts)
set(VANTOR_OSD_FONT_SOURCE ${font_dir}/osd_font_data.cpp)
set(font_bins)
set(VANTOR_OSD_FONT_DIR ${font_dir} CACHE INTERNAL "the generated OSD font tables")
foreach(table ASCII_48x96 ASCII_24x48 ASCII_16x32 GB2312_96x96 GB2312_48x48 GB2312_32x32
              GB2312_96x96_Z GB2312_48x48_Z GB2312_32x32_Z DIR_48x96 DIR_24x48 DIR_16x32)
  list(APPEND font_bins ${font_dir}/${table}.bin)
endforeach()
add_custom_command(
  OUTPUT ${VANTOR_OSD_FONT_SOURCE} ${font_bins}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${font_dir}
  COMMAND ${fontgen} ${VANTOR_OSD_ASCII_FONT} ${VANTOR_OSD_CJK_FONT} ${font_dir}
  DEPENDS ${fontgen_depends} ${VANTOR_OSD_ASCII_FONT} ${VANTOR_OSD_CJK_FONT}
  COMMENT "Rendering the OSD font tables"
  VERBATIM)
set_source_files_properties(${VANTOR_OSD_FONT_SOURCE} PROPERTIES
  GENERATED TRUE OBJECT_DEPENDS "${font_bins}")
