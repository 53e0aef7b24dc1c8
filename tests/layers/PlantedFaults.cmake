# Plants forbidden includes and links in small trees laid out like the program and
# in a copy of the program's own tree, and checks that the layer checks refuse each
# one with a message that names it, and that the unchanged copy passes them all.
#   cmake -DORVANE_SOURCE=<source tree> -DWORK=<scratch dir> -DGENERATOR=<generator> -P PlantedFaults.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORK}")
set(_failures "")

function(expect_failure what result output)
  if(result EQUAL 0)
    list(APPEND _failures "${what}: the check passed")
  endif()
  foreach(message IN LISTS ARGN)
    string(FIND "${output}" "${message}" _at)
    if(_at EQUAL -1)
      list(APPEND _failures "${what}: no \"${message}\" in:\n${output}")
    endif()
  endforeach()
  set(_failures ${_failures} PARENT_SCOPE)
endfunction()

# Includes.
set(tree "${WORK}/includes")
file(WRITE "${tree}/core/Log.cpp" "#include \"core/Log.h\"\n#include \"platform/Host.h\"\n#include \"source/Scanner.h\"\n")
file(WRITE "${tree}/cut/List.h" "#pragma once\n#include <vector>\n#include <QList>\n")
file(WRITE "${tree}/views/Pane.cpp" "#include \"views/Pane.h\"\n#  include \"platform/fake/Fakes.h\"\n")
file(WRITE "${tree}/shell/qt/Window.cpp" "#include <QtWidgets/QWidget>\n#include \"platform/qt/QtControl.h\"\n#include <libavutil/frame.h>\n")
file(WRITE "${tree}/media/Decoder.cpp" "#include <libavcodec/avcodec.h>\n#include \"source/PvaPacket.h\"\n#include \"cut/CutEditor.h\"\n")
file(WRITE "${tree}/viewer/Window.cpp" "#include \"media/PictureDecoder.h\"\n#include <libswscale/swscale.h>\n")
file(WRITE "${tree}/resources/Templates.cpp" "#include \"tests/support/TestSupport.h\"\n")
file(WRITE "${tree}/tests/support/TestSupport.h" "#include \"output/OutputWriter.h\"\n#include <QTest>\n")
foreach(d platform platform/fake platform/qt source output)
  file(MAKE_DIRECTORY "${tree}/${d}")
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -DORVANE_CHECK_ROOT=${tree} -P ${ORVANE_SOURCE}/cmake/OrvaneCheckIncludes.cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(all "${out}${err}")
expect_failure("planted includes" "${result}" "${all}"
  "core/Log.cpp: #include source/Scanner.h: core/ may not use source/ (it may use: platform platform/posix)"
  "cut/List.h: #include QList: Qt is for"
  "views/Pane.cpp: #include platform/fake/Fakes.h: views/ may not use platform/fake/"
  "shell/qt/Window.cpp: #include libavutil/frame.h: FFmpeg's libraries are for media/ only"
  "viewer/Window.cpp: #include libswscale/swscale.h: FFmpeg's libraries are for media/ only"
  "media/Decoder.cpp: #include cut/CutEditor.h: media/ may not use cut/"
  "resources/Templates.cpp: #include tests/support/TestSupport.h: tests/ is not part of the program's layers")
foreach(allowed "core/Log.cpp: #include platform/Host.h" "QtWidgets/QWidget" "platform/qt/QtControl.h"
                "libavcodec/avcodec.h" "source/PvaPacket.h" "media/PictureDecoder.h" "tests/support/TestSupport.h: #include")
  string(FIND "${all}" "${allowed}" _at)
  if(NOT _at EQUAL -1)
    list(APPEND _failures "planted includes: refused an allowed include ${allowed}:\n${all}")
  endif()
endforeach()

# Links: a small project of interface libraries in the program's folders.
set(project "${WORK}/links")
file(WRITE "${project}/CMakeLists.txt" "
cmake_minimum_required(VERSION 3.25)
project(planted NONE)
include(${ORVANE_SOURCE}/cmake/OrvaneEngine.cmake)
foreach(d platform core source cut media platform/qt viewer tests)
  add_subdirectory(\${d})
endforeach()
orvane_check_layers()
")
file(WRITE "${project}/platform/CMakeLists.txt" "add_library(orvane_platform INTERFACE)\n")
file(WRITE "${project}/core/CMakeLists.txt" "
add_library(orvane_core INTERFACE)
target_link_libraries(orvane_core INTERFACE orvane_platform)
if(CASE STREQUAL \"qt_by_name\")
  target_link_libraries(orvane_core INTERFACE \$<LINK_ONLY:/opt/lib/libQT6Core.so>)
endif()
")
file(WRITE "${project}/source/CMakeLists.txt" "
add_library(orvane_source INTERFACE)
target_link_libraries(orvane_source INTERFACE orvane_core)
if(CASE STREQUAL \"upward\")
  target_link_libraries(orvane_source INTERFACE orvane_cut)
endif()
if(CASE STREQUAL \"ffmpeg_indirect\")
  add_library(External::Media INTERFACE IMPORTED GLOBAL)
  set_target_properties(External::Media PROPERTIES INTERFACE_LINK_LIBRARIES LibAVCodec)
  add_library(orvane_source_media INTERFACE)
  target_link_libraries(orvane_source_media INTERFACE External::Media)
  target_link_libraries(orvane_source INTERFACE orvane_source_media)
endif()
")
file(WRITE "${project}/cut/CMakeLists.txt" "
if(CASE STREQUAL \"hidden_import\")
  add_library(Local::Codec INTERFACE IMPORTED)
  target_link_libraries(orvane_source INTERFACE Local::Codec)
endif()
add_library(orvane_cut INTERFACE)
target_link_libraries(orvane_cut INTERFACE orvane_source)
if(CASE STREQUAL \"qt_side\")
  target_link_libraries(orvane_cut INTERFACE orvane_platform_qt)
endif()
if(CASE STREQUAL \"test_support\")
  target_link_libraries(orvane_cut INTERFACE planted_support)
endif()
")
file(WRITE "${project}/platform/qt/CMakeLists.txt" "
add_library(Qt6::Widgets INTERFACE IMPORTED GLOBAL)
add_library(orvane_platform_qt INTERFACE)
target_link_libraries(orvane_platform_qt INTERFACE orvane_platform Qt6::Widgets)
")
file(WRITE "${project}/media/CMakeLists.txt" "
add_library(PkgConfig::LIBAVCODEC INTERFACE IMPORTED)
add_library(orvane_media INTERFACE)
target_link_libraries(orvane_media INTERFACE orvane_source PkgConfig::LIBAVCODEC)
")
file(WRITE "${project}/viewer/CMakeLists.txt" "
add_library(planted_viewer INTERFACE)
target_link_libraries(planted_viewer INTERFACE orvane_platform_qt orvane_media orvane_source)
if(CASE STREQUAL \"viewer_ffmpeg\")
  add_library(Viewer::Codec INTERFACE IMPORTED GLOBAL)
  set_target_properties(Viewer::Codec PROPERTIES INTERFACE_LINK_LIBRARIES avcodec)
  target_link_libraries(planted_viewer INTERFACE Viewer::Codec)
endif()
")
file(WRITE "${project}/tests/CMakeLists.txt" "add_library(planted_support INTERFACE)\n")

set(cases
  "clean|"
  "upward|orvane_source -> orvane_cut: source/ must not link cut/ (it may use: core platform platform/posix)"
  "qt_side|orvane_cut -> orvane_platform_qt: cut/ must not link platform/qt/"
  "qt_by_name|orvane_core -> /opt/lib/libQT6Core.so: core/ must not link /opt/lib/libQT6Core.so: Qt is for"
  "ffmpeg_indirect|orvane_source_media -> External::Media -> LibAVCodec: source/ must not link LibAVCodec: FFmpeg's libraries are for media/ only"
  "viewer_ffmpeg|planted_viewer -> Viewer::Codec -> avcodec: viewer/ must not link avcodec: FFmpeg's libraries are for media/ only"
  "hidden_import|orvane_source -> Local::Codec: source/ links Local::Codec, an imported target the check cannot look into"
  "test_support|orvane_cut -> planted_support: cut/ must not link planted_support, which is not part of the program's layers")
foreach(c IN LISTS cases)
  string(REPLACE "|" ";" c "${c}")
  list(GET c 0 name)
  list(GET c 1 message)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${project} -B ${WORK}/links-${name} -G "${GENERATOR}" -DCASE=${name}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(name STREQUAL "clean")
    if(NOT result EQUAL 0)
      list(APPEND _failures "clean links: the check failed:\n${out}${err}")
    endif()
  else()
    # CMake wraps long messages; compare without the line breaks.
    string(REGEX REPLACE "\n *" " " flat "${out}${err}")
    expect_failure("planted link ${name}" "${result}" "${flat}" "${message}")
  endif()
endforeach()

# The program's own tree, copied: it passes; with a relative include of views/ and a
# system header in cut/, or cut/ linking libavcodec, it does not.
set(copy "${WORK}/tree")
file(GLOB _top RELATIVE "${ORVANE_SOURCE}" "${ORVANE_SOURCE}/*")
foreach(d IN LISTS _top)
  if(NOT d MATCHES "^(build.*|\\..*)$")
    file(COPY "${ORVANE_SOURCE}/${d}" DESTINATION "${copy}")
  endif()
endforeach()
set(_configure ${CMAKE_COMMAND} -S ${copy} -B ${WORK}/tree-build -G "${GENERATOR}" -DORVANE_ENGINE_ONLY=ON
               -DORVANE_TESTS=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
execute_process(COMMAND ${_configure} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  list(APPEND _failures "the copied tree: configure failed:\n${out}${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -DORVANE_CHECK_ROOT=${copy} -P ${ORVANE_SOURCE}/cmake/OrvaneCheckIncludes.cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  list(APPEND _failures "the copied tree: the include check failed:\n${out}${err}")
endif()

# An include of a layer above, spelled from the top of the tree, does not even
# compile in cut/: its include directory holds only what cut/ may use.
file(READ "${WORK}/tree-build/compile_commands.json" _commands)
string(JSON _n LENGTH "${_commands}")
set(_cutCommand "")
math(EXPR _last "${_n} - 1")
foreach(i RANGE ${_last})
  string(JSON _file GET "${_commands}" ${i} file)
  if(_file MATCHES "/tree/cut/[^/]+\\.cpp$")
    string(JSON _cutCommand GET "${_commands}" ${i} command)
    string(JSON _cutDir GET "${_commands}" ${i} directory)
    break()
  endif()
endforeach()
if(NOT _cutCommand)
  list(APPEND _failures "the copied tree: no compile command for cut/")
else()
  foreach(header "source/PvaPacket.h" "views/StreamViews.h")
    string(MAKE_C_IDENTIFIER "${header}" _id)
    file(WRITE "${WORK}/planted_${_id}.cpp" "#include \"${header}\"\n")
    string(REGEX REPLACE " -o [^ ]+" " -o ${WORK}/planted_${_id}.o" _cmd "${_cutCommand}")
    string(REGEX REPLACE " -c [^ ]+" " -c ${WORK}/planted_${_id}.cpp" _cmd "${_cmd}")
    separate_arguments(_cmd UNIX_COMMAND "${_cmd}")
    execute_process(COMMAND ${_cmd} WORKING_DIRECTORY "${_cutDir}" RESULT_VARIABLE result OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    if(header MATCHES "^source/" AND NOT result EQUAL 0)
      list(APPEND _failures "cut/ could not compile an include of ${header}:\n${out}${err}")
    elseif(header MATCHES "^views/")
      expect_failure("cut/ compiling an include of ${header}" "${result}" "${out}${err}" "${header}")
    endif()
  endforeach()
endif()

file(GLOB _cutSources "${copy}/cut/*.cpp")
list(GET _cutSources 0 _planted)
file(RELATIVE_PATH _plantedName "${copy}" "${_planted}")
file(APPEND "${_planted}" "#include \"../views/StreamViews.h\"\n#include <sys/mman.h>\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DORVANE_CHECK_ROOT=${copy} -P ${ORVANE_SOURCE}/cmake/OrvaneCheckIncludes.cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX REPLACE "\n *" " " flat "${out}${err}")
expect_failure("the copied tree with planted includes" "${result}" "${flat}"
  "${_plantedName}: #include ../views/StreamViews.h: a relative path that leaves cut/"
  "${_plantedName}: #include sys/mman.h: system headers are for platform/posix/")
file(APPEND "${copy}/cut/CMakeLists.txt" "target_link_libraries(orvane_cut PUBLIC avcodec)\n")
execute_process(COMMAND ${_configure} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX REPLACE "\n *" " " flat "${out}${err}")
expect_failure("the copied tree with cut/ linking libavcodec" "${result}" "${flat}"
  "orvane_cut -> avcodec: cut/ must not link avcodec: FFmpeg's libraries are for")

if(_failures)
  list(JOIN _failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
message(STATUS "Every planted fault was caught")
