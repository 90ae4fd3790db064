# The Debian package (`cmake --build build --target package`, or scripts/package): CPack's DEB
# generator stages the install rules under /usr with DESTDIR set, so the units name /usr/bin/bramvell
# and cmake/SetCapabilities.cmake leaves the staged file alone; the maintainer scripts in
# packaging/debian create the group bramvell, make the program root:bramvell 0750, give it its file
# capabilities, stop the machine-wide filter and remove leftover rules on removal, and on purge remove
# /var/lib/bramvell and the group.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bramvell)
set(CPACK_PACKAGE_VENDOR Bramvell)
set(CPACK_PACKAGE_CONTACT "Bramvell developers <developers@bramvell.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "anti-spam filter for POP3 mail on the desktop")
# The long description, wrapped for dpkg's display.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Bramvell sits between a mail client and its POP3 server without being\n"
       "configured as a proxy: it holds back the machine's POP3 packets, classifies\n"
       "each message the client retrieves (sender rules, subject passphrases, a\n"
       "word-probability score) and replays good mail unchanged, while spam is\n"
       "deleted on the server and the client is told why.\n"
       ".\n"
       "It comes as a Qt tray application and as a headless filter, with systemd\n"
       "units for the whole machine and for one user. Members of the group\n"
       "bramvell may run it.")
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from dpkg-shlibdeps (Qt 6, libc, libstdc++, and libmnl0: the packet source speaks
# nfnetlink through libmnl alone, so no libnetfilter-queue1); the programs it and its maintainer
# scripts start: iptables and iptables-restore, setcap, groupadd and groupdel.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "iptables, libcap2-bin, passwd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The compressed manual page, the copyright file and the changelog Debian expects.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_BRAMVELL_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebianPackageDocs.cmake)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)
