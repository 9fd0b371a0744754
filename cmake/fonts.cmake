# The built-in glyph tables are generated from Debian's console fonts at build time, so that no
# bitmap is typed in or committed. The generator runs on the build host, also when
# cross-compiling. Meant to be included after add_library(unveilo_runtime ...); included earlier
# (for instance through CMAKE_PROJECT_INCLUDE) it attaches the source once the directory is done.
find_package(Python3 3.6 REQUIRED COMPONENTS Interpreter)

set(UNVEILO_FONT_8X16 /usr/share/consolefonts/default8x16.psf.gz
    CACHE FILEPATH "PSF1 8x16 console font with a Unicode table (Debian package console-data)")
set(UNVEILO_FONT_8X8 /usr/share/consolefonts/Uni2-VGA8.psf.gz
    CACHE FILEPATH "PSF1 8x8 console font with a Unicode table (Debian package console-setup-linux)")

foreach(font IN ITEMS UNVEILO_FONT_8X16 UNVEILO_FONT_8X8)
    if(NOT EXISTS ${${font}})
        message(FATAL_ERROR "${font}: ${${font}} is missing; install console-data and "
                            "console-setup-linux (scripts/deps.sh does)")
    endif()
endforeach()

set(UNVEILO_FONT_SOURCE ${CMAKE_BINARY_DIR}/generated/runtime/display/font_data.cpp)
set(UNVEILO_FONTGEN ${CMAKE_CURRENT_LIST_DIR}/../tools/fontgen/fontgen.py)
add_custom_command(
    OUTPUT ${UNVEILO_FONT_SOURCE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated/runtime/display
    COMMAND Python3::Interpreter ${UNVEILO_FONTGEN} --font8x16 ${UNVEILO_FONT_8X16}
            --font8x8 ${UNVEILO_FONT_8X8} --output ${UNVEILO_FONT_SOURCE}
    DEPENDS ${UNVEILO_FONTGEN} ${UNVEILO_FONT_8X16} ${UNVEILO_FONT_8X8}
    COMMENT "Generating the code-page-437 glyph tables"
    VERBATIM)

function(unveilo_attach_fonts)
    target_sources(unveilo_runtime PRIVATE ${UNVEILO_FONT_SOURCE})
endfunction()
if(TARGET unveilo_runtime)
    unveilo_attach_fonts()
else()
    cmake_language(DEFER CALL unveilo_attach_fonts)
endif()
