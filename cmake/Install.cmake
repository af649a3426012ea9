# SPDX-License-Identifier: GPL-3.0-or-later
# Installation and the Debian package: the program, its launcher, the menu entry,
# the icons, the AppStream data, the man page and the bundled help.
# `cmake --install <build> --prefix <any>` works; the package installs into /usr.
include(GNUInstallDirs)

# Ringpost has neither a web site nor a mailing address. The package's Maintainer
# field must hold an address, so it names the reserved .invalid domain, which no
# mail ever reaches, unless the builder gives a real one (scripts/package passes
# DEBEMAIL on).
set(RINGPOST_MAINTAINER_EMAIL "ringpost@ringpost.invalid" CACHE STRING
    "Address in the Debian package's Maintainer field")
set(RINGPOST_MAINTAINER "Ringpost developers <${RINGPOST_MAINTAINER_EMAIL}>")
set(RINGPOST_RELEASE_DATE "2026-12-08")
set(RINGPOST_CHANGELOG_DATE "Tue, 08 Dec 2026 12:00:00 +0000")

set(_rp_src ${PROJECT_SOURCE_DIR}/data)
set(_rp_gen ${PROJECT_BINARY_DIR}/data)
set(_rp_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/ringpost)

# Directories are created 0755 whatever the installing user's umask is.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Everything generated here is made at configure time, so `cmake --install` needs
# no build step beyond the program itself.
file(MAKE_DIRECTORY ${_rp_gen})
configure_file(${_rp_src}/org.amberfold.Ringpost.metainfo.xml.in
               ${_rp_gen}/org.amberfold.Ringpost.metainfo.xml @ONLY)
configure_file(${_rp_src}/debian/changelog.in ${_rp_gen}/changelog @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_rp_src}/ringpost.1)

# gzip -n leaves out the name and time stamp, so the package is reproducible.
function(ringpost_gzip source target)
  execute_process(COMMAND gzip -9 -n -c ${source} OUTPUT_FILE ${target} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${source}")
  endif()
endfunction()
ringpost_gzip(${_rp_src}/ringpost.1 ${_rp_gen}/ringpost.1.gz)
ringpost_gzip(${_rp_gen}/changelog ${_rp_gen}/changelog.gz)
file(CREATE_LINK ringpost.1.gz ${_rp_gen}/ringpost-launcher.1.gz SYMBOLIC)

install(TARGETS ringpost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${_rp_src}/ringpost-launcher DESTINATION ${CMAKE_INSTALL_BINDIR})

# The menu entry names the launcher by its installed path, known only at install
# time (--prefix, the package's /usr); the step is a script of its own.
install(CODE "set(RINGPOST_DESKTOP_IN [==[${_rp_src}/ringpost.desktop.in]==])
set(RINGPOST_GEN_DIR [==[${_rp_gen}]==])
set(RINGPOST_BINDIR [==[${CMAKE_INSTALL_BINDIR}]==])
set(RINGPOST_APPLICATIONS_DIR [==[${CMAKE_INSTALL_DATADIR}/applications]==])")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallDesktopEntry.cmake)

foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${_rp_src}/icons/ringpost-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ringpost.png)
endforeach()
install(FILES ${_rp_src}/icons/ringpost.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

install(FILES ${_rp_gen}/org.amberfold.Ringpost.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_rp_gen}/ringpost.1.gz ${_rp_gen}/ringpost-launcher.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_rp_src}/debian/copyright ${_rp_gen}/changelog.gz DESTINATION ${_rp_docdir})

# A copy of the help that is compiled into the program, for reading in a browser.
file(GLOB _rp_help CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/platform/gui/help/*.html ${PROJECT_SOURCE_DIR}/platform/gui/help/*.css
     ${PROJECT_SOURCE_DIR}/platform/gui/help/*.png ${PROJECT_SOURCE_DIR}/platform/gui/help/*.svg)
if(_rp_help)
  install(FILES ${_rp_help} DESTINATION ${CMAKE_INSTALL_DATADIR}/ringpost/help)
endif()

# The Debian package: `cpack -G DEB` in a release build (scripts/package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ringpost)
set(CPACK_PACKAGE_VENDOR "Ringpost developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RINGPOST_MAINTAINER}")
# The install step sees the real prefix (/usr) and writes below DESTDIR, so the menu
# entry names /usr/bin/ringpost-launcher rather than the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "text your phone about meetings, tasks and urgent mail")
# CPack puts the summary on the first line itself; this is the long text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Ringpost is a small companion in the notification area of the desktop. It
watches your calendar, your task list and your inbox and, while you are away
from the computer, sends short text notices to your phone through your
carrier's e-mail-to-text gateway or any address your device receives: meeting
reminders, the first meeting of the day and of tomorrow, task reminders,
due-tomorrow notices, past-due reminders and urgent unread mail.
.
It reads iCalendar files, CalDAV servers, the desktop's own calendar store
(evolution-data-server) and a Maildir or IMAP inbox, and sends through SMTP or
sendmail, to ntfy, or through Apprise to Telegram, Signal, Matrix, Pushover,
Gotify and other services.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RINGPOST_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Apprise carries notices to Telegram, Gotify and the rest; without it every other
# way still works, and the status bar names the package when an address needs it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS apprise)
# Source=desktop reads the calendars the desktop's store keeps; without it the
# library only says that no store runs.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS evolution-data-server)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
