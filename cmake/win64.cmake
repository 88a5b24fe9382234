# win64.cmake: the 64-bit Windows build beside the 32-bit one: the same tree
# configured with the x86-64 MinGW toolchain in build/win64, statically
# linked. Only the programs the installer ships and the Wine tests run are
# built. Sets QUARN_MINGW64_CXX (NOTFOUND without the cross compiler) and
# QUARN_WIN64_BINARY_DIR.
find_program(QUARN_MINGW64_CXX x86_64-w64-mingw32-g++)
find_program(QUARN_MINGW64_OBJDUMP x86_64-w64-mingw32-objdump)
set(QUARN_WIN64_BINARY_DIR ${CMAKE_BINARY_DIR}/win64)
set(QUARN_WIN64_TARGETS quarn quarn-coord kernel_tests fast_tests kernel_lines gui_driver)
if(QUARN_MINGW64_CXX AND QUARN_MINGW64_OBJDUMP)
  # Under make the sub-build joins the outer jobserver (-j2 stays -j2).
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(win64_build $(MAKE) ${QUARN_WIN64_TARGETS})
  else()
    set(win64_build ${CMAKE_COMMAND} --build ${QUARN_WIN64_BINARY_DIR} --target ${QUARN_WIN64_TARGETS})
  endif()
  include(ExternalProject)
  ExternalProject_Add(quarn_win64
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${QUARN_WIN64_BINARY_DIR}
    PREFIX ${CMAKE_BINARY_DIR}/win64-ep
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-x86_64.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    BUILD_COMMAND ${win64_build}
    INSTALL_COMMAND ""
    # The sub-build decides itself what is out of date.
    BUILD_ALWAYS ON)
else()
  set(QUARN_MINGW64_CXX QUARN_MINGW64_CXX-NOTFOUND)
  message(WARNING
    "x86_64-w64-mingw32-g++ (or its objdump) was not found: the 64-bit Windows "
    "build is left out and the win64_* tests will FAIL. Run scripts/install-deps, "
    "then configure again.")
endif()
