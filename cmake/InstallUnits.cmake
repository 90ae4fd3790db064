# Run at install time: writes the systemd units with the executable's installed path (known only now:
# `cmake --install --prefix DIR` and the package's /usr differ from the configured prefix) and installs
# them, the system unit to lib/systemd/system and the user unit to lib/systemd/user under the prefix.
# Set before: BRAMVELL_UNIT_SOURCE_DIR, BRAMVELL_UNIT_BUILD_DIR, BRAMVELL_INSTALL_BINDIR.
set(BRAMVELL_PROGRAM "${CMAKE_INSTALL_PREFIX}/${BRAMVELL_INSTALL_BINDIR}/bramvell")
if(IS_ABSOLUTE "${BRAMVELL_INSTALL_BINDIR}")
  set(BRAMVELL_PROGRAM "${BRAMVELL_INSTALL_BINDIR}/bramvell")
endif()
configure_file("${BRAMVELL_UNIT_SOURCE_DIR}/bramvell.service.in" "${BRAMVELL_UNIT_BUILD_DIR}/system/bramvell.service"
               @ONLY)
configure_file("${BRAMVELL_UNIT_SOURCE_DIR}/bramvell-user.service.in"
               "${BRAMVELL_UNIT_BUILD_DIR}/user/bramvell.service" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
     FILES "${BRAMVELL_UNIT_BUILD_DIR}/system/bramvell.service")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user" TYPE FILE
     FILES "${BRAMVELL_UNIT_BUILD_DIR}/user/bramvell.service")
