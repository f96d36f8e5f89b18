# What a system install needs beyond the programs, models, desktop entry and icon: gzipped manual pages, the
# copyright file and changelog, the AppStream metainfo; and the CPack settings for a Debian package:
#   cmake --preset release -DCMAKE_INSTALL_PREFIX=/usr && cmake --build --preset release
#   (cd build-release && cpack -G DEB)      # or simply: bash scripts/package.sh

# Gzipped manual pages and changelog (-n: no name or time stamp, so that the same source gives the same bytes).
find_program(ORVIX_GZIP gzip REQUIRED)
set(ORVIX_PACKAGING_BUILD ${CMAKE_BINARY_DIR}/packaging)
set(ORVIX_MAN_PAGES orvix-screen.1 orvix-node.1)
if(ORVIX_BUILD_APP)
  list(APPEND ORVIX_MAN_PAGES orvix.1)
endif()
set(ORVIX_GZIPPED)
foreach(source IN ITEMS ${ORVIX_MAN_PAGES} changelog)
  if(source STREQUAL "changelog")
    set(input ${CMAKE_SOURCE_DIR}/packaging/changelog)
  else()
    set(input ${CMAKE_SOURCE_DIR}/docs/man/${source})
  endif()
  set(output ${ORVIX_PACKAGING_BUILD}/${source}.gz)
  add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVIX_PACKAGING_BUILD}
      COMMAND sh -c "\"$0\" -9 -n -c \"$1\" > \"$2\"" ${ORVIX_GZIP} ${input} ${output}
      DEPENDS ${input}
      VERBATIM)
  list(APPEND ORVIX_GZIPPED ${output})
endforeach()
add_custom_target(orvix_packaging_files ALL DEPENDS ${ORVIX_GZIPPED})

foreach(page IN LISTS ORVIX_MAN_PAGES)
  install(FILES ${ORVIX_PACKAGING_BUILD}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${ORVIX_PACKAGING_BUILD}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
# orvix-node's service, installed but not enabled (in /usr/lib/systemd/system for the package), and an example of its
# settings for /etc/orvix/node.conf.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/orvix-node.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/node.conf.example DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(ORVIX_BUILD_APP)
  install(FILES ${CMAKE_SOURCE_DIR}/src/app/io.github.orvix.Orvix.metainfo.xml
      DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The Debian package: build-release/orvix_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvix)
set(CPACK_PACKAGE_VENDOR "The Orvix developers")
set(CPACK_PACKAGE_CONTACT "The Orvix developers <orvix@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/orvix/orvix")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "chest X-ray pneumonia screening on this computer")
set(CPACK_PACKAGE_DESCRIPTION [=[
Orvix screens a chest X-ray picture for pneumonia entirely on the user's own
machine. A gate classifier first decides whether the picture is a chest X-ray
at all; a disease classifier then says NORMAL or not. The orvix window shows
NEGATIVE or POSITIVE with a confidence, a heatmap of the evidence and an
editable report; orvix-screen runs the same analysis over files and folders.
Nothing leaves the machine.

Not for diagnostic use: the classifiers are screening aids trained on small
public data sets and validated on patients of two hospitals only.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(NOT CMAKE_INSTALL_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(STATUS "Packaging: the programs look for models under ${CMAKE_INSTALL_FULL_DATADIR}; "
                 "configure with -DCMAKE_INSTALL_PREFIX=/usr for a package (scripts/package.sh does)")
endif()
include(CPack)
