# The generated kernels are committed; fail when the generator would now
# write something else.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME codelets.generated
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/gen_codelets.py --check
    --out ${PROJECT_SOURCE_DIR}/kernels/generated)
set_tests_properties(codelets.generated PROPERTIES LABELS "codelets")
# The generator's descriptions for every length up to 64, also those that no
# committed kernel uses yet, against a direct transform.
add_test(NAME codelets.descriptions
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/gen_codelets.py --selftest)
set_tests_properties(codelets.descriptions PROPERTIES LABELS "codelets")
