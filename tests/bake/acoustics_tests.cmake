# Unit tests of the acoustic transfer stage: one GoogleTest program over tonwell_acoustics (and
# the program's dense matrix reader, to read back the files it writes).
set(TONWELL_ACOUSTICS_TEST_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/bem_gmres_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bem_hmatrix_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bem_near_field_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bem_solve_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/multipole_fit_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transfer_files_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transfer_stage_test.cpp)
add_executable(tonwell_acoustics_tests ${TONWELL_ACOUSTICS_TEST_SOURCES}
               ${PROJECT_SOURCE_DIR}/tests/support/temp_dir.cpp
               ${PROJECT_SOURCE_DIR}/tests/support/test_scene_selector.cpp)
target_include_directories(tonwell_acoustics_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(tonwell_acoustics_tests PRIVATE tonwell_acoustics tonwell_geometry GTest::gtest
                      GTest::gtest_main)
gtest_discover_tests(tonwell_acoustics_tests PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)
