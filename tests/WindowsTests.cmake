# The Windows build's tests run under Wine (the toolchain's
# CMAKE_CROSSCOMPILING_EMULATOR), in the Wine prefix scripts/setup-windows
# made, with the code page of a Chinese Windows system (936), against
# servers on 127.0.0.1.
set(QUORVEL_WINEPREFIX "" CACHE PATH "the Wine prefix the tests run in")
set(QUORVEL_LINUX_BUILD_DIR ${PROJECT_SOURCE_DIR}/build CACHE PATH "the Linux build (its demo services)")
# The web server's process, with the real caddy.exe of the program directory.
target_sources(unit_tests PRIVATE win32/ServerProcessTest.cpp)
target_compile_definitions(unit_tests PRIVATE QUORVEL_PROGRAM_DIR="$<TARGET_FILE_DIR:quorvel-client>")
add_dependencies(unit_tests quorvel-client)
add_test(NAME WindowsUnitTests COMMAND unit_tests)
add_test(NAME WindowsEngineTests COMMAND engine_tests)
# Installer, uninstaller and zip, and qv-download.exe from each.
add_test(NAME WindowsPackage COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows-install-test.sh
         ${CMAKE_BINARY_DIR} ${QUORVEL_LINUX_BUILD_DIR})
set_tests_properties(WindowsUnitTests WindowsEngineTests WindowsPackage PROPERTIES
  LABELS headless ENVIRONMENT "WINEPREFIX=${QUORVEL_WINEPREFIX};WINEDEBUG=-all;LANG=zh_CN.UTF-8;LC_ALL=zh_CN.UTF-8")
