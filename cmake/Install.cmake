# Installation and the Debian package (with its copyright file and changelog).
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

# The copyright file (Debian's machine-readable format) and the changelog, where Debian keeps them
# for every package. A native package's changelog is changelog.gz; its newest entry names the
# version being built.
file(STRINGS ${packaging}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^drovanel \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the newest entry is not version ${PROJECT_VERSION}: ${changelog_head}")
endif()
set(changelog_out ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${changelog_out}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${packaging}/changelog > ${changelog_out}
  DEPENDS ${packaging}/changelog
  VERBATIM)
add_custom_target(drovanel-doc ALL DEPENDS ${changelog_out})
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/drovanel)
install(FILES ${packaging}/copyright ${changelog_out} DESTINATION ${docdir})

# The Debian package: the libraries it needs are found by dpkg-shlibdeps from the installed files.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME drovanel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Drovanel <soporte@drovanel.es>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps the points map of a GPS alert device up to date")
# The long description; CPack puts the summary line above it and indents it as Debian wants.
# Debian wants its lines at most 80 characters wide, the leading space included.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Drovanel checks an FTP update server for a newer points map, shows the\nserver's news, downloads the map on request and converts it for the chosen\ndevice model and alert levels. A tray-resident Qt program in Spanish, with\nthe command-line tools drovanel-convert and drovanel-ftpget.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack writes a postinst and a postrm that run ldconfig for any shared object under usr/lib,
# unless the package brings its own. The two libraries in lib/drovanel are private, loaded by
# path and never looked up by the dynamic linker, so nothing needs ldconfig: naming the two
# scripts without providing them leaves the package with no maintainer scripts at all (cpack says
# "missing file" for each, as expected).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_BINARY_DIR}/no-maintainer-scripts/postinst"
                                      "${CMAKE_BINARY_DIR}/no-maintainer-scripts/postrm")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
