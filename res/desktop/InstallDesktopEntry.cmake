# Runs at install time (cmake --install may change the prefix): writes the
# menu entry with the absolute path of the installed client, quoted and
# escaped as the desktop entry format wants it.
set(client "${CMAKE_INSTALL_PREFIX}/bin/quorvel-client")
# Inside a quoted Exec argument ", `, $ and \ take a backslash; the value as a
# whole is a string in which a backslash is written twice.
string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" quoted "${client}")
string(REPLACE "\\" "\\\\" quoted "${quoted}")
set(QUORVEL_DESKTOP_EXEC "\"${quoted}\"")
string(REPLACE "\\" "\\\\" QUORVEL_DESKTOP_TRYEXEC "${client}")
set(target "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications/quorvel-client.desktop")
configure_file("${QUORVEL_DESKTOP_IN}" "${target}" @ONLY)
message(STATUS "Installing: ${target}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
