# quarn_win32_test(NAME [PROGRAM exe | COMMAND cmd...] [TIMEOUT s])
#
# Registers a test of the Win32 build, run by the native build: PROGRAM runs
# build/win32/bin/<exe> under Wine through scripts/wine-run; COMMAND runs a
# command of its own (a script that itself calls wine-run or looks at the
# .exe files). Every such test carries the label win32 and runs in the
# build's own Wine prefix. Without a cross compiler the test exists all the
# same and fails, so that a machine without the Win32 build never reports it
# as passing. In the cross build itself this registers nothing.
set(QUARN_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
cmake_path(NORMAL_PATH QUARN_WINE_RUN)

function(quarn_win32_test name)
  if(CMAKE_CROSSCOMPILING)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PROGRAM;TIMEOUT" "COMMAND")
  if(NOT QUARN_MINGW_CXX)
    add_test(NAME ${name}
             COMMAND sh -c "echo '${name}: FAILED: there is no Win32 build: i686-w64-mingw32-g++ was not found when this build was configured. Run scripts/install-deps, then configure again.' >&2; exit 1")
  elseif(arg_PROGRAM)
    add_test(NAME ${name} COMMAND ${QUARN_WINE_RUN} ${QUARN_WIN32_BINARY_DIR}/bin/${arg_PROGRAM})
  elseif(arg_COMMAND)
    add_test(NAME ${name} COMMAND ${arg_COMMAND})
  else()
    message(FATAL_ERROR "quarn_win32_test(${name}): give PROGRAM or COMMAND")
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS win32
    ENVIRONMENT "QUARN_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
  if(arg_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${arg_TIMEOUT})
  endif()
endfunction()
