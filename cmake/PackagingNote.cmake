# Read by cpack before it packs the Debian package (CPACK_PROJECT_CONFIG_FILE).
if(NOT CPACK_LINTARA_CONFIGURED_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
    message(STATUS "Packaging: configured for ${CPACK_LINTARA_CONFIGURED_PREFIX}; "
        "the package installs the driver in ${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_LINTARA_LIBDIR} "
        "(configure with -DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX} for the multiarch folder)")
endif()
