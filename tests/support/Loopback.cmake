# Loopback sockets on ports of the system's choice: POSIX only, for tests and
# benchmarks of every layer. Included from tests/support, and by the
# benchmarks when the tests are not built.
add_library(pelicore_test_loopback STATIC ${CMAKE_CURRENT_LIST_DIR}/Loopback.cpp)
target_link_libraries(pelicore_test_loopback PRIVATE pelicore_warnings)
target_include_directories(pelicore_test_loopback PUBLIC ${PROJECT_SOURCE_DIR})
