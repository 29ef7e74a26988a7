# What `cmake --install` adds beside the program for a desktop (menu entry, icon, software-centre
# metadata), and the Debian package that `make package` builds from the same install rules: the
# package holds exactly what an install lays out, so tests and benchmarks never get into it.
include(GNUInstallDirs)

set(QUORVEL_HOMEPAGE_URL "https://brellun.com/tovik" CACHE STRING "Project home page, also the base of the screenshot URLs")
set(QUORVEL_MAINTAINER "The Tovik developers <tovik@brellun.com>" CACHE STRING "Maintainer of the Debian package")

set(QUORVEL_APP_ID com.brellun.quorvel)
set(QUORVEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
configure_file(${QUORVEL_PACKAGING_DIR}/${QUORVEL_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/packaging/${QUORVEL_APP_ID}.metainfo.xml @ONLY)
# Debian wants the changelog compressed without a time stamp, so equal sources give equal packages.
configure_file(${QUORVEL_PACKAGING_DIR}/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/packaging/changelog COMMAND_ERROR_IS_FATAL ANY)

install(FILES ${QUORVEL_PACKAGING_DIR}/${QUORVEL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QUORVEL_PACKAGING_DIR}/${QUORVEL_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${QUORVEL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tovik RENAME copyright)
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tovik)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovik)
set(CPACK_PACKAGE_VENDOR "The Tovik developers")
set(CPACK_PACKAGE_CONTACT "${QUORVEL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "local dictation: hold a key, speak, and the text is pasted")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION "\
Tovik pastes what you say into the application in front while you hold a hot
key. Speech is recognised on this computer (a built-in English model, larger
models downloaded on request), and every dictation is kept in a history with
its audio and counted in usage statistics. X11 only.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUORVEL_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the program runs or loads by name, which the library scan cannot see: the speech worker and
# its recogniser, Qt's SVG plugins (all our icons), the sound plugin and theme, curl/bzip2 for
# model downloads (tar is essential, so always there), pgrep (procps) for the check for other
# dictation tools. Recommended: the venv for the optional speech runtime, and GStreamer's WAV and
# PulseAudio elements for playing recordings back.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "python3, python3-pocketsphinx, pocketsphinx-en-us, libqt6svg6, libcanberra-pulse, sound-theme-freedesktop, curl, bzip2, procps")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-venv, gstreamer1.0-plugins-good")
include(CPack)
