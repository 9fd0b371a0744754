#!/usr/bin/env bash
# Installs what the tests need, builds every configuration and runs the whole suite:
# formatting, the Linux unit tests, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer with shrunken engine limits, a short fuzzing run, and the Windows
# unit tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${TEST_PACKAGES[@]}"

jobs=$(nproc)
# Each step says how long the one before took, so a slow step shows in any CI log.
step_started=$SECONDS
step() {
    printf '   (%d s)\n\n== %s\n' $((SECONDS - step_started)) "$*"
    step_started=$SECONDS
}

step "formatting"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

step "include graph of the run-time's families and the programs: no cycle, nothing against the layers"
python3 tools/include_graph.py

step "linux: build and unit tests"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"
ctest --preset linux -j "$jobs"

step "the clean-up on the stick corpus: the batch through unveilo-cmd starts unveilo-clean (plain, full, write-protected); dry run, clean-up and undo"
python3 tests/stick/stick_corpus.py --cmd build/linux/unveilo-cmd --clean build/linux --round-trip \
    --full --write-protected

step "linux-asan: AddressSanitizer, UndefinedBehaviorSanitizer, stress limits"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan -j "$jobs" --target unveilo_tests unveilo_cmd_tests unveilo-cmd
ctest --preset linux-asan -j "$jobs" -E "^e2e_"

step "linux-tsan: ThreadSanitizer"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan -j "$jobs" --target unveilo_tests unveilo_cmd_tests unveilo-cmd
ctest --preset linux-tsan -j "$jobs" -E "^e2e_"

step "linux-fuzz: short libFuzzer run"
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz -j "$jobs" --target fuzz_targets
ctest --preset linux-fuzz -R _smoke

# The unit tests answer their own message boxes. Without a window manager Wine waits up to 2 s for
# each dismissed box to be withdrawn, which cost over a minute per run; the unit tests need no
# managed windows (the end-to-end tests, which drive the program as a user does, keep them).
wine_unit_tests() { WINE_RUN_UNMANAGED=1 UNVEILO_TEST_DIALOG_ANSWER=ok tools/wine-run.sh "$@"; }

step "windows-x64: unit tests and the demo's end-to-end test under Wine"
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 -j "$jobs" --target unveilo_tests unveilo_demo unveilo \
    unveilo_print_end
# The i686 build needs no Wine: it compiles on one core while the tests below wait on Wine and
# on windows, and the next step only waits for it.
cmake --preset windows-x86 >/dev/null
x86_build_log=$(mktemp)
cmake --build --preset windows-x86 -j 1 --target unveilo unveilo_tests >"$x86_build_log" 2>&1 &
x86_build=$!
wine_unit_tests build/windows-x64/tests/unveilo_tests.exe
# The texts of 400 000 random numbers, folded into one digest per precision: the C libraries of
# the two systems format numbers differently, and the run-time's own texts must not.
number_digests() { "$@" --gtest_filter='str_format_*.random_*' | tr -d '\r' | grep 'texts digest'; }
linux_digests=$(number_digests build/linux/tests/unveilo_tests)
windows_digests=$(number_digests wine_unit_tests build/windows-x64/tests/unveilo_tests.exe)
echo "$linux_digests"
[ "$linux_digests" = "$windows_digests" ] ||
    { echo "number texts differ between Linux and Windows: $windows_digests" >&2; exit 1; }
tools/e2e/demo_e2e.sh build/windows-x64/tools/unveilo_demo.exe build/linux/tools
tools/e2e/window_e2e.sh build/windows-x64/tools/unveilo_print_end.exe build/linux/tools
tools/e2e/recovery_e2e.sh build/windows-x64/unveilo.exe build/linux/tools

step "windows-x86: the shipped program, and the unit tests under 32-bit Wine"
wait "$x86_build" || { cat "$x86_build_log" >&2; exit 1; }
tail -n 3 "$x86_build_log"
# The stick corpus under Wine's cmd on a prefix drive, through the shipped unveilo-clean.exe where
# 32-bit programs run, else through the x86-64 build of the same code.
if ensure_i386_wine; then
    wine_unit_tests build/windows-x86/tests/unveilo_tests.exe
    tools/e2e/recovery_e2e.sh build/windows-x86/unveilo.exe build/linux/tools
    python3 tests/stick/stick_corpus.py --wine --clean build/windows-x86 --round-trip --full \
        --write-protected
else
    python3 tests/stick/stick_corpus.py --wine --clean build/windows-x64 --round-trip --full \
        --write-protected
fi

step "windows resources of both builds; a start from a folder named outside the ANSI code page"
cmake --build --preset windows-x64 -j "$jobs" --target unveilo unveilo_tests
tools/windows_resources_check.sh build/windows-x64/unveilo.exe build/windows-x64
tools/windows_resources_check.sh build/windows-x86/unveilo.exe build/windows-x86
# The program, whose manifest asks for UTF-8 ANSI calls; and the unit test of the change to the
# executable's directory in a program without that manifest, where only the wide calls help.
tools/e2e/non_ansi_folder_e2e.sh build/windows-x64/unveilo.exe build/linux/tools
non_ansi=$(mktemp -d)/Загрузки
mkdir -p "$non_ansi"
cp build/windows-x64/tests/unveilo_tests.exe "$non_ansi/"
wine_unit_tests "$non_ansi/unveilo_tests.exe" \
    --gtest_filter='platform_enter_executable_directory.*:platform_directory_length.*'
rm -rf "$(dirname "$non_ansi")"

step "release: the Windows zip and the Debian package"
scripts/package.sh
(cd dist && sha256sum -c SHA256SUMS)

step "debian package: installed, the recovery test against /usr/bin/unveilo, removed"
# In a subshell of its own, whose exit trap removes the package again whatever happened.
(
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    deb=$(find dist -maxdepth 1 -name 'unveilo_*.deb' | head -n 1)
    trap '$sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq unveilo >/dev/null' EXIT
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "./$deb" >/dev/null
    [ "$(readlink -f /usr/bin/unveilo)" = /usr/lib/unveilo/unveilo ]
    tools/e2e/recovery_e2e.sh /usr/bin/unveilo build/linux/tools
    tools/e2e/no_display_e2e.sh /usr/bin/unveilo
)

step "all suites passed"
