# The Debian package printer-driver-talvero, made by CPack's DEB generator
# from the same install rules as `cmake --install` (scripts/package.sh runs
# it). The package is configured with CMAKE_INSTALL_PREFIX=/usr: the filters
# go to CUPS's filter folder, the PPDs to /usr/share/ppd/talvero, where
# cups-driverd finds them, the tools to /usr/bin. Library dependencies come
# from dpkg-shlibdeps; the CUPS packages are named here. The files Debian
# asks of every package (copyright, changelog) and the compression of man
# pages are added to the staging tree by debian/prepare-staging.cmake.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME printer-driver-talvero)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Talvero driver maintainers <drivers@talvero.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "printer driver for Talvero thermal receipt printers")
set(CPACK_PACKAGE_DESCRIPTION
  "CUPS driver for the Talvero family of ESC/POS thermal receipt printers (58\n\
and 80 mm paper, 203 dpi, black or black and red). It contains the filter\n\
rastertoTalvero, the colour-separating prefilter rastertoTalveroPlanes, a PPD\n\
for each of the 47 supported models, and talvero-preview, which draws what a\n\
job would print.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)  # the filter folder is an absolute install path
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# cupsd runs the filters and lists the PPDs; cups-filters turns PDF, text and
# images into the raster the prefilter reads (pdftopdf, gstoraster, texttopdf).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "cups-daemon, cups-filters")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_TALVERO_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/prepare-staging.cmake)
include(CPack)
