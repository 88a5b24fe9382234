# boinc.cmake: BOINC's application libraries, built from the source tarball
# once per build folder (natively, or with MinGW in the cross build), as the
# imported target quarn::boinc. QUARN_BOINC_FOUND says whether it exists.
#
# The tarball is QUARN_BOINC_TARBALL (cache), by default the first of
# $QUARN_BOINC_TARBALL, ../shared/third_party/ beside the source tree and
# /work/shared/third_party/.
set(QUARN_BOINC_FOUND OFF)
# The sanitizer and clang trees (tests/tsan-run, fuzz/clang-tree.sh) leave
# quarn-boinc out: their tests are the others.
option(QUARN_BOINC "Build quarn-boinc when the BOINC source is there" ON)
if(NOT QUARN_BOINC)
  return()
endif()
set(quarn_boinc_default "")
foreach(candidate "$ENV{QUARN_BOINC_TARBALL}"
                  "${PROJECT_SOURCE_DIR}/../shared/third_party/boinc-1.6.2.tar.xz"
                  "/work/shared/third_party/boinc-1.6.2.tar.xz")
  if(candidate AND EXISTS "${candidate}" AND NOT quarn_boinc_default)
    set(quarn_boinc_default "${candidate}")
  endif()
endforeach()
set(QUARN_BOINC_TARBALL "${quarn_boinc_default}" CACHE FILEPATH
    "BOINC source tarball (boinc-1.6.2.tar.xz) for quarn-boinc")

if(NOT QUARN_BOINC_TARBALL OR NOT EXISTS "${QUARN_BOINC_TARBALL}")
  # Said once, by the native build; the cross build leaves the same out.
  if(NOT CMAKE_CROSSCOMPILING)
    message(WARNING
      "The BOINC source boinc-1.6.2.tar.xz was not found (set QUARN_BOINC_TARBALL): "
      "quarn-boinc is left out and the boinc_* tests are reported as skipped.")
  endif()
  return()
endif()

set(quarn_boinc_dir ${CMAKE_BINARY_DIR}/boinc)
if(CMAKE_CROSSCOMPILING)
  set(quarn_boinc_mode mingw)
else()
  set(quarn_boinc_mode native)
endif()
set(quarn_boinc_libs ${quarn_boinc_dir}/lib/libboinc_api.a ${quarn_boinc_dir}/lib/libboinc.a)
add_custom_command(
  OUTPUT ${quarn_boinc_dir}/stamp ${quarn_boinc_libs}
  COMMAND ${PROJECT_SOURCE_DIR}/cmake/build-boinc ${quarn_boinc_mode} ${QUARN_BOINC_TARBALL}
          ${quarn_boinc_dir}
  DEPENDS ${QUARN_BOINC_TARBALL} ${PROJECT_SOURCE_DIR}/cmake/build-boinc
          ${PROJECT_SOURCE_DIR}/cmake/boinc-ops-cumulative.patch
  COMMENT "Building BOINC's api/ and lib/ (${quarn_boinc_mode}, a few minutes, once)"
  VERBATIM)
add_custom_target(quarn_boinc_build DEPENDS ${quarn_boinc_dir}/stamp)

# The headers are those of the unpacked tree, which exists only after the
# first build: the folders are made now so the target can name them.
get_filename_component(quarn_boinc_name "${QUARN_BOINC_TARBALL}" NAME)
string(REGEX REPLACE "\\.tar\\.xz$" "" quarn_boinc_name "${quarn_boinc_name}")
set(quarn_boinc_src ${quarn_boinc_dir}/src/${quarn_boinc_name})
set(quarn_boinc_includes ${quarn_boinc_src} ${quarn_boinc_src}/api ${quarn_boinc_src}/lib)
if(CMAKE_CROSSCOMPILING)
  list(APPEND quarn_boinc_includes ${quarn_boinc_src}/win_build)
endif()
file(MAKE_DIRECTORY ${quarn_boinc_includes})

add_library(quarn_boinc_api STATIC IMPORTED GLOBAL)
set_target_properties(quarn_boinc_api PROPERTIES IMPORTED_LOCATION ${quarn_boinc_dir}/lib/libboinc_api.a)
add_library(quarn_boinc_lib STATIC IMPORTED GLOBAL)
set_target_properties(quarn_boinc_lib PROPERTIES IMPORTED_LOCATION ${quarn_boinc_dir}/lib/libboinc.a)
add_library(quarn_boinc INTERFACE)
add_library(quarn::boinc ALIAS quarn_boinc)
add_dependencies(quarn_boinc quarn_boinc_build)
target_include_directories(quarn_boinc SYSTEM INTERFACE ${quarn_boinc_includes})
target_link_libraries(quarn_boinc INTERFACE quarn_boinc_api quarn_boinc_lib)
if(CMAKE_CROSSCOMPILING)
  # The definitions BOINC's own MinGW build compiles with.
  target_compile_definitions(quarn_boinc INTERFACE MINGW_WIN32 HAVE_STRCASECMP _WINDOWS WIN32
                             WINVER=0x0500 _WIN32_WINNT=0x0500 _MT BOINC NODB _CONSOLE)
  target_link_libraries(quarn_boinc INTERFACE psapi ws2_32 winmm wsock32 userenv)
else()
  find_package(Threads REQUIRED)
  target_link_libraries(quarn_boinc INTERFACE Threads::Threads ${CMAKE_DL_LIBS})
endif()
set(QUARN_BOINC_FOUND ON)
