# Warning flags and Qt's strict defines, the same for every target of the project.
function(orsa_strict target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(ORSA_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    target_compile_definitions(${target} PRIVATE
        QT_NO_CAST_FROM_ASCII QT_NO_KEYWORDS QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
        QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING QT_USE_QSTRINGBUILDER)
endfunction()

# The sources of a subsystem folder: every .cpp and .h in it, with the platform files of the
# other platform left out (name_x11.cpp / name_unix.cpp on Linux, name_win.cpp on Windows).
function(orsa_folder_sources out)
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(WIN32)
        list(FILTER sources EXCLUDE REGEX "_(x11|unix)\\.cpp$")
    else()
        list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
    endif()
    set(${out} ${sources} PARENT_SCOPE)
endfunction()

# One static library per subsystem folder, named orsa_<folder>.
function(orsa_library name)
    cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
    orsa_folder_sources(sources)
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    if(NOT sources)
        # A folder that holds only headers so far.
        add_library(orsa_${name} INTERFACE)
        target_include_directories(orsa_${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/..)
        target_link_libraries(orsa_${name} INTERFACE ${ARG_PUBLIC} ${ARG_PRIVATE})
        return()
    endif()
    orsa_folder_sources(sources)
    add_library(orsa_${name} STATIC ${sources})
    target_include_directories(orsa_${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/..)
    target_link_libraries(orsa_${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
    orsa_strict(orsa_${name})
endfunction()
