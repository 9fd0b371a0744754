# The Windows resources of the shipped program (icon, manifest, version information), compiled
# by the toolchain's windres. The texts come from the project's version and the copyright line
# set at the top level.
enable_language(RC)

function(unveilo_windows_resources target)
    # Windows versions have four numbers; the parts the project's version leaves out are 0.
    set(UNVEILO_VERSION_4 ${PROJECT_VERSION_MAJOR})
    foreach(part MINOR PATCH TWEAK)
        if("${PROJECT_VERSION_${part}}" STREQUAL "")
            string(APPEND UNVEILO_VERSION_4 .0)
        else()
            string(APPEND UNVEILO_VERSION_4 .${PROJECT_VERSION_${part}})
        endif()
    endforeach()
    string(REPLACE "." "," UNVEILO_VERSION_COMMAS ${UNVEILO_VERSION_4})
    set(UNVEILO_MANIFEST_FILE ${CMAKE_BINARY_DIR}/resources/unveilo.manifest)
    set(rc_file ${CMAKE_BINARY_DIR}/resources/unveilo.rc)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/unveilo.manifest ${UNVEILO_MANIFEST_FILE}
                   @ONLY)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/unveilo.rc.in ${rc_file} @ONLY)
    # windres reads the icon and the manifest itself; CMake sees only the .rc file.
    set_source_files_properties(${rc_file} PROPERTIES OBJECT_DEPENDS
                                "${UNVEILO_ICON_FILE};${UNVEILO_MANIFEST_FILE}")
    target_sources(${target} PRIVATE ${rc_file})
    add_dependencies(${target} unveilo_icons)
endfunction()
