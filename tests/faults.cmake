# The peer process of the fault-injection tests, and where those tests find it.
add_executable(fault_peer ${CMAKE_CURRENT_SOURCE_DIR}/helpers/fault_peer.cpp)
target_link_libraries(fault_peer PRIVATE zephio_warnings ZephIO)
target_include_directories(fault_peer PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/examples)

foreach(suite faults_kill_test faults_storm_test faults_channel_states_test)
  if(TARGET ${suite})
    add_dependencies(${suite} fault_peer)
    target_include_directories(${suite} PRIVATE ${PROJECT_SOURCE_DIR}/examples)
    target_compile_definitions(${suite} PRIVATE FAULT_PEER_PATH="$<TARGET_FILE:fault_peer>")
  endif()
endforeach()
