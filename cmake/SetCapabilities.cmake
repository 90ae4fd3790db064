# Run by `cmake --install`: gives the installed executable the two network capabilities the packet
# source needs, so that a desktop user runs Bramvell without root. Needs root (or CAP_SETFCAP) at
# install time; otherwise it says how to do it by hand.
# Not into a DESTDIR (a staging folder, e.g. CPack's for the .deb): capabilities on a staged file
# are not carried by the package; the package's postinst gives them to the installed file.
set(capabilities "cap_net_admin,cap_net_raw+ep")
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  message(STATUS "Capabilities: not set in the staging folder DESTDIR=$ENV{DESTDIR}; once installed, as root "
                 "run: setcap ${capabilities} ${CMAKE_INSTALL_PREFIX}/${BRAMVELL_INSTALL_BINDIR}/bramvell")
  return()
endif()
set(program "${CMAKE_INSTALL_PREFIX}/${BRAMVELL_INSTALL_BINDIR}/bramvell")
find_program(BRAMVELL_SETCAP setcap PATHS /usr/sbin /sbin NO_CACHE)
if(NOT BRAMVELL_SETCAP)
  message(WARNING "setcap not found (package libcap2-bin); as root run: setcap ${capabilities} ${program}")
  return()
endif()
execute_process(COMMAND "${BRAMVELL_SETCAP}" "${capabilities}" "${program}" RESULT_VARIABLE status
                ERROR_VARIABLE problem)
if(status EQUAL 0)
  message(STATUS "Capabilities: ${capabilities} on ${program}")
else()
  string(STRIP "${problem}" problem)
  message(WARNING "Could not give ${program} its capabilities (${problem}); as root run: "
                  "setcap ${capabilities} ${program}")
endif()
