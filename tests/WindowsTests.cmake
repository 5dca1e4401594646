# The Windows build's tests run under Wine (tests/win32/wine-run), one ctest
# case per test, against servers on 127.0.0.1.
set(QUORVEL_WINEPREFIX "" CACHE PATH "the Wine prefix the tests run in")
set(QUORVEL_LINUX_BUILD_DIR ${PROJECT_SOURCE_DIR}/build CACHE PATH "the Linux build (its demo services)")
configure_file(win32/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set_target_properties(unit_tests engine_tests PROPERTIES CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# The web server's process, with the real caddy.exe of the program
# directory: its cases take port 3000 one at a time.
target_sources(unit_tests PRIVATE win32/LogFolderTest.cpp win32/ServerProcessTest.cpp)
set_property(SOURCE win32/ServerProcessTest.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS QUORVEL_PROGRAM_DIR="$<TARGET_FILE_DIR:quorvel-client>")
add_dependencies(unit_tests quorvel-client)
gtest_discover_tests(unit_tests NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_FILTER "-ServerProcessTest.*"
                     PROPERTIES LABELS headless)
gtest_discover_tests(unit_tests NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_FILTER "ServerProcessTest.*"
                     PROPERTIES LABELS headless RESOURCE_LOCK port3000)
gtest_discover_tests(engine_tests NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES LABELS headless)

# Names beside the 936 of the cases above: under the code pages of a
# Windows installed in English (1252), in Taiwan or Hong Kong (950), and
# with "Use Unicode UTF-8 for worldwide language support" (65001, which
# Wine gives a locale without an ANSI code page); and the program run from
# a folder whose name holds 誠 (GBK D5 5C). Wine writes file names in the
# Unix locale's charset: scripts/setup makes these locales.
set(names "CacheLayoutTest.*:Utf8ToLocal.*:CachingJobTest.DownloadsEveryMissingFileByteExact")
foreach(lang en_US.UTF-8 zh_TW.UTF-8 hi_IN.UTF-8)
  foreach(program unit_tests engine_tests)
    add_test(NAME ${program}.NamesUnder.${lang} COMMAND ${CMAKE_BINARY_DIR}/wine-run $<TARGET_FILE:${program}>
             --gtest_filter=${names})
    set_tests_properties(${program}.NamesUnder.${lang} PROPERTIES LABELS headless ENVIRONMENT QUORVEL_WINE_LANG=${lang})
  endforeach()
endforeach()
add_test(NAME unit_tests.InAFolderNamedWithTheByteOfABackslash
         COMMAND sh -c "mkdir -p \"$0\" && cp \"$1\" \"$0/\" && exec \"$2\" \"$0/$3\" --gtest_filter=CacheLayoutTest.*"
                 ${CMAKE_BINARY_DIR}/tests/程序誠 $<TARGET_FILE:unit_tests> ${CMAKE_BINARY_DIR}/wine-run $<TARGET_FILE_NAME:unit_tests>)
set_tests_properties(unit_tests.InAFolderNamedWithTheByteOfABackslash PROPERTIES LABELS headless)

# Installer, uninstaller and zip, and qv-download.exe from each; the
# uninstaller run by hand and the client it closes on an X display of the
# test's own, in a copy of the Wine prefix.
add_test(NAME WindowsPackage COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows-install-test.sh
         ${CMAKE_BINARY_DIR} ${QUORVEL_LINUX_BUILD_DIR})
set_tests_properties(WindowsPackage PROPERTIES RESOURCE_GROUPS displays:1
  ENVIRONMENT "WINEPREFIX=${QUORVEL_WINEPREFIX};WINEDEBUG=-all;LANG=zh_CN.UTF-8;LC_ALL=zh_CN.UTF-8")

# The window tests under Wine, each on an X display of its own (the
# resource "displays"; wine-run gives it to Wine) and in a Wine desktop of
# its own (PrepareTestDesktop). Their system part calls the window manager.
set_property(SOURCE support/GuiPump.cpp support/win32/GuiSystem.cpp support/win32/CaptionedWindow.cpp
  APPEND PROPERTY COMPILE_DEFINITIONS QV_WINDOWS_USER_API)
set_target_properties(gui_tests PROPERTIES CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
# As the client: aware of each monitor's DPI (its manifest), scaled as the
# client is.
target_sources(gui_tests PRIVATE win32/gui_tests.rc win32/DpiChangeTest.cpp)
# Port 3000 is taken one case at a time, and so is the lock file of the
# build's program directory (the client started as a program).
set(serving "AccelerationTest.*:CachingWindowTest.StoppingAccelerationMidJobLeavesTheListsToTheJob")
set(programs "SingleInstance.*")
gtest_discover_tests(gui_tests NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                     TEST_FILTER "-${serving}:${programs}" PROPERTIES RESOURCE_GROUPS displays:1)
gtest_discover_tests(gui_tests NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                     TEST_FILTER "${programs}" PROPERTIES RESOURCE_GROUPS displays:1 RESOURCE_LOCK program_dir)
gtest_discover_tests(gui_tests NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                     TEST_FILTER "${serving}" PROPERTIES RESOURCE_GROUPS displays:1 RESOURCE_LOCK port3000)

# The client's --help and --version through a pipe.
add_test(NAME WindowsClientAnswersThroughAPipe COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows-console-test.sh
         ${CMAKE_BINARY_DIR})
set_tests_properties(WindowsClientAnswersThroughAPipe PROPERTIES LABELS headless
  ENVIRONMENT "WINEPREFIX=${QUORVEL_WINEPREFIX};WINEDEBUG=-all")

# The windows at a display's scaling: 150 % on a 1920 x 1080 screen and
# 100 % on a 1366 x 768 one, each in a private copy of the prefix.
foreach(scaling "144;1920x1080" "96;1366x768")
  list(GET scaling 0 dpi)
  list(GET scaling 1 screen)
  add_test(NAME WindowFitAt${dpi}dpiOn${screen}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/win32/scaled-desktop.sh ${QUORVEL_WINEPREFIX} ${dpi} ${screen}
                   ${CMAKE_BINARY_DIR}/wine-run $<TARGET_FILE:gui_tests> --gtest_filter=*WindowFitTest.*:WindowTextTest.*)
endforeach()

# qv-download.exe's table of command lines under the code pages 1252, 950
# and 936, against the Linux build's demo services.
add_test(NAME WindowsCommandLine COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows-cli-test.sh
         ${CMAKE_BINARY_DIR} ${QUORVEL_LINUX_BUILD_DIR})
set_tests_properties(WindowsCommandLine PROPERTIES LABELS headless ENVIRONMENT "WINEPREFIX=${QUORVEL_WINEPREFIX};WINEDEBUG=-all")

# https with CAs of one's own and the system's, and the proxy of the user's
# Windows settings, in a private copy of the Wine prefix.
add_test(NAME WindowsCompanyNetwork COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows-network-test.sh
         ${CMAKE_BINARY_DIR} ${QUORVEL_LINUX_BUILD_DIR})
set_tests_properties(WindowsCompanyNetwork PROPERTIES LABELS headless RESOURCE_LOCK script_ports
  ENVIRONMENT "LANG=C.UTF-8;LC_ALL=C.UTF-8")
