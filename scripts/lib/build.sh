# Sourced by the scripts in scripts/: the one way they configure and build.
# Run from the top of the repository.
#
#   configure_preset [-B DIR] NAME           configures the CMake preset NAME
#   build_preset [-B DIR] NAME [TARGET...]   configures it and builds the
#                                            targets (all when none are named)
#
# The binary folder is the preset's own, build/NAME, or DIR (a second build of
# one preset elsewhere). What CMake says goes to FOLDER/build.log; on failure
# its last lines are shown and the function returns 1. The notes that the
# project's CMake files give (lines "-- zandor: ") are shown.

configure_preset() {
  local dir=
  [[ $1 == -B ]] && { dir=$2; shift 2; }
  local preset=$1
  dir=${dir:-build/$preset}
  mkdir -p "$dir"
  # The preset is read again every time: a changed cache variable takes effect.
  if ! cmake --preset "$preset" -B "$dir" >"$dir/build.log" 2>&1; then
    tail -n 60 "$dir/build.log" >&2
    echo "build: $preset could not be configured (whole output in $dir/build.log)" >&2
    return 1
  fi
  sed -n 's/^-- zandor: /build: /p' "$dir/build.log"
}

build_preset() {
  local dir=
  [[ $1 == -B ]] && { dir=$2; shift 2; }
  local preset=$1
  dir=${dir:-build/$preset}
  shift
  local targets=() t
  for t in "$@"; do targets+=(--target "$t"); done
  configure_preset -B "$dir" "$preset" || return 1
  if ! cmake --build "$dir" -j "$(nproc)" "${targets[@]}" >>"$dir/build.log" 2>&1; then
    tail -n 60 "$dir/build.log" >&2
    echo "build: $preset did not build (whole output in $dir/build.log)" >&2
    return 1
  fi
  echo "build: $preset in $dir${*:+ ($*)}"
}
