# The baker's acoustic transfer stage: exterior Helmholtz boundary elements, the multipole fit
# and the transfer files, as a static library the baker links.
find_package(Eigen3 3.3 REQUIRED NO_MODULE)
find_package(Threads REQUIRED)
# Hierarchical matrices for the large boundary element solves (bem_hmatrix.cpp).
find_package(HMAT REQUIRED)

set(TONWELL_ACOUSTICS_DIR ${CMAKE_CURRENT_LIST_DIR})
file(GLOB TONWELL_ACOUSTICS_SOURCES CONFIGURE_DEPENDS
     ${TONWELL_ACOUSTICS_DIR}/bem_*.cpp
     ${TONWELL_ACOUSTICS_DIR}/multipole_*.cpp
     ${TONWELL_ACOUSTICS_DIR}/transfer_*.cpp)
add_library(tonwell_acoustics STATIC ${TONWELL_ACOUSTICS_SOURCES})
target_include_directories(tonwell_acoustics PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tonwell_acoustics PUBLIC Eigen3::Eigen Threads::Threads HMAT::hmat)
