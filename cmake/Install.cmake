# Installation and the Debian package.
#   cmake --install build [--prefix /usr]        DESTDIR=... works as usual
#   cpack --config build/CPackConfig.cmake        (or: cmake --build build --target package)
# The program loads its socket library and its audio output module at run time: in the build tree
# from beside the executable, once installed from <prefix>/lib/drovanel, found relative to the
# executable's own folder, so the installed tree can be moved to any prefix.
include(GNUInstallDirs)

set(DROVANEL_PRIVATE_LIBDIR "lib/drovanel")
file(RELATIVE_PATH private_from_bin "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${DROVANEL_PRIVATE_LIBDIR}")
target_compile_definitions(drovanel_net PRIVATE DROVANEL_WINSOCK_FROM_BIN="${private_from_bin}")
target_compile_definitions(drovanel_sound PRIVATE DROVANEL_AUDIO_FROM_BIN="${private_from_bin}")

install(TARGETS drovanel drovanel-convert drovanel-ftpget RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS wsock32 drovanel-audio LIBRARY DESTINATION ${DROVANEL_PRIVATE_LIBDIR})

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${packaging}/es.drovanel.Drovanel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/es.drovanel.Drovanel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${DROVANEL_ICON_DIR}/drovanel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS DROVANEL_ICON_SIZES)
  install(FILES ${DROVANEL_ICON_DIR}/${size}/drovanel.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Man pages, compressed as Debian wants them.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(man_outputs)
foreach(page drovanel drovanel-convert drovanel-ftpget)
  set(out ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${packaging}/man/${page}.1 > ${out}
    DEPENDS ${packaging}/man/${page}.1
    VERBATIM)
  list(APPEND man_outputs ${out})
endforeach()
add_custom_target(drovanel-man ALL DEPENDS ${man_outputs})
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package: the libraries it needs are found by dpkg-shlibdeps from the installed files.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME drovanel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Drovanel <soporte@drovanel.es>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps the points map of a GPS alert device up to date")
# The long description; CPack puts the summary line above it and indents it as Debian wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Drovanel checks an FTP update server for a newer points map, shows the server's news,\ndownloads the map on request and converts it for the chosen device model and alert\nlevels. A tray-resident Qt program in Spanish, with the command-line tools\ndrovanel-convert and drovanel-ftpget.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
