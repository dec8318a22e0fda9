# The layering of the libraries: which folder each is built from, which of the others it may use and
# which Qt modules. The table is the architecture; the configure step checks the link lines against it
# (qel31_check_links) and the ctest "layering" checks every #include of the sources
# (cmake/checklayering.cmake). Lowest first; a library may use only libraries above it in this list.

set(QEL31_LAYERS common db app update signin registration program sandbox_engine sandbox_tds)

set(QEL31_LAYER_common_FOLDER src/common)
set(QEL31_LAYER_common_TARGET qel31common)
set(QEL31_LAYER_common_USES "")
set(QEL31_LAYER_common_QT Core)

set(QEL31_LAYER_db_FOLDER src/db)
set(QEL31_LAYER_db_TARGET qel31db)
set(QEL31_LAYER_db_USES common)
set(QEL31_LAYER_db_QT Core)

set(QEL31_LAYER_app_FOLDER src/app)
set(QEL31_LAYER_app_TARGET qel31app)
set(QEL31_LAYER_app_USES common)
set(QEL31_LAYER_app_QT Core Gui Widgets)

set(QEL31_LAYER_update_FOLDER src/update)
set(QEL31_LAYER_update_TARGET qel31update)
set(QEL31_LAYER_update_USES app common)
set(QEL31_LAYER_update_QT Core Gui Widgets Network)

set(QEL31_LAYER_signin_FOLDER src/signin)
set(QEL31_LAYER_signin_TARGET qel31signin)
set(QEL31_LAYER_signin_USES update db app common)
set(QEL31_LAYER_signin_QT Core Gui Widgets)

set(QEL31_LAYER_registration_FOLDER src/registration)
set(QEL31_LAYER_registration_TARGET qel31registration)
set(QEL31_LAYER_registration_USES signin db app common)
set(QEL31_LAYER_registration_QT Core Gui Widgets)

set(QEL31_LAYER_program_FOLDER src/program)
set(QEL31_LAYER_program_TARGET qel31program)
set(QEL31_LAYER_program_USES registration db app common)
set(QEL31_LAYER_program_QT Core Gui Widgets)

# The sandbox server uses only the shared facilities of the client: no widgets, no Qt Network.
set(QEL31_LAYER_sandbox_engine_FOLDER sandbox/engine)
set(QEL31_LAYER_sandbox_engine_TARGET qel31sandbox_engine)
set(QEL31_LAYER_sandbox_engine_USES common)
set(QEL31_LAYER_sandbox_engine_QT Core)

set(QEL31_LAYER_sandbox_tds_FOLDER sandbox/tds)
set(QEL31_LAYER_sandbox_tds_TARGET qel31sandbox)
set(QEL31_LAYER_sandbox_tds_USES sandbox_engine common)
set(QEL31_LAYER_sandbox_tds_QT Core)

set(QEL31_QT_MODULES Core Gui Widgets Sql Network Test)

# Appends to errorsVar when a layer uses one that comes after it in QEL31_LAYERS (which a cycle
# always needs) or one that does not exist.
function(qel31_check_layer_order errorsVar)
  set(errors ${${errorsVar}})
  set(seen "")
  foreach(layer IN LISTS QEL31_LAYERS)
    foreach(used IN LISTS QEL31_LAYER_${layer}_USES)
      if(NOT used IN_LIST seen)
        list(APPEND errors "the table lets ${layer} use ${used}, which is not below it")
      endif()
    endforeach()
    list(APPEND seen ${layer})
  endforeach()
  set(${errorsVar} ${errors} PARENT_SCOPE)
endfunction()

# The layer a target of ours belongs to, or "" for any other name.
function(qel31_layer_of_target target outVar)
  set(result "")
  foreach(layer IN LISTS QEL31_LAYERS)
    if(target STREQUAL QEL31_LAYER_${layer}_TARGET)
      set(result ${layer})
    endif()
  endforeach()
  set(${outVar} ${result} PARENT_SCOPE)
endfunction()

# At configure time, after every target exists: each library links only the libraries and Qt modules
# the table allows it. Stops the configure step otherwise.
function(qel31_check_links)
  set(errors "")
  qel31_check_layer_order(errors)
  foreach(layer IN LISTS QEL31_LAYERS)
    set(target ${QEL31_LAYER_${layer}_TARGET})
    if(NOT TARGET ${target})
      continue()
    endif()
    get_target_property(links ${target} LINK_LIBRARIES)
    if(NOT links)
      set(links "")
    endif()
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(link MATCHES "^Qt6::(.*)$")
        if(NOT CMAKE_MATCH_1 IN_LIST QEL31_LAYER_${layer}_QT)
          list(APPEND errors "${target} links ${link}, which ${layer} may not use")
        endif()
      else()
        qel31_layer_of_target(${link} used)
        if(used AND NOT used IN_LIST QEL31_LAYER_${layer}_USES)
          list(APPEND errors "${target} links ${link}, which ${layer} may not use")
        endif()
      endif()
    endforeach()
  endforeach()
  if(errors)
    list(JOIN errors "\n  " text)
    message(FATAL_ERROR "The libraries break the layering of cmake/layering.cmake:\n  ${text}")
  endif()
endfunction()
