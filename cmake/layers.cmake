# The layers of the tree and the check that keeps them. Each product folder
# may include (#include "folder/...") its own headers and those of the
# folders below it, never one above:
#
#   filter        app      prefilter   front ends: the CUPS filter, the
#      |           |           |       Printer Application, the prefilter
#      +--- job ---+           |       raster job, page pipelines, device commands
#            |                 |
#          output              |       printer command writers
#            |                 |
#          image --------------+       page and plane operations, separation
#            |
#          core                        model table, settings, job context, sink
#
# tools/ stands apart: it includes only itself and, for the bitmap font its
# pictures share with the Printer Application's test receipt, image/font.h
# (its decoder and receipt model, the tests' oracle for the printer bytes,
# share no code with the product); tests/, fuzz/ and bench/ may include
# anything. Every build runs this file as a script over the
# product's sources: an include of a folder above fails the build, naming
# the file and the include.
#
# Included from CMakeLists.txt, it defines the target talvero_layers that
# runs the check; run with cmake -DSOURCE_DIR=<tree> -P layers.cmake, it
# checks the tree at SOURCE_DIR.

set(talvero_may_include_core core)
set(talvero_may_include_image core image)
set(talvero_may_include_output core image output)
set(talvero_may_include_job core image output job)
set(talvero_may_include_filter core image output job filter)
set(talvero_may_include_prefilter core image prefilter)
set(talvero_may_include_app core image output job app)
set(talvero_may_include_tools tools)
set(talvero_may_include_tools_files image/font.h)
set(talvero_layered_folders core image output job filter prefilter app tools)
set(talvero_project_folders ${talvero_layered_folders} tests fuzz bench)

# The sources of the layered folders under `root`, in `out`.
function(talvero_layered_sources root out)
  set(found "")
  # A new source file makes the build configure again, so it is checked too.
  set(refresh "")
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    set(refresh CONFIGURE_DEPENDS)
  endif()
  foreach(folder ${talvero_layered_folders})
    file(GLOB_RECURSE files ${refresh} ${root}/${folder}/*.h ${root}/${folder}/*.cpp)
    list(APPEND found ${files})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

if(NOT CMAKE_SCRIPT_MODE_FILE)
  talvero_layered_sources(${PROJECT_SOURCE_DIR} sources)
  set(stamp ${CMAKE_BINARY_DIR}/layers.checked)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DSTAMP=${stamp}
            -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${sources} ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Checking that no folder includes a folder above it")
  add_custom_target(talvero_layers ALL DEPENDS ${stamp})
  return()
endif()

cmake_minimum_required(VERSION 3.25)
get_filename_component(SOURCE_DIR ${SOURCE_DIR} ABSOLUTE)
talvero_layered_sources(${SOURCE_DIR} sources)
set(faults "")
foreach(file ${sources})
  file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
  string(REGEX MATCH "^[^/]+" folder ${name})
  file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
  foreach(line ${includes})
    string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*" "\\1" included "${line}")
    string(REGEX MATCH "^[^/]+" target ${included})
    if(target IN_LIST talvero_project_folders AND NOT target IN_LIST talvero_may_include_${folder}
       AND NOT included IN_LIST talvero_may_include_${folder}_files)
      string(REPLACE ";" ", " allowed "${talvero_may_include_${folder}}")
      string(APPEND faults "  ${name} includes \"${included}\": ${folder}/ may include only ${allowed}\n")
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "Upward includes (see cmake/layers.cmake):\n${faults}")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
