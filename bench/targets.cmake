# The directory benchmark driver and the delaying proxy that bench/run uses.
add_executable(delayproxy ${CMAKE_CURRENT_LIST_DIR}/delayproxy.cpp)
add_executable(orvelle_bench ${CMAKE_CURRENT_LIST_DIR}/orvelle_bench.cpp)
target_link_libraries(orvelle_bench PRIVATE orvelle_app)
target_compile_definitions(orvelle_bench PRIVATE
  BENCH_SOURCE_DIR="${CMAKE_CURRENT_LIST_DIR}/..")
