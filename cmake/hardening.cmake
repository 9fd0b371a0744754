# UNVEILO_HARDEN: the build flags Debian gives every package (dpkg-buildflags, with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all), for every target of the build: the stack protector,
# _FORTIFY_SOURCE, format-string checks, full RELRO with immediate binding (-z relro -z now),
# position-independent executables and stack clash protection. The linux preset, whose programs go into the Debian package,
# turns it on; the sanitizer and fuzz presets keep their own flags, and the Windows builds have no
# such flags.
#
# The build type still chooses optimisation and debug information, and the top level maps the
# source folder to "." itself, so those flags of dpkg-buildflags are left out.
option(UNVEILO_HARDEN "Build with Debian's hardening flags (dpkg-buildflags, hardening=+all)" OFF)
if(NOT UNVEILO_HARDEN)
    return()
endif()
if(UNVEILO_SANITIZE OR UNVEILO_FUZZ)
    message(FATAL_ERROR "UNVEILO_HARDEN is for the packaged build; the sanitizer and fuzz builds "
                        "keep their own flags (_FORTIFY_SOURCE and the sanitizers do not mix)")
endif()
find_program(UNVEILO_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT UNVEILO_DPKG_BUILDFLAGS)
    message(FATAL_ERROR "UNVEILO_HARDEN needs dpkg-buildflags: install dpkg-dev "
                        "(scripts/deps.sh does)")
endif()

function(unveilo_buildflags kind out)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${UNVEILO_DPKG_BUILDFLAGS} --get ${kind}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(g.*|O.*|f(file|debug|macro)-prefix-map=.*)$")
    set(${out} ${flags} PARENT_SCOPE)
endfunction()

unveilo_buildflags(CPPFLAGS cpp_flags)
unveilo_buildflags(CFLAGS c_flags)
unveilo_buildflags(CXXFLAGS cxx_flags)
unveilo_buildflags(LDFLAGS ld_flags)

# hardening=+all of dpkg 1.22 (Debian 13) also turns on stack clash protection ("stackclash"),
# which Debian 12's dpkg 1.21 does not know yet: added here when this dpkg-buildflags lacks it.
# Its control-flow protection ("branch", -fcf-protection) is left out: Debian 12's C start files
# (Scrt1.o, crti.o, crtn.o) carry no IBT/SHSTK property, so no program linked here can be marked
# as protected whatever its own code is compiled with.
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${UNVEILO_DPKG_BUILDFLAGS} --query-features hardening
    OUTPUT_VARIABLE features COMMAND_ERROR_IS_FATAL ANY)
if(NOT features MATCHES "Feature: stackclash\n")
    include(CheckCXXCompilerFlag)
    check_cxx_compiler_flag(-fstack-clash-protection UNVEILO_HAS_STACK_CLASH_PROTECTION)
    if(UNVEILO_HAS_STACK_CLASH_PROTECTION)
        list(APPEND c_flags -fstack-clash-protection)
        list(APPEND cxx_flags -fstack-clash-protection)
    endif()
endif()

add_compile_options(${cpp_flags})
# One generator expression per flag: a list inside one would be split at its semicolons.
foreach(flag IN LISTS c_flags)
    add_compile_options("$<$<COMPILE_LANGUAGE:C>:${flag}>")
endforeach()
foreach(flag IN LISTS cxx_flags)
    add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${flag}>")
endforeach()
add_link_options(${ld_flags})
# Debian's compilers build position-independent executables by default; saying so keeps it true
# with a compiler that does not.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
list(JOIN cpp_flags " " shown)
foreach(part IN LISTS cxx_flags ld_flags)
    string(APPEND shown " ${part}")
endforeach()
message(STATUS "Hardening flags: ${shown}")
