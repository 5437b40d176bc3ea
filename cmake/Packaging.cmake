# The packages: on Windows a zip of the program's folder
# (cmake/PackagingWindows.cmake, scripts/package-windows.sh), elsewhere the
# Debian package of the program, its driver and its desktop entry:
#   cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
#         -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build-package && (cd build-package && cpack -G DEB)
#
# The library folder (CMAKE_INSTALL_LIBDIR) is chosen when the project is
# configured, from CMAKE_INSTALL_PREFIX: lib/<multiarch> for /usr, plain lib
# for anything else. Both the driver's place and the program's RUNPATH
# ($ORIGIN/../<libdir>) come from that one value, so the program finds its
# driver whatever the prefix; configuring with /usr only puts the driver where
# Debian expects shared libraries to be.

if(WIN32)
    include(PackagingWindows)
    return()
endif()

set(CPACK_PACKAGE_NAME "lintara")
set(CPACK_PACKAGE_VENDOR "Lintara developers")
set(CPACK_PACKAGE_CONTACT "Lintara developers <dev@lintara.example.org>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# One paragraph, in lines short enough for the package's control file.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Lintara sets the DTR and RTS outputs of serial ports and shows the CTS,"
    "DSR, DCD and RI inputs as they change, to check cables, adapters and the"
    "devices behind them. It comes with its port driver, librscom, which also"
    "offers virtual loopback ports for trying the program without hardware.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${PROJECT_HOMEPAGE_URL}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")

set(CPACK_DEBIAN_PACKAGE_NAME "lintara")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
# The libraries both binaries link (Qt for the program, libserialport for the
# driver) come from dpkg-shlibdeps; what is only loaded at run time does not:
# Qt's X11 platform plugin, and a font to draw the window's text with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")

# A tree configured for another prefix packs its own library folder; cpack
# says so when it packs (PackagingNote.cmake), not every configure.
set(CPACK_LINTARA_CONFIGURED_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_LINTARA_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/PackagingNote.cmake")

include(CPack)
