# The program's icon in every size a desktop asks for, rendered from packaging/unveilo.svg at
# build time by tools/make-icons.sh into ${CMAKE_BINARY_DIR}/icons: unveilo-<size>.png for the
# Linux desktop and unveilo.ico for the Windows resources.
set(UNVEILO_ICON_SVG ${CMAKE_SOURCE_DIR}/packaging/unveilo.svg)
set(UNVEILO_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(UNVEILO_ICON_SIZES 16 32 48 256)
set(UNVEILO_ICON_FILE ${UNVEILO_ICON_DIR}/unveilo.ico)
set(icon_outputs ${UNVEILO_ICON_FILE})
foreach(size IN LISTS UNVEILO_ICON_SIZES)
    list(APPEND icon_outputs ${UNVEILO_ICON_DIR}/unveilo-${size}.png)
endforeach()
add_custom_command(
    OUTPUT ${icon_outputs}
    COMMAND ${CMAKE_SOURCE_DIR}/tools/make-icons.sh ${UNVEILO_ICON_SVG} ${UNVEILO_ICON_DIR}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/make-icons.sh ${UNVEILO_ICON_SVG}
    COMMENT "Rendering the program's icons"
    VERBATIM)
add_custom_target(unveilo_icons ALL DEPENDS ${icon_outputs})
