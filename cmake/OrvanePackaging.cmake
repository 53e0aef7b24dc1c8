# Installing like a desktop program: `cmake --install` puts the three programs in
# bin/ (the viewer beside orvane, where orvane looks first) with the menu entry,
# the PVA file type, the AppStream data, the icons and the manual pages, and
# `cpack -G DEB` makes a Debian package of that. The package has no maintainer
# scripts: dpkg's triggers refresh the menu, icon and MIME caches.
include(GNUInstallDirs)

set(ORVANE_APP_ID "org.example.Orvane" CACHE STRING "AppStream id of the desktop program")
set(ORVANE_HOMEPAGE "https://orvane.example.org/" CACHE STRING "Home page named by the package and the AppStream data")
set(ORVANE_SCREENSHOT_URL "${ORVANE_HOMEPAGE}screenshots/orvane.png" CACHE STRING
    "Where the AppStream data says the screenshot (docs/orvane.png) is published")
set(ORVANE_PACKAGE_MAINTAINER "The Orvane developers <orvane@orvane.example.org>" CACHE STRING
    "Maintainer field of the Debian package")
# The release of PROJECT_VERSION, in the AppStream data and the package's changelog.
set(ORVANE_RELEASE_DATE 2026-12-07)
set(ORVANE_RELEASE_DATE_RFC2822 "Mon, 07 Dec 2026 12:00:00 +0000")

# dpkg wants 0755 directories whatever the umask of the one who builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS orvane orvane-cli DVD2AVI_PVAVIEW RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
add_subdirectory(${PROJECT_SOURCE_DIR}/packaging ${CMAKE_BINARY_DIR}/packaging)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VENDOR "The Orvane developers")
set(CPACK_PACKAGE_CONTACT "${ORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cutter for PVA recordings of DVB broadcasts")
# One line each, as the control file shows them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Orvane cuts and joins PVA recordings: the files of AV packets with MPEG-2"
  "video and MPEG audio that DVB receiver cards write. It saves a new PVA whose"
  "time stamps run on across the cuts with the audio kept whole."
  ""
  "This package has the desktop program orvane, the batch front end orvane-cli"
  "and the preview viewer DVD2AVI_PVAVIEW.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ORVANE_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
