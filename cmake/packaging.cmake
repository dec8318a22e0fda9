# Install rules and the Debian package.
#
# The client lives like a program in a folder of its own: it reads Data/QEL (the connection settings)
# and Data/update-server beside its executable, and its update writes tempQEL and qel31.sh there. So
# the executable goes into a folder of its own, lib/qel31/, and bin/qel31 is a link to it (the client
# takes its folder from the link's target, not from the link). Data/ in that folder is a link to the
# configuration folder, /etc/qel31 when the prefix is /usr and <prefix>/etc/qel31 otherwise: the
# administrator writes QEL there with qel31-settings, and it outlives upgrades and removal of the
# package.
#
# A system-wide install belongs to root, so the program cannot replace itself there; such a
# workstation takes new versions as a new package. Where the program's own update is wanted, install
# into a folder its users may write: cmake --install build --prefix FOLDER.
#
# qel31-settings is installed for administrators. qel31-sandbox, the development server, is not
# installed at all: it is never deployed with the client.
#
#   cmake --install build --strip [--prefix /usr/local]   # without --strip: with debugging information
#   scripts/package                 # build-package/qel31_<version>_<arch>.deb, checked by packaging/check
#
# scripts/package configures with BUILD_TESTING, QEL31_BUILD_BENCHMARKS and QEL31_BUILD_SANDBOX off,
# so that only what the package ships is built.

install(TARGETS qel31 RUNTIME DESTINATION lib/qel31)
install(TARGETS qel31-settings RUNTIME DESTINATION bin)
# A stripped install (cmake --install --strip, and the package) also drops the compiler's .comment
# section, as Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program lib/qel31/qel31 bin/qel31-settings)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${program}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

# The links are made when installing, against the prefix of that install (with cpack: /usr).
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(configFolder "/etc/qel31")
  else()
    set(configFolder "${CMAKE_INSTALL_PREFIX}/etc/qel31")
  endif()
  message(STATUS "Installing: ${root}/bin/qel31 -> ../lib/qel31/qel31")
  file(MAKE_DIRECTORY "${root}/bin")
  file(CREATE_LINK "../lib/qel31/qel31" "${root}/bin/qel31" SYMBOLIC)
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${configFolder}")
  set(data "${root}/lib/qel31/Data")
  if(IS_SYMLINK "${data}")
    file(REMOVE "${data}")
  endif()
  if(EXISTS "${data}")
    # A folder of settings made by hand is the administrator's: it stays.
    message(WARNING "${data} is a folder, not a link to ${configFolder}; left as it is")
  else()
    message(STATUS "Installing: ${data} -> ${configFolder}")
    file(CREATE_LINK "${configFolder}" "${data}" SYMBOLIC)
  endif()
]])

install(FILES ${PROJECT_SOURCE_DIR}/resources/qel31.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/qel31.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/qel31-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME qel31.png)
endforeach()

# The manual pages, the changelog and the copyright, as Debian lays them out: the pages and the
# changelog compressed with gzip -9n (no name, no time stamp: the same bytes on every build).
set(QEL31_PACKAGE_MAINTAINER "QEL 31 maintainers <qel31@example.org>" CACHE STRING
    "The Maintainer field of the Debian package and its changelog: a name and an e-mail address")
if(QEL31_PACKAGE_MAINTAINER STREQUAL "QEL 31 maintainers <qel31@localhost>")
  # The former default, which no mail reaches, left in a build folder's cache.
  set_property(CACHE QEL31_PACKAGE_MAINTAINER PROPERTY VALUE "QEL 31 maintainers <qel31@example.org>")
endif()
find_program(QEL31_GZIP gzip REQUIRED)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
set(compressedDocs)
foreach(source docs/man/qel31.1 docs/man/qel31-settings.1 ${CMAKE_BINARY_DIR}/packaging/changelog)
  get_filename_component(name ${source} NAME)
  get_filename_component(source ${source} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
  set(compressed ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${QEL31_GZIP} -9n -c ${source} > ${compressed}
    DEPENDS ${source} VERBATIM)
  list(APPEND compressedDocs ${compressed})
endforeach()
add_custom_target(qel31-docs ALL DEPENDS ${compressedDocs})
install(FILES ${CMAKE_BINARY_DIR}/packaging/qel31.1.gz ${CMAKE_BINARY_DIR}/packaging/qel31-settings.1.gz
        DESTINATION share/man/man1)
# The version has no Debian revision, so the package is a native one: its changelog is changelog.gz.
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION share/doc/qel31)
# The administrator's guide, to which the manual pages point.
install(FILES ${PROJECT_SOURCE_DIR}/docs/administration.md DESTINATION share/doc/qel31)

# The package: installed into /usr, the configuration folder into /etc. The install scripts see the
# final prefix only when cpack stages through DESTDIR.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qel31)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "registration of the monitors of academic groups")
set(CPACK_PACKAGE_CONTACT "${QEL31_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QEL31_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The summary is the first line of the description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "QEL 31 is the desktop client with which university staff name, for each
academic group of their faculties and each academic year, the student who
serves as the group's monitor. It works against a Microsoft SQL Server
database through FreeTDS.

The administrator writes the connection settings with qel31-settings into
/etc/qel31/QEL.")

# The libraries the programs link are found by dpkg-shlibdeps (package dpkg-dev) in the files that
# the file command (package file) tells to be programs. What is loaded at run time is named here:
# unixODBC with FreeTDS's driver (its package registers the driver name FreeTDS that the client's
# connection uses) and the fonts that stand in for the Windows ones.
set(runtimeDepends "unixodbc, tdsodbc, fonts-liberation, fonts-dejavu-core")
find_program(QEL31_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(QEL31_FILE file)
if(QEL31_DPKG_SHLIBDEPS AND QEL31_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${runtimeDepends}")
else()
  # Without those tools, the libraries as Debian 12 names them.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), \
libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), libodbc2, libssl3, libjpeg62-turbo, ${runtimeDepends}")
endif()

include(CPack)
