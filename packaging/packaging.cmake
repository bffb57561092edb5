# Installation beyond the programs themselves (their install rules sit next to their targets:
# paramporter, paramporter-cli and its desktop entry in src/app, qx7400-sim in sim), and the
# Debian package: `cpack -G DEB` in the build folder.
include(GNUInstallDirs)

set(PP_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

# The scalable icon next to the 128 px one, under the name the desktop entry asks for.
install(FILES ${PP_PACKAGING_DIR}/paramporter.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The parameter files' MIME type (*.QX), which the desktop entry declares; Debian's
# shared-mime-info triggers rebuild the database from share/mime/packages.
install(FILES ${PP_PACKAGING_DIR}/paramporter-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME paramporter.xml)

# Manual pages go compressed, as man and Debian expect; -n keeps the archive reproducible.
find_program(PP_GZIP gzip)
if(PP_GZIP)
    set(pp_man_page ${CMAKE_CURRENT_BINARY_DIR}/paramporter-cli.1.gz)
    add_custom_command(
        OUTPUT ${pp_man_page}
        COMMAND ${PP_GZIP} -9 -n -c ${PP_PACKAGING_DIR}/paramporter-cli.1 > ${pp_man_page}
        DEPENDS ${PP_PACKAGING_DIR}/paramporter-cli.1
        COMMENT "Compressing the manual page of paramporter-cli"
        VERBATIM)
    add_custom_target(pp-man-page ALL DEPENDS ${pp_man_page})
else()
    set(pp_man_page ${PP_PACKAGING_DIR}/paramporter-cli.1)
endif()
install(FILES ${pp_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# What an administrator runs once to set up the plant's history server (README "Plant-wide
# history").
install(FILES ${PP_PACKAGING_DIR}/history-server.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/paramporter)

# The nightly round (README "Rounds"): the units, the account they run as, and the settings
# they read as an example beside /etc/paramporter/round.conf. The service calls the command
# line where it is installed: its unit is made at install time, from the prefix of that install
# (`cmake --install --prefix DIR`, /usr/local by default, /usr in the Debian package).
set(pp_round_unit_in ${PP_PACKAGING_DIR}/round/paramporter-round.service.in)
set(pp_round_unit ${CMAKE_CURRENT_BINARY_DIR}/round/paramporter-round.service)
install(CODE "
    set(PP_INSTALLED_BINDIR \"\${CMAKE_INSTALL_PREFIX}/bin\")
    configure_file(\"${pp_round_unit_in}\" \"${pp_round_unit}\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\" TYPE FILE
         FILES \"${pp_round_unit}\" \"${PP_PACKAGING_DIR}/round/paramporter-round.timer\")
")
install(FILES ${PP_PACKAGING_DIR}/round/paramporter.sysusers
        DESTINATION lib/sysusers.d RENAME paramporter.conf)
install(FILES ${PP_PACKAGING_DIR}/round/round.conf.example DESTINATION /etc/paramporter)

# ---------------------------------------------------------------- Debian package
set(CPACK_PACKAGE_NAME paramporter)
set(CPACK_PACKAGE_VENDOR "ParamPorter")
set(CPACK_PACKAGE_CONTACT "ParamPorter maintainers <maintainers@paramporter.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Parameter editor for the QX7400 leak tester")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "ParamPorter uploads the system parameters and the test parameters of a part number "
       "from a QX7400 leak tester over RS-232, edits them, downloads them again, keeps them "
       "in parameter files and prints a parameter report. paramporter-cli does the same "
       "transfers from a shell, and qx7400-sim simulates an instrument on a pseudo-terminal.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt libraries and the rest, as dpkg-shlibdeps (dpkg-dev) finds them in the binaries.
find_program(PP_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PP_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    string(CONCAT CPACK_DEBIAN_PACKAGE_DEPENDS
           "libqt6widgets6 (>= 6.2), libqt6serialport6 (>= 6.2), libqt6printsupport6 (>= 6.2), "
           "libsqlite3-0 (>= 3.35), libssl3, libpq5")
endif()
# The round's account made on installation (postinst); the example settings are the
# administrator's to edit, kept on upgrades.
set(pp_conffiles ${CMAKE_CURRENT_BINARY_DIR}/deb/conffiles)
file(WRITE ${pp_conffiles} "/etc/paramporter/round.conf.example\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PP_PACKAGING_DIR}/round/postinst ${pp_conffiles})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The report's fixed-pitch face.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
include(CPack)
