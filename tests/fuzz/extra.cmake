# The call-sequence fuzzer, only in a clang build with -DTQS_FUZZ=ON (the
# sanitizer build of tools/run_tests.sh, or tools/fuzz.sh's own folder).
if(TQS_FUZZ)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_executable(tqs_fuzz_calls ${CMAKE_CURRENT_LIST_DIR}/fuzz_calls.cpp ${CMAKE_CURRENT_LIST_DIR}/model.cpp)
    target_include_directories(tqs_fuzz_calls PRIVATE ${PROJECT_SOURCE_DIR}/interface)
    target_link_libraries(tqs_fuzz_calls PRIVATE tqs_dft_static)
    target_compile_options(tqs_fuzz_calls PRIVATE -fsanitize=fuzzer)
    target_link_options(tqs_fuzz_calls PRIVATE -fsanitize=fuzzer)
    set_target_properties(tqs_fuzz_calls PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/fuzz)
  else()
    message(WARNING "TQS_FUZZ needs clang (CC=clang CXX=clang++): the fuzzer is not built")
  endif()
endif()
