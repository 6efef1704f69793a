# The Debian package, made by CPack from the install rules:
#   cpack --config CPackConfig.cmake -B <folder>       (in the build folder)
# scripts/package.sh builds a Release tree and does this into dist/.
#
# One binary package "quellmark". The libraries the programs link (Qt,
# SQLite) come from dpkg-shlibdeps; the rest are loaded at run time and are
# named here: the Qt platform plugins, OpenSSL for TLS (Qt Network loads it),
# and the GStreamer elements Qt Multimedia's media player needs to play the
# sound theme's bell (Ogg Vorbis: plugins-base; the audio sinks:
# plugins-good). No maintainer scripts: the menu, icon and man caches are
# refreshed by dpkg triggers, and the programs keep nothing outside the
# user's home.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quellmark)
set(CPACK_PACKAGE_VENDOR "Kestrin Software")
set(CPACK_PACKAGE_CONTACT "Kestrin Software <support@kestrin.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "site connectivity monitor for the desktop")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.kestrin.example")
# CPack puts the summary above as the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quellmark sits in the notification area and, on a timer, checks that a list
of internet services answers: web servers (HTTP HEAD or GET with an expected
text, directly or through a proxy) and FTP, SMTP and POP3 servers by their
greeting. When a service fails it alerts you with a sound, a blinking window,
a program it starts and an e-mail from a template, and it logs every outage
for down-time reports.
.
The package holds the program, the command line tools quellmark-reg
(settings) and quellmark-report (down-time reports), the menu entry, the
icon and the manual pages.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libssl3, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "ca-certificates, xdg-utils, sound-theme-freedesktop, qt6-wayland, dbus-user-session | dbus-x11")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
