# Install rules and the Debian package: `cmake --build build --target package` (or
# scripts/package) makes build/vesk_<version>_<arch>.deb.
#
# The icon's PNG sizes, the man pages and the Debian changelog are made in the build tree
# from packaging/; nothing generated is kept in the sources.

include(GNUInstallDirs)

set(VESK_APP_ID com.quorvex.Vesk)
set(VESK_PACKAGING_DIR ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(VESK_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(VESK_ICON_SIZES 16 24 32 48 64 128 256)

find_program(VESK_RSVG_CONVERT rsvg-convert)
find_program(VESK_GZIP gzip)

set(generated "")

# Icons: every size from the one drawing.
if(VESK_RSVG_CONVERT)
  foreach(size IN LISTS VESK_ICON_SIZES)
    set(png ${VESK_GENERATED_DIR}/icons/${size}x${size}/${VESK_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${VESK_GENERATED_DIR}/icons/${size}x${size}
      COMMAND ${VESK_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${VESK_PACKAGING_DIR}/vesk.svg
      DEPENDS ${VESK_PACKAGING_DIR}/vesk.svg
      COMMENT "Icon ${size}x${size}"
      VERBATIM)
    list(APPEND generated ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(WARNING "rsvg-convert not found (Debian package librsvg2-bin): the package gets no PNG icons")
endif()

# Man pages and the changelog carry the version; Debian wants them compressed, without a
# time stamp so that the same sources give the same package.
set(VESK_MAN_PAGES vesk vesk-client vesk-demo-server vesk-link-listen)
foreach(page IN LISTS VESK_MAN_PAGES)
  configure_file(${VESK_PACKAGING_DIR}/man/${page}.1 ${VESK_GENERATED_DIR}/man/${page}.1 @ONLY)
  set(gz ${VESK_GENERATED_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${VESK_GZIP} -9 -n -c ${VESK_GENERATED_DIR}/man/${page}.1 > ${gz}
    DEPENDS ${VESK_GENERATED_DIR}/man/${page}.1
    COMMENT "Man page ${page}(1)")
  list(APPEND generated ${gz})
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

string(TIMESTAMP VESK_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
configure_file(${VESK_PACKAGING_DIR}/changelog ${VESK_GENERATED_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${VESK_GENERATED_DIR}/changelog.gz
  COMMAND ${VESK_GZIP} -9 -n -c ${VESK_GENERATED_DIR}/changelog > ${VESK_GENERATED_DIR}/changelog.gz
  DEPENDS ${VESK_GENERATED_DIR}/changelog)
list(APPEND generated ${VESK_GENERATED_DIR}/changelog.gz)

configure_file(${VESK_PACKAGING_DIR}/${VESK_APP_ID}.metainfo.xml
               ${VESK_GENERATED_DIR}/${VESK_APP_ID}.metainfo.xml @ONLY)

add_custom_target(vesk-package-files ALL DEPENDS ${generated})

# Programs. Linked with every symbol bound at start and the relocations read-only
# afterwards, as Debian's hardening asks; it costs a relink, not a rebuild.
foreach(t vesk-client vesk-demo-server vesk-link-listen)
  target_link_options(${t} PRIVATE -Wl,-z,relro -Wl,-z,now)
endforeach()
install(TARGETS vesk-client vesk-demo-server vesk-link-listen
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${VESK_PACKAGING_DIR}/vesk DESTINATION ${CMAKE_INSTALL_BINDIR})

# Desktop integration.
install(FILES ${VESK_PACKAGING_DIR}/${VESK_APP_ID}.desktop ${VESK_PACKAGING_DIR}/${VESK_APP_ID}.Demo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VESK_PACKAGING_DIR}/vesk.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${VESK_APP_ID}.svg)
install(FILES ${VESK_GENERATED_DIR}/${VESK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# What the launcher copies: the example configuration, and the demo's configuration and
# first-run settings.
install(FILES ${VESK_PACKAGING_DIR}/Vesk.ini DESTINATION ${CMAKE_INSTALL_DATADIR}/vesk)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/demo/Vesk.ini ${CMAKE_CURRENT_SOURCE_DIR}/demo/settings.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vesk/demo)

# Documentation.
set(VESK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/vesk)
install(FILES ${VESK_PACKAGING_DIR}/copyright DESTINATION ${VESK_DOC_DIR})
install(FILES ${VESK_GENERATED_DIR}/changelog.gz DESTINATION ${VESK_DOC_DIR})
foreach(doc USER-GUIDE.md LINKING.md FEED-HEALTH.md WINDOWS.md)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/docs/${doc})
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/docs/${doc} DESTINATION ${VESK_DOC_DIR})
  endif()
endforeach()
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/docs/images)
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/docs/images DESTINATION ${VESK_DOC_DIR})
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vesk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_CONTACT "Vesk developers <vesk@quorvex.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time stock market alerts client")
# CPack puts the summary first and indents the lines below it itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Vesk logs in to an alerts server and streams the alerts of the configured
categories into alert windows: newest-first lists, Bollinger band distances,
a wall of symbols, points lists and a full top list with price-spike
highlighting. A symbol clicked in an alert window is handed to linked
applications.

The package includes a demo alerts server with made-up market data; the
menu entry Vesk (demo) runs the client against it.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Shown on first start when the desktop offers notifications.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libnotify-bin")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
