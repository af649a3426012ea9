# SPDX-License-Identifier: GPL-3.0-or-later
# Install-time step of cmake/Install.cmake: writes ringpost.desktop with an Exec line
# naming the installed launcher, which starts the program in its data folder.
# Expects RINGPOST_DESKTOP_IN, RINGPOST_GEN_DIR, RINGPOST_BINDIR and
# RINGPOST_APPLICATIONS_DIR.

if(IS_ABSOLUTE "${RINGPOST_BINDIR}")
  set(launcher "${RINGPOST_BINDIR}/ringpost-launcher")
else()
  set(launcher "${CMAKE_INSTALL_PREFIX}/${RINGPOST_BINDIR}/ringpost-launcher")
endif()
if(launcher MATCHES "[\r\n]")
  message(FATAL_ERROR "The install prefix holds a line break; a menu entry cannot name it: ${launcher}")
endif()

# Exec quoting of the Desktop Entry Specification: an argument holding a reserved
# character goes in double quotes with " ` $ \ escaped; % is doubled; then the
# string escape doubles every backslash once more.
set(exec "${launcher}")
if(exec MATCHES "[ \t\"'\\\\><~|&;$*?#()`]")
  string(REPLACE "\\" "\\\\" exec "${exec}")
  string(REPLACE "\"" "\\\"" exec "${exec}")
  string(REPLACE "`" "\\`" exec "${exec}")
  string(REPLACE "$" "\\$" exec "${exec}")
  set(exec "\"${exec}\"")
endif()
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "\\" "\\\\" exec "${exec}")
set(RINGPOST_EXEC "${exec}")

# One file per prefix, so installs into different prefixes do not share it.
string(MD5 tag "${CMAKE_INSTALL_PREFIX}")
set(generated "${RINGPOST_GEN_DIR}/install-${tag}/ringpost.desktop")
configure_file("${RINGPOST_DESKTOP_IN}" "${generated}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${RINGPOST_APPLICATIONS_DIR}" TYPE FILE
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ FILES "${generated}")
