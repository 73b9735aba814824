# `cpack` in the build folder makes a .deb of everything `cmake --install` puts
# in place. Package dependencies are worked out from the shared libraries the
# programs link (dpkg-shlibdeps); our own private libraries are found in the
# build's library folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "Quillon developers")
set(CPACK_PACKAGE_CONTACT "Quillon developers <dev@quillon.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Slide-show maker: turns photos into an AVI movie")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillon collects JPEG and BMP photos into an ordered list and makes an AVI movie of them:\n\
each photo held for a chosen interval with a one-second cross-fade to the next, at 25 frames\n\
per second, in NTSC or PAL sizes, with a choice of video compressors and an optional WAV\n\
sound track. Includes quillon-render (the same movies from the command line), the renderer\n\
library Mureline, and the frame server Brindle with its host brindle-host.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
