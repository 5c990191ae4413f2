# What `cmake --install` lays out under the prefix, and the Debian package made from it
# (`cpack -G DEB` in the build directory):
#
#   bin/plotmint, bin/plotmint-convert
#   lib/plotmint/plotmint-convert-qt.so
#                                      the converter's PDF and PNG writing with Qt, a private
#                                      module it loads, found from bin/ as ../lib/plotmint,
#                                      only when a picture is to be written as PDF or PNG
#                                      (LIBDIR/plotmint: lib/<multiarch>/plotmint where
#                                      GNUInstallDirs chooses that for the prefix /usr)
#   share/plotmint/                    the default and demo colour tables; a program finds
#                                      them as ../share/plotmint when its own directory
#                                      holds no default table
#   share/applications/plotmint.desktop, share/icons/hicolor/scalable/apps/plotmint.svg
#   share/mime/packages/plotmint.xml   .g graph files, .ktc and .klc tables
#   share/man/man1/                    plotmint.1, plotmint-convert.1
#   share/fontconfig/conf.avail/30-plotmint-century.conf
#                                      fontconfig reads it once linked into /etc/fonts/conf.d;
#                                      the Debian package makes that link
#   share/doc/plotmint/copyright
include(GNUInstallDirs)

set(PLOTMINT_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

install(TARGETS plotmint-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET plotmint-convert-qt)
  # Where src/app/cli's PLOTMINT_QT_MODULE_INSTALL_DIR tells the converter to look.
  install(TARGETS plotmint-convert-qt LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/plotmint)
endif()
if(TARGET plotmint)
  install(TARGETS plotmint RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PLOTMINT_PACKAGING_DIR}/plotmint.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PLOTMINT_PACKAGING_DIR}/plotmint.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

file(GLOB plotmint_tables CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/*.ktc ${PROJECT_SOURCE_DIR}/data/*.klc)
install(FILES ${plotmint_tables} DESTINATION ${CMAKE_INSTALL_DATADIR}/plotmint)

install(FILES ${PLOTMINT_PACKAGING_DIR}/plotmint-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME plotmint.xml)
install(FILES ${PROJECT_SOURCE_DIR}/data/fontconfig/30-plotmint-century.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fontconfig/conf.avail)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

# Man pages: the version filled in, compressed as Debian installs them.
set(PLOTMINT_VERSION ${PROJECT_VERSION})
find_program(PLOTMINT_GZIP gzip)
set(plotmint_man_pages plotmint-convert)
if(TARGET plotmint)
  list(APPEND plotmint_man_pages plotmint)
endif()
set(plotmint_man_outputs)
foreach(page ${plotmint_man_pages})
  set(man ${CMAKE_BINARY_DIR}/man/${page}.1)
  configure_file(${PLOTMINT_PACKAGING_DIR}/man/${page}.1 ${man} @ONLY)
  if(PLOTMINT_GZIP)
    add_custom_command(OUTPUT ${man}.gz
                       COMMAND ${PLOTMINT_GZIP} -9 -n -k -f ${man}
                       DEPENDS ${man}
                       COMMENT "Compressing the man page ${page}.1")
    list(APPEND plotmint_man_outputs ${man}.gz)
  else()
    list(APPEND plotmint_man_outputs ${man})
  endif()
endforeach()
add_custom_target(plotmint_man_pages ALL DEPENDS ${plotmint_man_outputs})
install(FILES ${plotmint_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(CODE [[
  message(STATUS "Plotmint: to let Century and Symbol resolve to C059 and Standard Symbols PS, link "
                 "${CMAKE_INSTALL_PREFIX}/share/fontconfig/conf.avail/30-plotmint-century.conf "
                 "into /etc/fonts/conf.d (the Debian package does this).")
]])

# The Debian package.
set(PLOTMINT_MAINTAINER "Plotmint developers <plotmint@invalid>" CACHE STRING "Maintainer named in the Debian package")
set(CPACK_PACKAGE_NAME plotmint)
set(CPACK_PACKAGE_VENDOR "Plotmint")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PLOTMINT_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "draw plotter-style graph files as EMF, SVG, PDF and PNG pictures")
# The summary above is the first line; CPack indents these lines below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Plotmint turns a graph file - plain-text integer records of lines, filled
polygons, grid lines, text and Hershey stroke text - into an Enhanced Metafile
picture that word processors, LibreOffice and Inkscape take in as a vector
picture. A desktop window previews the picture, edits the tone and line colour
tables and copies the picture to the clipboard; the command-line converter
plotmint-convert does the same without a window and also writes SVG, PDF and
PNG.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# The faces the pictures name resolve to these; the window's captions need a CJK font.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fontconfig, fonts-liberation2, fonts-urw-base35, fonts-noto-cjk")
find_program(PLOTMINT_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PLOTMINT_DPKG_SHLIBDEPS)
  # The shared libraries the programs link (Qt, libUEMF, libpng, the C++ runtime) become dependencies.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6core6, libqt6gui6, libqt6widgets6, libqt6svg6, libuemf0, libpng16-16")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PLOTMINT_PACKAGING_DIR}/debian/postinst ${PLOTMINT_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
