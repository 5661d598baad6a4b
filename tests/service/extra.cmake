# Probe program: prints service answers for a chosen environment, run by the
# tests in child processes (settings are read once per process).
add_executable(tqs_service_probe ${CMAKE_CURRENT_LIST_DIR}/probe.cpp)
target_include_directories(tqs_service_probe PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(tqs_service_probe PRIVATE tqs_dft_static)
set_target_properties(tqs_service_probe PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/service)

# A message catalog module for the test locale "xx_TEST", laid out as the
# printer looks for it: <locale>/tqs_msg.so below the working directory.
add_library(tqs_service_test_catalog MODULE ${CMAKE_CURRENT_LIST_DIR}/catalog_module.cpp)
set_target_properties(tqs_service_test_catalog PROPERTIES
  PREFIX "" OUTPUT_NAME tqs_msg SUFFIX ".so"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/service/catalog/xx_TEST)

add_dependencies(test_service tqs_service_probe tqs_service_test_catalog)
