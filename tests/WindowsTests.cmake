# The Windows build's tests run under Wine (CMAKE_CROSSCOMPILING_EMULATOR of
# the toolchain): each suite as one test, against servers on 127.0.0.1.
add_test(NAME WindowsUnitTests COMMAND unit_tests)
add_test(NAME WindowsEngineTests COMMAND engine_tests)
set_tests_properties(WindowsUnitTests WindowsEngineTests PROPERTIES LABELS headless)
