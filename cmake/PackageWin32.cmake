# The Windows build's own parts: the client as a GUI program with its icon
# and manifest, qv-download with its manifest, both with their version
# block, and the program directory (build-win/bin) as it ships:
# quorvel-client.exe, qv-download.exe, caddy.exe, the Caddyfile and the
# operator's README.txt.
set_target_properties(quorvel-client PROPERTIES WIN32_EXECUTABLE TRUE)
target_sources(quorvel-client PRIVATE res/win32/quorvel-client.rc)
target_sources(qv-download PRIVATE res/win32/qv-download.rc)
set(version_numbers ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
set_source_files_properties(res/win32/quorvel-client.rc PROPERTIES
  COMPILE_DEFINITIONS "QV_VERSION_NUMBERS=${version_numbers};QV_RC_VERSION=${PROJECT_VERSION}"
  OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/res/icons/quorvel-client.ico;${PROJECT_SOURCE_DIR}/res/win32/Version.rc")
set_source_files_properties(res/win32/qv-download.rc PROPERTIES
  COMPILE_DEFINITIONS "QV_VERSION_NUMBERS=${version_numbers};QV_RC_VERSION=${PROJECT_VERSION}"
  OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/res/win32/qv-download.manifest;${PROJECT_SOURCE_DIR}/res/win32/Version.rc")
execute_process(COMMAND ${QUORVEL_WIN_PREFIX}/bin/wx-config --prefix
                OUTPUT_VARIABLE wx_prefix OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${wx_prefix}/include/wx-3.2")
configure_file(${QUORVEL_WIN_PREFIX}/bin/caddy.exe ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/caddy.exe COPYONLY)
configure_file(accel/Caddyfile ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Caddyfile COPYONLY)
configure_file(res/win32/README.txt ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/README.txt COPYONLY)
# The files that call the window manager, or the shell's parser of command
# lines, see its whole API.
set_source_files_properties(${PROJECT_SOURCE_DIR}/framework/win32/TopWindows.cpp
  ${PROJECT_SOURCE_DIR}/framework/win32/Desktop.cpp ${PROJECT_SOURCE_DIR}/tools/win32/Console.cpp
  PROPERTIES COMPILE_DEFINITIONS QV_WINDOWS_USER_API)

# What ships: a portable zip of the program directory and the installer.
set(win_bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set(ship_files $<TARGET_FILE:quorvel-client> $<TARGET_FILE:qv-download> ${win_bin}/caddy.exe ${win_bin}/Caddyfile
  ${win_bin}/README.txt)
set(zip ${CMAKE_BINARY_DIR}/quorvel-client-${PROJECT_VERSION}-win64.zip)
set(setup ${CMAKE_BINARY_DIR}/quorvel-client-${PROJECT_VERSION}-setup.exe)
set(stage ${CMAKE_BINARY_DIR}/stage/quorvel-client)
add_custom_command(OUTPUT ${zip}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/stage
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
  COMMAND ${CMAKE_COMMAND} -E copy ${ship_files} ${stage}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${zip}
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/stage ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip quorvel-client
  DEPENDS quorvel-client qv-download ${win_bin}/caddy.exe ${win_bin}/Caddyfile ${win_bin}/README.txt
  COMMENT "portable zip")
add_custom_command(OUTPUT ${setup}
  COMMAND makensis -V2 -INPUTCHARSET UTF8 -DVERSION=${PROJECT_VERSION} -DSRC=${win_bin}
          -DICON=${PROJECT_SOURCE_DIR}/res/icons/quorvel-client.ico -DOUTFILE=${setup}
          ${PROJECT_SOURCE_DIR}/res/win32/installer.nsi
  DEPENDS quorvel-client qv-download ${win_bin}/caddy.exe ${win_bin}/Caddyfile ${win_bin}/README.txt
          ${PROJECT_SOURCE_DIR}/res/win32/installer.nsi
  COMMENT "NSIS installer")
add_custom_target(packages ALL DEPENDS ${zip} ${setup})
