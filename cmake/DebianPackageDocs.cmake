# Run by CPack after staging the install rules, before it makes the .deb (CPACK_PRE_BUILD_SCRIPTS):
# what Debian expects of a package beyond the program's own install rules - the manual page
# compressed with gzip -9n, /usr/share/doc/bramvell/copyright and a changelog.gz for this version.
file(GLOB_RECURSE staged_pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man1/bramvell.1")
if(NOT staged_pages)
  message(FATAL_ERROR "no staged manual page under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
find_program(gzip gzip REQUIRED)
foreach(page IN LISTS staged_pages)
  execute_process(COMMAND "${gzip}" -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${page} failed")
  endif()
  file(CHMOD "${page}.gz" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  # usr/share/man/man1/bramvell.1 -> usr/share/doc/bramvell
  get_filename_component(share "${page}" DIRECTORY)
  get_filename_component(share "${share}/../.." ABSOLUTE)
endforeach()
set(doc "${share}/doc/bramvell")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_BRAMVELL_PACKAGING_DIR}/debian/copyright" "${doc}/copyright")
string(TIMESTAMP when "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
     "bramvell (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
     "  * Built from the Bramvell source tree with CPack.\n\n"
     " -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${when}\n")
execute_process(COMMAND "${gzip}" -9nf "${doc}/changelog" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${doc}/changelog failed")
endif()
foreach(file "${doc}/copyright" "${doc}/changelog.gz")
  file(CHMOD "${file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
