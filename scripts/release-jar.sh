#!/usr/bin/env bash
# Builds the release jars, which carry the natives of both platforms:
#   build/release/java/veltrix-api.jar   the Java API with libveltrixjni.so (Linux x86-64,
#                                        needing glibc only) and veltrixjni.dll (Windows x64,
#                                        MinGW-w64), under META-INF/native/<os>-<arch>/
#   build/release/sim/veltrix-sim.jar    SimControl, SimLibrary and the simulated service
#                                        library for both platforms
# with their -sources and -javadoc jars beside them, and build/release/maven, a local Maven
# repository holding com.tarnwick:veltrix-api and com.tarnwick:veltrix-sim.
#
#   bash scripts/release-jar.sh          the mingw-release preset built and its whole test
#                                        suite run under Wine (scripts/test-mingw.sh), then
#                                        the release preset built and its whole suite run
#   bash scripts/release-jar.sh --quick  (CI) only the shipped libraries, the jars and the
#                                        checks on them: the DLL's tests under Wine
#                                        (dll_test's FreeLibrary and ExitProcess runs, its
#                                        export and import tables, the service DLL loads),
#                                        exports, glibc only, jar contents, the Maven
#                                        consumer, JarOnlyTest and the README example on
#                                        every JDK
# A failure of the Windows tests does not stop the Linux build and the jar checks; the
# script exits non-zero at the end.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
quick=0
if [[ "${1:-}" == "--quick" ]]; then
  quick=1
elif [[ $# -gt 0 ]]; then
  echo "usage: $0 [--quick]" >&2
  exit 2
fi
jobs=${VX_JOBS:-2}
windows=$root/build/mingw-release
linux=$root/build/release

"$root/scripts/install-deps.sh"
cd "$root"

echo "== release jar: Windows x64 (mingw-release)"
windows_status=0
if ((quick)); then
  # The Release DLL as a DLL under Wine, with only the targets those tests need: dll_test
  # (LoadLibrary, the entry points through the fake JVM, then FreeLibrary or ExitProcess),
  # the export and import tables, and the unit tests that load the service DLL, in each of
  # the three code pages.
  VX_MINGW_PRESET=mingw-release VX_MINGW_BUILD=$windows \
    VX_MINGW_TARGETS="veltrixjni VeltrixAPI_x64 dll_test unit_tests" \
    "$root/scripts/test-mingw.sh" --no-tests=error \
    -R '^(veltrixjni_dll_(free|exit|tables)|((cp936|utf8)[.])?ServiceDll[.].*)$' ||
    windows_status=$?
else
  VX_MINGW_PRESET=mingw-release VX_MINGW_BUILD=$windows "$root/scripts/test-mingw.sh" ||
    windows_status=$?
fi
if ((windows_status != 0)); then
  echo "== release jar: the Windows tests failed (status $windows_status)"
fi

echo "== release jar: Linux x86-64 (release) and the jars"
"$root/scripts/build-linux-deps.sh"
cmake --preset release -B "$linux" -DVX_JAR_WINDOWS_BUILD="$windows" >/dev/null
if ((quick)); then
  cmake --build "$linux" -j "$jobs" --target veltrix_api_maven veltrix_sim_maven \
    veltrix_jaronly_tests
  ctest --test-dir "$linux" --output-on-failure -R \
    '^(veltrixjni_exports|veltrixjni_needs_glibc_only|sim_exports_default|sim_needs_glibc_only|jar_contents_api|jar_contents_sim|maven_consumer|jvm[0-9]*[.](JarOnlyTest[.].*|readme_example))$'
else
  cmake --build "$linux" -j "$jobs"
  ctest --test-dir "$linux" --output-on-failure -j "$jobs"
fi

echo "== release jar: built"
for jar in "$linux/java/veltrix-api.jar" "$linux/sim/veltrix-sim.jar"; do
  echo "$jar"
  jar tf "$jar" | grep '^META-INF/native/.*[^/]$' | sed 's/^/  /'
done
echo "Maven repository: $linux/maven"
exit "$windows_status"
