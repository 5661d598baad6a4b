# The generated kernels are committed; fail when the generator would now
# write something else.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME codelets.generated
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/gen_codelets.py --check
    --out ${PROJECT_SOURCE_DIR}/kernels/generated)
set_tests_properties(codelets.generated PROPERTIES LABELS "codelets")
