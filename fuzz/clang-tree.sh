# clang-tree.sh: sourced by fuzz/fuzz-run and tests/reliability/sanitize-run:
# configures (when needed) the one clang build tree they share, the clang
# build of the whole native tree (warnings are errors there as with gcc), in
# which everything is compiled with the address and undefined-behaviour
# sanitizers (any undefined behaviour stops the program) and with the
# coverage libFuzzer needs. Defines configure_clang_tree SOURCE_DIR BUILD_DIR.

configure_clang_tree() {
  local src=$1 dir=$2
  local clangxx
  clangxx=$(command -v clang++) || { echo "clang++ is not installed: run scripts/install-deps" >&2; return 1; }
  local flags="-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined -fsanitize=fuzzer-no-link"
  mkdir -p "$dir"
  # The same settings again change nothing, so a configured tree is reused.
  cmake -S "$src" -B "$dir" -DCMAKE_CXX_COMPILER="$clangxx" -DCMAKE_BUILD_TYPE=Debug \
    -DQUARN_TSAN_TEST=OFF -DQUARN_RELIABILITY_SANITIZERS=OFF -DQUARN_FUZZ=ON -DQUARN_WIN32=OFF -DQUARN_BOINC=OFF -DQUARN_PACKAGES=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log" >&2; return 1; }
}
