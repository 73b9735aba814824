# `cpack` in the build folder makes a .deb of everything `cmake --install` puts
# in place. Package dependencies are worked out from the shared libraries the
# programs link (dpkg-shlibdeps); our own private libraries are found in the
# build's library folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "Quillon developers")
set(CPACK_PACKAGE_CONTACT "Quillon developers <dev@quillon.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Slide-show maker: turns photos into a movie")
# Lines under 80 columns, as the package tools ask.
set(CPACK_PACKAGE_DESCRIPTION
    "Quillon collects JPEG and BMP photos into an ordered list and makes a movie\n\
of them: each photo held for a chosen interval with a one-second cross-fade\n\
to the next, in NTSC or PAL sizes or in HD, as AVI, MP4, Matroska or WebM,\n\
with a choice of video compressors and optional sound tracks. Phone photos\n\
stand upright and the music ends with the pictures. Includes quillon-render\n\
(the same movies from the command line), the renderer library Mureline, and\n\
the frame server Brindle with its host brindle-host.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
# Play and Show in Folder hand the movie to the desktop through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The libraries in the system's folder are announced by the ldconfig trigger,
# not by maintainer scripts that call ldconfig (which CPack would otherwise
# write: ours do nothing).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/../packaging/triggers
                                       ${CMAKE_CURRENT_LIST_DIR}/../packaging/postinst
                                       ${CMAKE_CURRENT_LIST_DIR}/../packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/../packaging/open-folders.cmake)
include(CPack)
