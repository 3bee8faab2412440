# The Wine prefix of a test run, as a ctest fixture: wine.prefix.start boots a
# fresh prefix before the first test that needs it (FIXTURES_REQUIRED
# wineprefix), wine.prefix.stop stops its wineserver and removes it after the
# last. Included by every test directory that runs Windows builds.
find_package(Python3 COMPONENTS Interpreter REQUIRED)

set(QM_WINDOWS_X86_DIR ${CMAKE_SOURCE_DIR}/build/windows-x86 CACHE PATH
    "Build directory of the 32-bit Windows build (the windows-x86 preset)")
set(QM_WINDOWS_X64_DIR ${CMAKE_SOURCE_DIR}/build/windows-x64 CACHE PATH
    "Build directory of the 64-bit Windows build (the windows-x64 preset)")
set(QM_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(QM_WINERUN ${CMAKE_SOURCE_DIR}/tests/wine/winerun.py)
# What a test under Wine returns when Wine or the .exe is not there.
set(QM_SKIP_CODE 77)

get_property(defined GLOBAL PROPERTY QM_WINE_FIXTURE_DEFINED)
if(defined)
  return()
endif()
set_property(GLOBAL PROPERTY QM_WINE_FIXTURE_DEFINED TRUE)

add_test(NAME wine.prefix.start COMMAND ${Python3_EXECUTABLE} ${QM_WINERUN} start ${QM_WINE_PREFIX})
set_tests_properties(wine.prefix.start PROPERTIES FIXTURES_SETUP wineprefix LABELS "wine"
                     TIMEOUT 600)
add_test(NAME wine.prefix.stop COMMAND ${Python3_EXECUTABLE} ${QM_WINERUN} stop ${QM_WINE_PREFIX})
set_tests_properties(wine.prefix.stop PROPERTIES FIXTURES_CLEANUP wineprefix LABELS "wine")
