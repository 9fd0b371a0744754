# Sourced by run.sh and test.sh: installs the Debian packages that are missing, quietly, and does
# nothing at all when everything is already there.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# Some virtual machines run 64-bit user code only: there the execve of an i386 program fails
# with ENOEXEC, and no 32-bit Wine can start. A static i386 program that only exits tells.
kernel_runs_i386() {
    local dir status
    dir=$(mktemp -d)
    printf '%s\n' 'void _start(void) { __asm__ volatile("int $0x80" : : "a"(1), "b"(0)); }' \
        >"$dir/probe.c"
    gcc -m32 -nostdlib -static -o "$dir/probe" "$dir/probe.c" >/dev/null 2>&1 &&
        "$dir/probe" 2>/dev/null
    status=$?
    rm -rf "$dir"
    return "$status"
}

# Wine runs 32-bit Windows programs only with its 32-bit half, which comes from Debian's i386
# architecture; the window of a 32-bit program also needs the 32-bit Mesa and X extensions.
# Returns 1, installing nothing, where the kernel cannot run 32-bit programs.
ensure_i386_wine() {
    if ! kernel_runs_i386; then
        echo "32-bit Wine unavailable: this machine's kernel runs no 32-bit (i386) programs"
        return 1
    fi
    if dpkg --print-foreign-architectures | grep -qx i386 &&
        dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
        return 0
    fi
    echo "Installing: wine32:i386"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo dpkg --add-architecture i386
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 libxi6:i386 libxrandr2:i386 \
        libxrender1:i386 libxcursor1:i386 libxxf86vm1:i386 >/dev/null
}

# What building and running the Linux program needs.
# The glyph tables are generated at build time from console-data's and console-setup-linux's
# PSF fonts by a Python script; the icons from the SVG by rsvg-convert and icotool.
# The linux preset takes Debian's hardening flags from dpkg-buildflags (dpkg-dev).
RUN_PACKAGES=(g++ cmake ninja-build pkg-config python3 freeglut3-dev libgl-dev libglu1-mesa-dev
              libx11-dev x11-utils console-data console-setup-linux librsvg2-bin icoutils
              dpkg-dev)

# What the whole test suite needs on top: test and benchmark libraries, sanitizer and fuzzer
# run-times, the Windows cross-compilers, Wine, a virtual X server, the tools that make and read
# FAT images for the vfat attribute test, valgrind for the benchmarks' instruction counts,
# lnkinfo (liblnk-utils), which reads the stick corpus's shortcuts back and which the shortcut
# reader is compared with; and what the releases need (see below), since the test run builds and
# installs them.
TEST_PACKAGES=("${RUN_PACKAGES[@]}" googletest libgtest-dev libbenchmark-dev clang
               libclang-rt-14-dev clang-format g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine
               wine64 xvfb xauth xdotool x11-apps imagemagick attr dosfstools mtools valgrind
               lintian zip devscripts appstream liblnk-utils)

# What the releases need: the 32-bit cross-compiler, its binutils (objcopy splits off the debug
# information) and zip for the Windows zip; the Linux build, dpkg-shlibdeps (dpkg-dev), lintian,
# hardening-check (devscripts) and appstreamcli (appstream) for the Debian package.
PACKAGE_PACKAGES=("${RUN_PACKAGES[@]}" g++-mingw-w64-i686 binutils-mingw-w64-i686 zip lintian
                  devscripts appstream)
