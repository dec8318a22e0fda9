# Checks every #include of the libraries' sources against the layering of cmake/layering.cmake: a
# header of our own only from the library itself or one it may use, a Qt header only from a module it
# may use. Run by ctest as "layering":
#
#   cmake -DSOURCE_DIR=<the tree> -DQT_INCLUDE_DIR=<Qt's include folder> -P cmake/checklayering.cmake
#
# Exits with an error and one line per offending include.

cmake_minimum_required(VERSION 3.22)
include(${CMAKE_CURRENT_LIST_DIR}/layering.cmake)

if(NOT SOURCE_DIR OR NOT QT_INCLUDE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=... -DQT_INCLUDE_DIR=... -P checklayering.cmake")
endif()

# The layer a quoted include names, by its folder; "" for one of no layer (a bare name, a .moc file).
function(layer_of_include path outVar)
  set(result "")
  foreach(layer IN LISTS QEL31_LAYERS)
    string(REGEX REPLACE "^src/" "" prefix "${QEL31_LAYER_${layer}_FOLDER}")
    string(LENGTH "${prefix}/" length)
    string(SUBSTRING "${path}" 0 ${length} head)
    if(head STREQUAL "${prefix}/")
      set(result ${layer})
    endif()
  endforeach()
  set(${outVar} ${result} PARENT_SCOPE)
endfunction()

# The Qt module whose include folder holds the header, or "".
function(qt_module_of header outVar)
  set(result "")
  foreach(module IN LISTS QEL31_QT_MODULES)
    if(NOT result AND EXISTS "${QT_INCLUDE_DIR}/Qt${module}/${header}")
      set(result ${module})
    endif()
  endforeach()
  if(NOT result AND header MATCHES "^Qt([A-Za-z]+)/")
    set(result ${CMAKE_MATCH_1})
  endif()
  set(${outVar} ${result} PARENT_SCOPE)
endfunction()

set(errors "")
qel31_check_layer_order(errors)
foreach(layer IN LISTS QEL31_LAYERS)
  set(folder ${QEL31_LAYER_${layer}_FOLDER})
  file(GLOB sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
      if(line MATCHES "include[ \t]*\"([^\"]+)\"")
        layer_of_include("${CMAKE_MATCH_1}" used)
        if(used AND NOT used STREQUAL layer AND NOT used IN_LIST QEL31_LAYER_${layer}_USES)
          list(APPEND errors "${source}: ${CMAKE_MATCH_1} belongs to ${used}, which ${layer} may not use")
        endif()
      elseif(line MATCHES "include[ \t]*<([^>]+)>")
        qt_module_of("${CMAKE_MATCH_1}" module)
        if(module AND NOT module IN_LIST QEL31_LAYER_${layer}_QT)
          list(APPEND errors "${source}: <${CMAKE_MATCH_1}> is of Qt ${module}, which ${layer} may not use")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(errors)
  list(JOIN errors "\n  " text)
  message(FATAL_ERROR "Includes that break the layering:\n  ${text}")
endif()
message(STATUS "Layering: every include is allowed")
