#!/usr/bin/env bash
# Builds the JVM benchmarks (bench/jvm: the harness jar, its JNI library, the bridge and the
# simulated service, Release) in build/jvmbench and runs them: every JNI round trip beside its
# floor, printed as a Markdown table (about 1.5 minutes).
#
#   bench/run-jvm.sh                       everything
#   bench/run-jvm.sh --only=csd,text       some sections (csd, text, callback, log, decode)
#   bench/run-jvm.sh --check               a quick pass under -Xcheck:jni that fails on any JNI
#                                          warning (checks the harness, not the figures)
#
# bench/jvm configures on its own (it pulls the product tree in as a subdirectory, without
# tests or Google Benchmark), so this script needs neither the bench preset nor its build.
# JVMBENCH_BUILD_DIR names another build directory (default build/jvmbench).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${JVMBENCH_BUILD_DIR:-${root}/build/jvmbench}"

check=0
args=()
for arg in "$@"; do
  if [[ "${arg}" == "--check" ]]; then
    check=1
  else
    args+=("${arg}")
  fi
done

cmake -S "${root}/bench/jvm" -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "${build}" --target vx_jvmbench -j 2 >/dev/null

if [[ ${check} -eq 0 ]]; then
  echo "run-jvm: running the JVM benchmarks" >&2
  exec "${build}/run-jvmbench.sh" "${args[@]}"
fi

log="${build}/jvmbench-check.log"
status=0
JVMBENCH_JAVA_OPTS="-Xcheck:jni" "${build}/run-jvmbench.sh" --quick "${args[@]}" >"${log}" 2>&1 ||
  status=$?
if grep -E "WARNING in native method|JNI call made|exceeds capacity|FATAL ERROR" "${log}"; then
  echo "run-jvm: -Xcheck:jni reported the lines above (full output: ${log})" >&2
  exit 1
fi
if [[ ${status} -ne 0 ]]; then
  tail -n 20 "${log}" >&2
  echo "run-jvm: the quick run failed (${status}); full output: ${log}" >&2
  exit "${status}"
fi
echo "run-jvm: quick run under -Xcheck:jni clean (${log})" >&2
