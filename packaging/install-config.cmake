# Part of the install: the configuration directory and the links to it from the shell's own
# directory. Runs with the prefix of the install itself, so that cpack (prefix /usr, staged
# under DESTDIR) and `cmake --install --prefix DIR` both get paths that hold on the target.

if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(confdir /etc/orsa)
else()
    set(confdir "${CMAKE_INSTALL_PREFIX}/etc/orsa")
endif()
set(appdir "${CMAKE_INSTALL_PREFIX}/${ORSA_APPDIR}")

# An administrator's files are never overwritten by a second install from the build tree;
# the package leaves them to dpkg, which knows them as configuration files.
set(config_files
    "${ORSA_DEMO_DIR}/Main.ini"
    "${ORSA_DEMO_DIR}/MainImg.dll"
    "${ORSA_PACKAGING_SOURCE_DIR}/PelUpdate.ini"
    "${ORSA_PACKAGING_SOURCE_DIR}/account")
foreach(file IN LISTS config_files)
    get_filename_component(name "${file}" NAME)
    if(EXISTS "$ENV{DESTDIR}${confdir}/${name}")
        message(STATUS "Keeping: $ENV{DESTDIR}${confdir}/${name}")
    else()
        file(INSTALL DESTINATION "${confdir}" TYPE FILE FILES "${file}")
    endif()
endforeach()

foreach(name Main.ini MainImg.dll PelUpdate.ini)
    set(link "$ENV{DESTDIR}${appdir}/${name}")
    if(EXISTS "${link}" AND NOT IS_SYMLINK "${link}")
        message(WARNING "Keeping ${link}, a file of its own: the shell reads it, not ${confdir}/${name}")
        continue()
    endif()
    message(STATUS "Installing: ${link} -> ${confdir}/${name}")
    file(MAKE_DIRECTORY "$ENV{DESTDIR}${appdir}")
    file(CREATE_LINK "${confdir}/${name}" "${link}" SYMBOLIC)
endforeach()

# The command of the desktop entry, with this install's paths.
set(ORSA_SHELL "${appdir}/orsa")
set(ORSA_ACCOUNT_FILE "${confdir}/account")
configure_file("${ORSA_PACKAGING_SOURCE_DIR}/orsa.sh.in" "${ORSA_PACKAGING_BINARY_DIR}/bin/orsa" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/bin" TYPE PROGRAM FILES "${ORSA_PACKAGING_BINARY_DIR}/bin/orsa")
