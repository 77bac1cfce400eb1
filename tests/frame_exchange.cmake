# The main job, run end to end as a user would (examples/frame_exchange.cpp).
if(TARGET frame_exchange)
  foreach(case end-to-end bad-options peer-dies interrupted)
    add_test(NAME FrameExchange.${case}
      COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/frame_exchange_check.sh $<TARGET_FILE:frame_exchange> ${case})
    set_tests_properties(FrameExchange.${case} PROPERTIES TIMEOUT 120)
  endforeach()
endif()
