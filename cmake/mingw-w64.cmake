# Cross-build for 64-bit Windows with mingw-w64's posix thread flavour
# (the win32 flavour has no std::thread in g++ 12). Everything is linked
# statically, so the programs run without any DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZR_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ZR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZR_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${ZR_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZR_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

# Libraries come from mingw's own folder and from the prefix the
# dependency script fills (ZR_WINDOWS_PREFIX); host programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZR_MINGW_TRIPLET} ${ZR_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The try-compile projects read this file again and need the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZR_WINDOWS_PREFIX)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# mingw's zlib comes as a static library and as the import library of its
# DLL; libraries that link "-lz" take the static one, so everything must,
# or both end up in one program.
set(ZLIB_LIBRARY /usr/${ZR_MINGW_TRIPLET}/lib/libz.a CACHE FILEPATH "")
# wine, starting again a program that wine failed to start (see the script).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
