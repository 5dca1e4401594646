# Read by ctest after the GoogleTest cases were discovered: the properties
# of more than one value (labels, locks) that gtest_discover_tests cannot
# give them.
if(engine_cases OR unit_cases)
  set_tests_properties(${engine_cases} ${unit_cases} PROPERTIES LABELS "headless;threads")
endif()
if(serving_cases)
  set_tests_properties(${serving_cases} PROPERTIES RESOURCE_LOCK "port3000;install_manifest")
endif()
