# The Windows build's own parts: the client as a GUI program with its icon
# and manifest, and the program directory (build-win/bin) as it ships:
# quorvel-client.exe, qv-download.exe, caddy.exe and the Caddyfile.
set_target_properties(quorvel-client PROPERTIES WIN32_EXECUTABLE TRUE)
target_sources(quorvel-client PRIVATE res/win32/quorvel-client.rc)
set_source_files_properties(res/win32/quorvel-client.rc PROPERTIES
  OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/res/icons/quorvel-client.ico)
execute_process(COMMAND ${QUORVEL_WIN_PREFIX}/bin/wx-config --prefix
                OUTPUT_VARIABLE wx_prefix OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${wx_prefix}/include/wx-3.2")
configure_file(${QUORVEL_WIN_PREFIX}/bin/caddy.exe ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/caddy.exe COPYONLY)
configure_file(accel/Caddyfile ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Caddyfile COPYONLY)
# The files that call the window manager see its whole API.
set_source_files_properties(${PROJECT_SOURCE_DIR}/framework/win32/TopWindows.cpp
  ${PROJECT_SOURCE_DIR}/framework/win32/Desktop.cpp PROPERTIES COMPILE_DEFINITIONS QV_WINDOWS_USER_API)
