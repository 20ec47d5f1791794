# The baker's acoustic transfer stage: exterior Helmholtz boundary elements, the multipole fit
# and the transfer files, as a static library the baker links.
find_package(Eigen3 3.3 REQUIRED NO_MODULE)
find_package(Threads REQUIRED)
# Hierarchical matrices for the large boundary element solves (bem_hmatrix.cpp).
find_package(HMAT REQUIRED)

set(TONWELL_ACOUSTICS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TONWELL_ACOUSTICS_SOURCES
    ${TONWELL_ACOUSTICS_DIR}/bem_element_rows.cpp
    ${TONWELL_ACOUSTICS_DIR}/bem_gmres.cpp
    ${TONWELL_ACOUSTICS_DIR}/bem_hmatrix.cpp
    ${TONWELL_ACOUSTICS_DIR}/bem_matrix_entries.cpp
    ${TONWELL_ACOUSTICS_DIR}/bem_near_field.cpp
    ${TONWELL_ACOUSTICS_DIR}/bem_quadrature.cpp
    ${TONWELL_ACOUSTICS_DIR}/bem_solve.cpp
    ${TONWELL_ACOUSTICS_DIR}/bem_surface.cpp
    ${TONWELL_ACOUSTICS_DIR}/multipole_basis.cpp
    ${TONWELL_ACOUSTICS_DIR}/multipole_fit.cpp
    ${TONWELL_ACOUSTICS_DIR}/parallel_for.cpp
    ${TONWELL_ACOUSTICS_DIR}/transfer_files.cpp
    ${TONWELL_ACOUSTICS_DIR}/transfer_stage.cpp)
add_library(tonwell_acoustics STATIC ${TONWELL_ACOUSTICS_SOURCES})
target_include_directories(tonwell_acoustics PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tonwell_acoustics PUBLIC Eigen3::Eigen Threads::Threads HMAT::hmat blas)
# Eigen's dense products go to the system BLAS (OpenBLAS on Debian, single-threaded: the baker's
# parallelism is its worker processes): the matrix products of the eigen slices' Rayleigh-Ritz
# step, the boundary element matrix-vector products and the multipole fit's correlations run
# several times faster than Eigen's own kernels in the baseline (SSE2) build.
target_compile_definitions(tonwell_acoustics PUBLIC EIGEN_USE_BLAS)
# The vectorised rows pass four-double lanes between always-inlined helpers; GCC warns that such a
# call would change the ABI without AVX, which never happens here.
set_source_files_properties(${TONWELL_ACOUSTICS_DIR}/bem_element_rows.cpp PROPERTIES COMPILE_OPTIONS
                            -Wno-psabi)
