# The Linux build's own parts: the demo services (run by the demo and the
# tests of both builds), the benchmarks, and the install tree.
add_executable(quorvel-demo-services demo/main.cpp)
target_link_libraries(quorvel-demo-services PRIVATE qv_demo)
target_compile_definitions(quorvel-demo-services PRIVATE QV_VERSION="${PROJECT_VERSION}")

add_executable(caching_bench bench/caching_bench.cpp)
target_link_libraries(caching_bench PRIVATE qv_demo)
set_target_properties(caching_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
# The wide-area link the benchmarks put in front of Caddy.
add_executable(wan_relay bench/wan_relay.cpp)
set_target_properties(wan_relay PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

# The acceleration service beside the client: the Caddy launcher and its
# Caddyfile, in the build tree's program directory and in the installed one.
configure_file(accel/caddy ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/caddy COPYONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(accel/Caddyfile ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Caddyfile COPYONLY)

# Installed, the program directory is private: lib/quorvel-client holds the
# client, the Caddy launcher, the Caddyfile and (once a meeting is cached)
# assets/; bin/ has only the client (a link into it) and qv-download, so a
# `caddy` on the PATH stays Debian's. Install where the operator can write
# (--prefix ~/.local), since the cache lies in the program directory.
set(QUORVEL_PROGRAM_DIR lib/quorvel-client)
option(QUORVEL_INSTALL_DEMO "also install the demo services" OFF)
install(TARGETS quorvel-client RUNTIME DESTINATION ${QUORVEL_PROGRAM_DIR})
install(PROGRAMS accel/caddy DESTINATION ${QUORVEL_PROGRAM_DIR})
install(FILES accel/Caddyfile DESTINATION ${QUORVEL_PROGRAM_DIR})
install(TARGETS qv-download RUNTIME DESTINATION bin)
if(QUORVEL_INSTALL_DEMO)
  install(TARGETS quorvel-demo-services RUNTIME DESTINATION bin)
endif()
# The link is recorded in install_manifest.txt like every installed file,
# so an uninstall by the manifest removes it too.
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(CREATE_LINK ../${QUORVEL_PROGRAM_DIR}/quorvel-client
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/quorvel-client\" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/quorvel-client\")")
# The application menu's entry and its icons (tools/make-icons.py).
install(CODE "set(QUORVEL_DESKTOP_IN \"${PROJECT_SOURCE_DIR}/res/desktop/quorvel-client.desktop.in\")")
install(SCRIPT res/desktop/InstallDesktopEntry.cmake)
foreach(size 32 48 64 128)
  install(FILES res/icons/quorvel-client-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME quorvel-client.png)
endforeach()

