# unveilo::glut: freeglut, OpenGL and GLU for whatever links the window library, on every build.
#
# Linux uses the system's freeglut. Windows has no system freeglut, and mingw-w64 ships none, so
# the Windows builds link a static freeglut that tools/build-freeglut-mingw.sh builds from
# Debian's source package at configure time, once per architecture, into build/freeglut-<arch>
# (shared by every build folder of that architecture; delete it to rebuild).
if(WIN32)
    set(UNVEILO_FREEGLUT_DIR ${CMAKE_SOURCE_DIR}/build/freeglut-${CMAKE_SYSTEM_PROCESSOR}
        CACHE PATH "Static mingw freeglut: where tools/build-freeglut-mingw.sh installs it")
    set(freeglut_library ${UNVEILO_FREEGLUT_DIR}/lib/libfreeglut_static.a)
    if(NOT EXISTS ${freeglut_library} OR NOT EXISTS ${UNVEILO_FREEGLUT_DIR}/include/GL/freeglut.h)
        execute_process(
            COMMAND ${CMAKE_SOURCE_DIR}/tools/build-freeglut-mingw.sh ${CMAKE_SYSTEM_PROCESSOR}
                    ${UNVEILO_FREEGLUT_DIR}
            RESULT_VARIABLE freeglut_status)
        if(NOT freeglut_status EQUAL 0 OR NOT EXISTS ${freeglut_library})
            message(FATAL_ERROR "Building the static freeglut for ${CMAKE_SYSTEM_PROCESSOR} "
                                "failed (tools/build-freeglut-mingw.sh: ${freeglut_status})")
        endif()
    endif()

    add_library(unveilo::glut STATIC IMPORTED)
    set_target_properties(unveilo::glut PROPERTIES IMPORTED_LOCATION ${freeglut_library})
    # Without FREEGLUT_STATIC the headers declare every entry as a DLL import.
    target_compile_definitions(unveilo::glut INTERFACE FREEGLUT_STATIC)
    target_include_directories(unveilo::glut INTERFACE ${UNVEILO_FREEGLUT_DIR}/include)
    target_link_libraries(unveilo::glut INTERFACE opengl32 glu32 gdi32 winmm user32 kernel32)
else()
    set(OpenGL_GL_PREFERENCE GLVND)
    find_package(OpenGL REQUIRED)
    find_package(GLUT REQUIRED)
    if(NOT TARGET OpenGL::GLU)
        message(FATAL_ERROR "GLU is missing: install libglu1-mesa-dev (scripts/deps.sh does)")
    endif()
    add_library(unveilo::glut INTERFACE IMPORTED)
    target_link_libraries(unveilo::glut INTERFACE GLUT::GLUT OpenGL::GL OpenGL::GLU)
endif()
