# Linux build: the portable library, mksfx, native tests, fuzz targets and benchmarks.
option(DUDORE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(DUDORE_BENCH "Build the benchmarks (needs zlib and libdeflate)" ON)

if(DUDORE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(dudore_portable STATIC ${DUDORE_PORTABLE_SOURCES})
target_include_directories(dudore_portable PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(dudore_portable PRIVATE ${DUDORE_WARNINGS})

find_package(ZLIB REQUIRED)
add_executable(mksfx ${DUDORE_MKSFX_SOURCES})
target_link_libraries(mksfx PRIVATE dudore_portable ZLIB::ZLIB)
target_compile_options(mksfx PRIVATE ${DUDORE_WARNINGS})
target_compile_definitions(mksfx PRIVATE DUDORE_VERSION="${PROJECT_VERSION}"
  DUDORE_WIN32_STUB="${PROJECT_SOURCE_DIR}/build/win32/dudore-stub32.exe")

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB DUDORE_NATIVE_TESTS CONFIGURE_DEPENDS tests/native/*.cpp)
add_executable(native_tests ${DUDORE_NATIVE_TESTS})
target_link_libraries(native_tests PRIVATE dudore_portable GTest::gtest_main ZLIB::ZLIB)
target_include_directories(native_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/native)
target_compile_definitions(native_tests PRIVATE
  DUDORE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  DUDORE_PEER_ARCHIVES="${PROJECT_SOURCE_DIR}/tests/data/peer-archives"
  DUDORE_MKSFX="$<TARGET_FILE:mksfx>")
# Every test has a time limit: a hang fails that test, by name, instead of the whole run.
gtest_discover_tests(native_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 ENVIRONMENT "TMPDIR=${CMAKE_BINARY_DIR}/tmp")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/tmp)

# Archives of every legacy method for the end-to-end tests, from the test encoders.
add_executable(e2e_every_method tests/e2e/every_method.cpp)
# Someone else writing into the destination while the stub extracts and cleans up.
add_executable(e2e_neighbour tests/e2e/neighbour.c)

# Fuzz targets: libFuzzer, clang only.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # The library again, instrumented for coverage so the fuzzer sees inside it.
  add_library(dudore_portable_fuzz STATIC ${DUDORE_PORTABLE_SOURCES})
  target_include_directories(dudore_portable_fuzz PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(dudore_portable_fuzz PRIVATE -fsanitize=fuzzer-no-link)
  file(GLOB DUDORE_FUZZ_SOURCES CONFIGURE_DEPENDS fuzz/fuzz_*.cpp)
  foreach(source ${DUDORE_FUZZ_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE dudore_portable_fuzz)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()

if(DUDORE_BENCH AND EXISTS ${PROJECT_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
