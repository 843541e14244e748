#!/usr/bin/env bash
# ThreadSanitizer run of the job, network and service tests (the GUI-free ones):
# configures build-tsan without the GUI, builds those tests and runs them.
#   scripts/tsan.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${SKARVEL_TSAN_BUILD:-build-tsan}
TESTS=(test_background_job test_job_registry test_export_jobs test_table_downloads test_ordered_harvests
  test_net_text test_net_http test_service_analysis test_service_fetch test_service_http test_service_capacity)

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSKARVEL_TSAN=ON -DSKARVEL_BUILD_GUI=OFF \
  -DSKARVEL_BUILD_BENCH=OFF -DSKARVEL_WERROR=ON -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake --build "$BUILD" -j2 --target "${TESTS[@]}"
# ctest's own environment for each test is kept; TSAN_OPTIONS comes from here.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 history_size=4 suppressions=$PWD/scripts/tsan.supp ${TSAN_OPTIONS:-}"
cd "$BUILD"
ctest --output-on-failure -R "^($(IFS='|'; echo "${TESTS[*]}"))\$" "$@"
