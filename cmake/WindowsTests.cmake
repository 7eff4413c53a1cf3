# Windows tests, run under Wine: GoogleTest suites, the UI driver, end-to-end scripts.
# Both builds register them; the 32-bit build runs them against the shipped stub. One
# prefix serves both builds: Wine's loader runs 32-bit and 64-bit images from it.
set(DUDORE_WINE_PREFIX ${PROJECT_SOURCE_DIR}/build/wineprefix CACHE PATH "Wine prefix of the Windows tests")
configure_file(cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The prefix is made once per build directory, before any test runs in it.
add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${DUDORE_WINE_PREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)

file(GLOB DUDORE_WIN_TESTS CONFIGURE_DEPENDS tests/win/*.cpp)
add_executable(win_tests ${DUDORE_WIN_TESTS})
target_link_libraries(win_tests PRIVATE dudore_stub_code gtest_main ${DUDORE_SYSTEM_LIBS})
target_include_directories(win_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/win)
target_link_options(win_tests PRIVATE -static)
target_compile_definitions(win_tests PRIVATE DUDORE_STUB_NAME="${DUDORE_STUB}.exe")
# The tests load strings and dialogs from the stub image itself.
add_dependencies(win_tests ${DUDORE_STUB})

include(GoogleTest)
# Every test has a time limit: a dialog nobody answers fails its test, by name, instead of
# holding the whole run.
gtest_discover_tests(win_tests DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST
  PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)

# The double-byte cases again, in a Japanese session (code page 932).
add_test(NAME win_tests.japanese
  COMMAND env LC_ALL=ja_JP.UTF-8 DUDORE_EXPECT_CP932=1 ${CMAKE_BINARY_DIR}/wine-run
          ${CMAKE_BINARY_DIR}/win_tests.exe --gtest_filter=*Dbcs*:*Japanese*)
set_tests_properties(win_tests.japanese PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)

file(GLOB DUDORE_DRIVER_SOURCES CONFIGURE_DEPENDS tests/win/driver/*.cpp)
add_executable(uidriver ${DUDORE_DRIVER_SOURCES})
target_link_options(uidriver PRIVATE -static -municode)
target_compile_options(uidriver PRIVATE -municode)
target_link_libraries(uidriver PRIVATE user32 kernel32)

# Exits with its pointer width in bits: run before the tests, it tells whether this
# machine runs the build's images at all.
add_executable(bits_probe tests/win/bits_probe.c)
target_link_options(bits_probe PRIVATE -static -s)

# A stand-in for a setup program: the command that the end-to-end scripts run after extraction.
add_executable(fake_setup WIN32 tests/win/fake_setup/fake_setup.cpp)
target_link_options(fake_setup PRIVATE -static -s)

# End-to-end scripts: each builds self-extracting files with the native mksfx and runs
# them under Wine. They need the native build (DUDORE_NATIVE_BUILD) for mksfx.
set(DUDORE_NATIVE_BUILD ${PROJECT_SOURCE_DIR}/build/native CACHE PATH "Native build directory (for mksfx)")
# The 64-bit stub runs every script too, but where CI time is short (`ctest -LE
# e2e-full`) only those where its image differs: pointer size in the decoders, the PE
# layout and block, the command run and the clean-up.
set(DUDORE_E2E_64_CORE test_every_method test_self_check test_startup test_run_command test_folder_macros
  test_extract_tree)
file(GLOB DUDORE_E2E_TESTS CONFIGURE_DEPENDS tests/e2e/test_*.sh)
foreach(script ${DUDORE_E2E_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME e2e.${name} COMMAND bash ${script})
  if(DUDORE_BITS EQUAL 64 AND NOT name IN_LIST DUDORE_E2E_64_CORE)
    set_tests_properties(e2e.${name} PROPERTIES LABELS e2e-full)
  endif()
  set_tests_properties(e2e.${name} PROPERTIES
    FIXTURES_REQUIRED wine
    RESOURCE_LOCK wineprefix_gui
    TIMEOUT 900
    ENVIRONMENT "DUDORE_BUILD=${CMAKE_BINARY_DIR};DUDORE_SOURCE=${PROJECT_SOURCE_DIR};DUDORE_MKSFX=${DUDORE_NATIVE_BUILD}/mksfx;DUDORE_NATIVE_BUILD=${DUDORE_NATIVE_BUILD};DUDORE_STUB=${CMAKE_BINARY_DIR}/${DUDORE_STUB}.exe;DUDORE_DRIVER=${CMAKE_BINARY_DIR}/uidriver.exe;DUDORE_WINE=${CMAKE_BINARY_DIR}/wine-run")
endforeach()

# Shows one dialog template of the stub, for the pictures of scripts/render-dialogs.sh.
add_executable(render_dialogs tests/win/render/render_dialogs.cpp)
target_link_options(render_dialogs PRIVATE -static)
target_link_libraries(render_dialogs PRIVATE comctl32 shell32 user32 gdi32 kernel32)
