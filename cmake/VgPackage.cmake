# `cpack -G DEB` in a build folder: a Debian package of everything `cmake --install`
# installs, below /usr. Depends come from the shared libraries the programs link
# (dpkg-shlibdeps); Debian's triggers update the MIME, desktop and icon caches.
set(CPACK_PACKAGE_NAME vellumguard)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vellumguard")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "protect files and folders with a password")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VG_DEBIAN_MAINTAINER}")  # cmake/VgMaintainer.cmake
if(VG_WEBSITE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VG_WEBSITE}")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opening a restored file goes through xdg-open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")
# xdg-mime (and so xdg-open on a double-click) needs the Perl MIME tools outside GNOME and
# KDE sessions; the window runs natively on Wayland with Qt's Wayland plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "shared-mime-info, desktop-file-utils, libfile-mimeinfo-perl, qt6-wayland, adwaita-icon-theme | breeze-icon-theme")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-nautilus")
# The long description; CPack indents it and marks the empty line as deb-control(5) wants.
set(CPACK_PACKAGE_DESCRIPTION "Vellumguard protects files with a password: each file is compressed with
deflate and encrypted with AES-256 into NAME.~de beside it; only then is the
original overwritten and deleted. Restoring reverses this.

The package holds the window program vellumguard (folder tree, file list and
a guard list of files and folders), the command-line tool vellumguard-cli, a
menu entry, the file types of protected files and guard lists, and Protect
and Restore actions for Files, Dolphin and Nemo.")
include(CPack)
