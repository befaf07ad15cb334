# shellcheck shell=sh
# The scripts' common opening, sourced first by each (". "$(dirname "$0")/common.sh""): stop at
# the first failure or unset variable, work from the checkout's root (moxel_root), and build and
# test on every core unless the caller's environment says otherwise.
set -eu
cd "$(dirname "$0")/.."
moxel_root=$PWD
: "${CMAKE_BUILD_PARALLEL_LEVEL:=$(nproc)}"
: "${CTEST_PARALLEL_LEVEL:=$(nproc)}"
export CMAKE_BUILD_PARALLEL_LEVEL CTEST_PARALLEL_LEVEL
