# The library: level-independent objects (interface/, service/) built for
# baseline x86-64, plus one copy of engine/, kernels/ and parallel/ per
# processor level, each in its own namespace tqs::l<N>.

set(TQS_LEVEL_FLAGS_0 -msse2)
set(TQS_LEVEL_FLAGS_1 -msse3)
set(TQS_LEVEL_FLAGS_2 -mssse3)
set(TQS_LEVEL_FLAGS_3 -msse4.2 -mpopcnt)
set(TQS_LEVEL_FLAGS_4 -mavx)
set(TQS_LEVEL_FLAGS_5 -mavx2 -mfma -mbmi -mbmi2 -mlzcnt)

file(GLOB_RECURSE TQS_LEVEL_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/engine/*.cpp
  ${PROJECT_SOURCE_DIR}/kernels/*.cpp
  ${PROJECT_SOURCE_DIR}/parallel/*.cpp)
file(GLOB_RECURSE TQS_COMMON_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/interface/*.cpp
  ${PROJECT_SOURCE_DIR}/service/*.cpp)

# Sanitizer builds of the generated straight-line kernels and of the two
# engines that inline them (the mixed-radix blocks, the power-of-two
# leaves): use-after-scope checking gives every vector temporary its own
# poisoned stack slot (several times the code and the compile time: the
# mixed-radix engine at level 5 took 110 s instead of 31, with the whole
# transforms still inside it 340 s; and nothing to find: no kernel lets the
# address of a local outlive its scope), and variable tracking for the
# debug information of thousands of temporaries doubles what is left. Their
# loads and stores stay checked, stack arrays keep their red zones.
if(TQS_SANITIZE)
  file(GLOB TQS_GENERATED_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/kernels/generated/*.cpp)
  list(APPEND TQS_GENERATED_SOURCES ${PROJECT_SOURCE_DIR}/kernels/mixed_radix.cpp
    ${PROJECT_SOURCE_DIR}/kernels/pow2.cpp)
  set(TQS_GENERATED_OPTIONS -fno-var-tracking)
  if(TQS_SANITIZE MATCHES "address")
    list(APPEND TQS_GENERATED_OPTIONS -fno-sanitize-address-use-after-scope)
  endif()
  set_source_files_properties(${TQS_GENERATED_SOURCES} PROPERTIES
    COMPILE_OPTIONS "${TQS_GENERATED_OPTIONS}")
endif()

if(NOT "0" IN_LIST TQS_LEVELS)
  message(FATAL_ERROR "TQS_LEVELS must contain level 0")
endif()

set(TQS_OBJECT_LIBS)
foreach(level IN LISTS TQS_LEVELS)
  set(lib tqs_level${level})
  add_library(${lib} OBJECT ${TQS_LEVEL_SOURCES})
  target_compile_definitions(${lib} PRIVATE TQS_LEVEL=${level} TQS_LNS=l${level})
  target_compile_options(${lib} PRIVATE ${TQS_LEVEL_FLAGS_${level}} -fvisibility=hidden
    -fvisibility-inlines-hidden ${TQS_FUZZ_COVERAGE})
  target_include_directories(${lib} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/interface)
  set_target_properties(${lib} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_link_libraries(${lib} PRIVATE OpenMP::OpenMP_CXX)
  list(APPEND TQS_OBJECT_LIBS ${lib})
endforeach()

# Table of the built levels for the dispatch; a level not built falls back
# to the nearest built one below it.
set(TQS_LEVEL_DECLS "")
set(TQS_LEVEL_TABLE "")
set(fallback 0)
foreach(level RANGE 0 5)
  if("${level}" IN_LIST TQS_LEVELS)
    string(APPEND TQS_LEVEL_DECLS "namespace l${level} { extern const LevelApi level_api; }\n")
    set(fallback ${level})
  endif()
  string(APPEND TQS_LEVEL_TABLE "    &l${fallback}::level_api,\n")
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/level_table.cpp.in
  ${PROJECT_BINARY_DIR}/generated/level_table.cpp @ONLY)

add_library(tqs_common OBJECT ${TQS_COMMON_SOURCES} ${PROJECT_BINARY_DIR}/generated/level_table.cpp)
target_include_directories(tqs_common PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/interface)
target_compile_options(tqs_common PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden
  ${TQS_FUZZ_COVERAGE})
set_target_properties(tqs_common PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_link_libraries(tqs_common PRIVATE OpenMP::OpenMP_CXX ${CMAKE_DL_LIBS})

set(TQS_ALL_OBJECTS $<TARGET_OBJECTS:tqs_common>)
foreach(lib IN LISTS TQS_OBJECT_LIBS)
  list(APPEND TQS_ALL_OBJECTS $<TARGET_OBJECTS:${lib}>)
endforeach()

add_library(tqs_dft SHARED ${TQS_ALL_OBJECTS})
set_target_properties(tqs_dft PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
  LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exports.map)
target_link_options(tqs_dft PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exports.map)
# Clang links its sanitizer runtimes into executables only, which leaves a
# sanitized shared library with undefined runtime symbols by design.
if(NOT (TQS_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
  target_link_options(tqs_dft PRIVATE -Wl,--no-undefined)
endif()
target_link_libraries(tqs_dft PRIVATE OpenMP::OpenMP_CXX ${CMAKE_DL_LIBS} m)
target_include_directories(tqs_dft PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/interface>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

add_library(tqs_dft_static STATIC ${TQS_ALL_OBJECTS})
set_target_properties(tqs_dft_static PROPERTIES OUTPUT_NAME tqs_dft)
target_link_libraries(tqs_dft_static PUBLIC OpenMP::OpenMP_CXX ${CMAKE_DL_LIBS} m)
target_include_directories(tqs_dft_static PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/interface>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

add_library(tqs::dft ALIAS tqs_dft)

# Installation: header, both libraries, pkg-config file, CMake package.
install(FILES ${PROJECT_SOURCE_DIR}/interface/tqs_dfti.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS tqs_dft EXPORT TqsDftTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS tqs_dft_static ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT TqsDftTargets NAMESPACE tqs:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/TqsDft)
set_target_properties(tqs_dft PROPERTIES EXPORT_NAME dft)
include(CMakePackageConfigHelpers)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TqsDftConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TqsDftConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/TqsDft)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TqsDftConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TqsDftConfig.cmake ${PROJECT_BINARY_DIR}/TqsDftConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/TqsDft)
configure_file(${PROJECT_SOURCE_DIR}/cmake/tqs_dft.pc.in ${PROJECT_BINARY_DIR}/tqs_dft.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tqs_dft.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
