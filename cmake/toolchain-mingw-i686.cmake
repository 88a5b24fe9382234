# toolchain-mingw-i686.cmake: cross-compiles Quarn for 32-bit Windows with MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUARN_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QUARN_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QUARN_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${QUARN_MINGW_TRIPLE}-windres)

# Headers, libraries and packages come from the MinGW sysroot only (so the
# host's GoogleTest is never picked up); build tools come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QUARN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's default is the Pentium Pro (cmov, fcomi); the client must
# also run on the original Pentium, for which it has a kernel of its own.
set(CMAKE_C_FLAGS_INIT "-march=pentium -mtune=generic")
set(CMAKE_CXX_FLAGS_INIT "-march=pentium -mtune=generic")

# Everything static (libgcc, libstdc++, winpthread if pulled in): the .exe
# files need nothing but the DLLs that ship with Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest in the cross build runs each program under Wine.
get_filename_component(QUARN_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARN_SOURCE_ROOT}/scripts/wine-run)
