# toolchain-mingw-x86_64.cmake: cross-compiles Quarn for 64-bit Windows with MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARN_MINGW_TRIPLE x86_64-w64-mingw32)
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

# The 64-bit Windows ABI guarantees only 16-byte stack alignment and GCC
# cannot realign the stack there, yet it spills 256- and 512-bit vectors
# with aligned moves: the assembler turns every aligned vector move into an
# unaligned one, which costs nothing on processors with AVX.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# Everything static (libgcc, libstdc++, winpthread if pulled in): the .exe
# files need nothing but the DLLs that ship with Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest in the cross build runs each program under Wine.
get_filename_component(QUARN_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARN_SOURCE_ROOT}/scripts/wine-run)
