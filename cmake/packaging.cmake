# The Debian packages, made by CPack's DEB generator from the same install
# rules as `cmake --install` (scripts/package.sh runs it), one package per
# install component:
#   driver  printer-driver-talvero: the filters, the PPDs, talvero-preview
#           and their man pages;
#   app     talvero-printer-app: the Printer Application, its systemd unit,
#           talvero-virtual-printer and their man pages (only when PAPPL is
#           found; without it only the driver's package is made).
# The packages are configured with CMAKE_INSTALL_PREFIX=/usr: the filters go
# to CUPS's filter folder, the PPDs to /usr/share/ppd/talvero, where
# cups-driverd finds them, the programs to /usr/bin. Library dependencies
# come from dpkg-shlibdeps; the driver's CUPS packages are named here. The
# files Debian asks of every package (copyright, changelog) and the
# compression of man pages are added to the staging trees by
# debian/prepare-staging.cmake.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rastertoTalvero)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Talvero driver maintainers <drivers@talvero.example>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL driver)
if(PAPPL_FOUND)
  list(APPEND CPACK_COMPONENTS_ALL app)
endif()

# Each description's first line is the package's summary.
set(CPACK_DEBIAN_DRIVER_PACKAGE_NAME printer-driver-talvero)
set(CPACK_DEBIAN_DRIVER_PACKAGE_SECTION text)
set(CPACK_DEBIAN_DRIVER_DESCRIPTION
  "printer driver for Talvero thermal receipt printers\n\
CUPS driver for the Talvero family of ESC/POS thermal receipt printers (58\n\
and 80 mm paper, 203 dpi, black or black and red). It contains the filter\n\
rastertoTalvero, the colour-separating prefilter rastertoTalveroPlanes, a PPD\n\
for each of the 47 supported models, and talvero-preview, which draws what a\n\
job would print.")
# cupsd runs the filters and lists the PPDs; cups-filters turns PDF, text and
# images into the raster the prefilter reads (pdftopdf, gstoraster, texttopdf).
set(CPACK_DEBIAN_DRIVER_PACKAGE_DEPENDS "cups-daemon, cups-filters")

set(CPACK_DEBIAN_APP_PACKAGE_NAME talvero-printer-app)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION net)
set(CPACK_DEBIAN_APP_DESCRIPTION
  "driverless printing to Talvero thermal receipt printers\n\
talvero-printer-app is an IPP Everywhere Printer Application (PAPPL) for the\n\
47 models of Talvero ESC/POS thermal receipt printers: CUPS, phones and any\n\
IPP client print to it without a driver, and it prints every page as the CUPS\n\
driver does. Its systemd unit is installed disabled; enabled, it runs as a\n\
user of its own in systemd's sandbox. The package also holds\n\
talvero-virtual-printer, a receipt printer on a loopback port for tests and\n\
demos.")
# The service runs as a system user of its own, which postinst makes with
# adduser. Without avahi-daemon the app runs, but neither announces its
# printers nor finds network printers.
set(CPACK_DEBIAN_APP_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "avahi-daemon")
# systemd's unit is installed, not enabled: the maintainer scripts only tell
# systemd about it, and a purge removes what an enable made.
set(CPACK_DEBIAN_APP_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/debian/talvero-printer-app/postinst
  ${PROJECT_SOURCE_DIR}/cmake/debian/talvero-printer-app/prerm
  ${PROJECT_SOURCE_DIR}/cmake/debian/talvero-printer-app/postrm)

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)  # the filter folder is an absolute install path
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_TALVERO_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/prepare-staging.cmake)
include(CPack)
