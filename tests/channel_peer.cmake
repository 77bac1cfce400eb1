# The peer process of channel_fifo_test.
add_executable(channel_peer ${CMAKE_CURRENT_SOURCE_DIR}/helpers/channel_peer.cpp)
target_link_libraries(channel_peer PRIVATE zephio_warnings ZephIO)
target_include_directories(channel_peer PRIVATE ${PROJECT_SOURCE_DIR}/examples)
if(TARGET channel_fifo_test)
  target_include_directories(channel_fifo_test PRIVATE ${PROJECT_SOURCE_DIR}/examples)
  target_compile_definitions(channel_fifo_test PRIVATE CHANNEL_PEER_PATH="$<TARGET_FILE:channel_peer>")
  add_dependencies(channel_fifo_test channel_peer)
endif()
