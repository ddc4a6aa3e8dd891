#!/usr/bin/env bash
# Builds the JVM benchmarks (bench/jvm: the harness jar, its JNI library, the bridge and the
# simulated service, Release) in build/jvmbench and runs them: every JNI round trip beside its
# floor, printed as a Markdown table (about 1.5 minutes), then, in a second JVM with
# -Dveltrix.callbackThreads=attached, the deliveries on service threads attached once.
#
#   bench/run-jvm.sh                       everything
#   bench/run-jvm.sh --only=csd,text       some sections (csd, text, callback, log, decode, threads)
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
# The section "threads" runs in a JVM of its own with -Dveltrix.callbackThreads=attached
# (the bridge reads the property once per JVM); every other section in the default JVM.
default_run=1
threads_run=1
for arg in "$@"; do
  if [[ "${arg}" == "--check" ]]; then
    check=1
  elif [[ "${arg}" == --only=* ]]; then
    sections=",${arg#--only=},"
    [[ "${sections}" == *,threads,* ]] || threads_run=0
    rest="${sections//,threads,/,}"
    [[ "${rest}" =~ [a-z] ]] || default_run=0
    args+=("--only=$(echo "${rest}" | sed 's/^,*//; s/,*$//')")
  else
    args+=("${arg}")
  fi
done

cmake -S "${root}/bench/jvm" -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVX_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "${build}" --target vx_jvmbench -j 2 >/dev/null

figures="${build}/per-message-figures.txt"
rm -f "${figures}"
# The user's arguments without --only (each run names its own sections).
plain=()
for arg in "${args[@]+"${args[@]}"}"; do
  [[ "${arg}" == --only=* ]] || plain+=("${arg}")
done

run_both() {  # run_both <extra harness argument>...
  local status=0
  if [[ ${default_run} -eq 1 ]]; then
    "${build}/run-jvmbench.sh" "${args[@]+"${args[@]}"}" "$@" --save-figures="${figures}" ||
      status=$?
  fi
  if [[ ${threads_run} -eq 1 ]]; then
    JVMBENCH_JAVA_OPTS="${JVMBENCH_JAVA_OPTS:-} -Dveltrix.callbackThreads=attached" \
      "${build}/run-jvmbench.sh" "${plain[@]+"${plain[@]}"}" "$@" --only=threads \
      --per-message-figures="${figures}" || status=$?
  fi
  return ${status}
}

if [[ ${check} -eq 0 ]]; then
  echo "run-jvm: running the JVM benchmarks" >&2
  run_both
  exit $?
fi

log="${build}/jvmbench-check.log"
status=0
JVMBENCH_JAVA_OPTS="-Xcheck:jni" run_both --quick >"${log}" 2>&1 || status=$?
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
