# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the POSIX-thread compilers, which
# std::thread needs). scripts/windows copies this file into its cache, because the Qt it builds
# there names the toolchain file by its absolute path.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

# Libraries, headers and CMake packages only from the cross root and the prefixes given by
# CMAKE_PREFIX_PATH; programs (moc, rcc, uic, makensis) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Where the copy in the cache sits, the dependencies built there are found too.
foreach(prefix qt openssl jpeg)
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${prefix})
    list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_CURRENT_LIST_DIR}/${prefix})
  endif()
endforeach()
