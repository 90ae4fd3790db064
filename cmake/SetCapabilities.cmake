# Run by `cmake --install`: gives the installed executable the two network capabilities the packet
# source needs, so that a desktop user runs Bramvell without root. Needs root (or CAP_SETFCAP) at
# install time; otherwise it says how to do it by hand.
set(program "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${BRAMVELL_INSTALL_BINDIR}/bramvell")
set(capabilities "cap_net_admin,cap_net_raw+ep")
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
