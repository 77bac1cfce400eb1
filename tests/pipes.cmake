# The peer process of the pipe tests, and where the pipe tests find it.
add_executable(pipes_peer ${CMAKE_CURRENT_SOURCE_DIR}/helpers/pipes_peer.cpp)
target_link_libraries(pipes_peer PRIVATE zephio_warnings ZephIO)
target_include_directories(pipes_peer PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

foreach(suite pipes_fifo_test pipes_eintr_test pipes_adapters_test)
  if(TARGET ${suite})
    add_dependencies(${suite} pipes_peer)
    target_compile_definitions(${suite} PRIVATE ZEPHTEST_PIPES_PEER="$<TARGET_FILE:pipes_peer>")
  endif()
endforeach()
