# The Debian package of the Linux programs, written by CPack's DEB generator (scripts/package.sh
# builds the target unveilo_package, then runs it): the programs and datafile.dat in
# /usr/lib/unveilo, where the tool finds its companions beside itself, and /usr/bin/unveilo a link
# to it; a menu entry, the AppStream metadata software centres read, the icon in the hicolor
# theme, a man page, and the copyright file and changelog Debian asks for.
#
# Dates come from SOURCE_DATE_EPOCH when it is set (scripts/package.sh sets the commit's), so that
# the changelog and the metadata of one commit are the same on every build.

# The programs of the package, side by side in /usr/lib/unveilo. A new program is one more name
# here: it is built with the package, installed and stripped like the others.
set(UNVEILO_PACKAGE_PROGRAMS unveilo unveilo-clean unveilo-cmd)

set(UNVEILO_DEBIAN_REVISION 1)
set(UNVEILO_DEBIAN_VERSION ${PROJECT_VERSION}-${UNVEILO_DEBIAN_REVISION})
set(UNVEILO_LIB_DIR lib/unveilo)
set(UNVEILO_DOC_DIR share/doc/unveilo)
set(debian_dir ${CMAKE_BINARY_DIR}/debian)

# The install rules must not build everything (tests, benchmarks) first: the package needs only
# the program, unveilo-cmd and the files below, which scripts/package.sh builds by name.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

string(TIMESTAMP UNVEILO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP UNVEILO_RELEASE_DATE "%Y-%m-%d" UTC)
string(REGEX REPLACE "^Copyright \\(C\\) " "" UNVEILO_COPYRIGHT_YEARS "${UNVEILO_COPYRIGHT}")
# The man page's NAME line and Debian's summary start in lower case.
string(SUBSTRING "${UNVEILO_SUMMARY}" 0 1 first)
string(SUBSTRING "${UNVEILO_SUMMARY}" 1 -1 rest)
string(TOLOWER "${first}" first)
set(UNVEILO_SUMMARY_LOWER "${first}${rest}")
# Reverse DNS of the project's reserved name unveilo.invalid: it owns no domain.
set(UNVEILO_APPSTREAM_ID invalid.unveilo.unveilo)
set(UNVEILO_METAINFO ${debian_dir}/${UNVEILO_APPSTREAM_ID}.metainfo.xml)
configure_file(${CMAKE_SOURCE_DIR}/packaging/linux/changelog ${debian_dir}/changelog.Debian @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/linux/copyright ${debian_dir}/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/linux/unveilo.1 ${debian_dir}/unveilo.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/linux/unveilo-clean.1 ${debian_dir}/unveilo-clean.1
               @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/linux/unveilo.desktop ${debian_dir}/unveilo.desktop
               @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/linux/unveilo.metainfo.xml ${UNVEILO_METAINFO} @ONLY)

# Debian compresses documentation with gzip -9, without name or date in the header (-n).
set(debian_compressed ${debian_dir}/changelog.Debian.gz ${debian_dir}/unveilo.1.gz
    ${debian_dir}/unveilo-clean.1.gz)
add_custom_command(
    OUTPUT ${debian_compressed}
    COMMAND gzip -9nkf ${debian_dir}/changelog.Debian ${debian_dir}/unveilo.1
            ${debian_dir}/unveilo-clean.1
    DEPENDS ${debian_dir}/changelog.Debian ${debian_dir}/unveilo.1 ${debian_dir}/unveilo-clean.1
    COMMENT "Compressing the changelog and the man page"
    VERBATIM)
add_custom_target(unveilo_debian_files ALL DEPENDS ${debian_compressed})

# Everything the package holds, by one name.
add_custom_target(unveilo_package DEPENDS unveilo_debian_files)
add_dependencies(unveilo_package ${UNVEILO_PACKAGE_PROGRAMS} unveilo_icons)

# Deferred to the end of the top level, so that a program whose folder is added after this file
# is known by then.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL install TARGETS ${UNVEILO_PACKAGE_PROGRAMS}
               RUNTIME DESTINATION ${UNVEILO_LIB_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/datafile.dat DESTINATION ${UNVEILO_LIB_DIR})
# Relative links, so that the tree works wherever it is unpacked: the tool for the menu and the
# terminal, and the clean-up for cleaning a mounted stick from a terminal.
foreach(program unveilo unveilo-clean)
    file(CREATE_LINK ../${UNVEILO_LIB_DIR}/${program} ${debian_dir}/${program}-link SYMBOLIC)
    install(FILES ${debian_dir}/${program}-link DESTINATION bin RENAME ${program})
endforeach()
install(FILES ${debian_dir}/unveilo.desktop DESTINATION share/applications)
install(FILES ${UNVEILO_METAINFO} DESTINATION share/metainfo)
foreach(size IN LISTS UNVEILO_ICON_SIZES)
    install(FILES ${UNVEILO_ICON_DIR}/unveilo-${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME unveilo.png)
endforeach()
install(FILES ${UNVEILO_ICON_SVG} DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${debian_dir}/unveilo.1.gz ${debian_dir}/unveilo-clean.1.gz DESTINATION share/man/man1)
install(FILES ${debian_dir}/copyright ${debian_dir}/changelog.Debian.gz
        DESTINATION ${UNVEILO_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME unveilo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${UNVEILO_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Unveilo project <unveilo@unveilo.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${UNVEILO_SUMMARY_LOWER}")
# The summary is the control file's first description line; this text follows it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Unveilo opens a small text-console window, asks for the drive letter of a
USB stick, clears the hidden, system and read-only attributes of everything
on it, moves what a shortcut virus leaves in its root (autorun.inf, virus
shortcuts and scripts) into a quarantine folder on the stick, and opens the
stick in the file manager. It deletes nothing and changes no file's contents.")
# The libraries the binaries link, found by dpkg-shlibdeps; and what they start or load by name:
# xdg-open for the explorer step, xmessage (x11-utils) for the error dialogs, libX11 for the
# keyboard state and the display check.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, x11-utils, libx11-6")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
