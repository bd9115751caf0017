cmake_minimum_required(VERSION 3.25)
# Installs the build into a fresh prefix and checks what a desktop needs to
# list and start Parcelon.
#   -DBUILD_DIR=<build tree> -DPREFIX=<empty folder> [-DRSVG_CONVERT=<path>]
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

set(icons 48 256)
if(RSVG_CONVERT)
  set(icons 16 24 32 48 64 128 256)
endif()
list(TRANSFORM icons REPLACE "(.+)" "share/icons/hicolor/\\1x\\1/apps/parcelon.png")
foreach(file lib/parcelon/parcelon share/applications/parcelon.desktop share/metainfo/example.wrenfield.Parcelon.metainfo.xml
             share/icons/hicolor/scalable/apps/parcelon.svg ${icons})
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

if(NOT IS_SYMLINK "${PREFIX}/bin/parcelon")
  message(FATAL_ERROR "bin/parcelon is no link")
endif()
file(REAL_PATH "${PREFIX}/bin/parcelon" linked)
file(REAL_PATH "${PREFIX}/lib/parcelon/parcelon" program)
if(NOT linked STREQUAL program)
  message(FATAL_ERROR "bin/parcelon leads to ${linked}, not ${program}")
endif()

file(STRINGS "${PREFIX}/share/applications/parcelon.desktop" entry)
# The entry names the program by its full path: <prefix>/bin need not be on
# the desktop's PATH.
foreach(line "Type=Application" "Name=Parcelon" "Exec=${PREFIX}/bin/parcelon" "Icon=parcelon")
  if(NOT line IN_LIST entry)
    message(FATAL_ERROR "the menu entry lacks ${line}")
  endif()
endforeach()

# The files the program keeps beside itself go with it.
foreach(file Samples x/o.cjs HAND-M.CUR drag.ico)
  if(EXISTS "${BUILD_DIR}/bin/${file}" AND NOT EXISTS "${PREFIX}/lib/parcelon/${file}")
    message(FATAL_ERROR "${file} is beside the built program but was not installed")
  endif()
endforeach()
