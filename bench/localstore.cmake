# The local-store benchmark (not part of the test suite): localstore_bench [RECORDS].
if(NOT TARGET localstore_bench)
  add_executable(localstore_bench ${CMAKE_CURRENT_LIST_DIR}/localstore_bench.cpp)
  target_link_libraries(localstore_bench PRIVATE orvelle_files orvelle_ldap)
  target_compile_definitions(localstore_bench PRIVATE
    BENCH_SOURCE_DIR="${CMAKE_CURRENT_LIST_DIR}/..")
endif()
