# The client on Windows (scripts/windows cross-builds it with mingw-w64):
#
#   QEL 31.exe          the client: a program of the GUI subsystem, with its icon, version information
#                       and an application manifest (the system's visual style, per-monitor DPI
#                       awareness, run as the user)
#   qel31-settings.exe  the settings tool, a console program
#
# `cmake --install` writes the program folder as the installer takes it (packaging/windows/qel31.nsi):
# the two programs, Qt's libraries and the plugins the client loads (the platform, the style, the TLS
# backend of the update's download), OpenSSL's libraries (the update's signature, the explanation of
# a failed encrypted connection) and the compiler's runtime. Data\ is left to the administrator.
#
# With QEL31_NEXT_VERSION_FOR_TESTS a second client, next\QEL 31.exe, shows version 2: the Windows
# tests install it as an update.

option(QEL31_NEXT_VERSION_FOR_TESTS "Build next/QEL 31.exe, showing version 2, for the update's tests" OFF)

string(REPLACE "." "," fileVersionCommas "${PROJECT_VERSION}.0")
set(QEL31_FILE_VERSION "${PROJECT_VERSION}.0")
set(QEL31_FILE_VERSION_COMMAS "${fileVersionCommas}")
set(QEL31_ICON "${PROJECT_SOURCE_DIR}/resources/icons/qel31.ico")
set(QEL31_MANIFEST "${CMAKE_BINARY_DIR}/windows/qel31.manifest")
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/qel31.manifest ${QEL31_MANIFEST} @ONLY)

# The resources of one program.
function(qel31_windows_resources target fileName description)
  set(QEL31_FILE_NAME "${fileName}")
  set(QEL31_INTERNAL_NAME "${target}")
  set(QEL31_DESCRIPTION "${description}")
  set(rc "${CMAKE_BINARY_DIR}/windows/${target}.rc")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/qel31.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${QEL31_ICON} ${QEL31_MANIFEST})
endfunction()

set_target_properties(qel31 PROPERTIES OUTPUT_NAME "QEL 31" WIN32_EXECUTABLE ON)
qel31_windows_resources(qel31 "QEL 31.exe" "QEL 31: registration of the monitors of academic groups")
qel31_windows_resources(qel31-settings "qel31-settings.exe" "QEL 31: the connection settings file")

if(QEL31_NEXT_VERSION_FOR_TESTS)
  add_executable(qel31-next WIN32 ${PROJECT_SOURCE_DIR}/src/program/main.cpp)
  target_link_libraries(qel31-next PRIVATE qel31program qel31db qel31app qel31common)
  target_compile_definitions(qel31-next PRIVATE QEL31_PROGRAM_VERSION=2)
  set_target_properties(qel31-next PROPERTIES OUTPUT_NAME "QEL 31" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/next)
  qel31_windows_resources(qel31-next "QEL 31.exe" "QEL 31: registration of the monitors of academic groups")
endif()

# The compiler's runtime, which the programs and Qt's libraries load.
foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    find_file(path ${runtime} PATHS /usr/${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32/lib NO_DEFAULT_PATH
              NO_CMAKE_FIND_ROOT_PATH)
  endif()
  if(NOT path)
    message(FATAL_ERROR "The compiler's runtime library ${runtime} was not found")
  endif()
  list(APPEND qel31Runtime "${path}")
  unset(path CACHE)
endforeach()

# OpenSSL's libraries, opened at run time by name (common/openssl.cpp).
get_filename_component(openSslRoot "${OPENSSL_INCLUDE_DIR}" DIRECTORY)
file(GLOB qel31OpenSsl "${openSslRoot}/bin/libcrypto-3-x64.dll" "${openSslRoot}/bin/libssl-3-x64.dll")
list(LENGTH qel31OpenSsl openSslCount)
if(NOT openSslCount EQUAL 2)
  message(FATAL_ERROR "OpenSSL's libraries were not found in ${openSslRoot}/bin")
endif()

install(TARGETS qel31 qel31-settings RUNTIME DESTINATION .)
install(FILES ${qel31Runtime} ${qel31OpenSsl}
              $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
              $<TARGET_FILE:Qt6::Network>
        DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
install(FILES $<TARGET_FILE:Qt6::QSchannelBackendPlugin> DESTINATION tls)
