# Draws the icons again with scripts/make_icons.py and compares them with the committed ones, so the
# resources never drift from their generator. Run as: cmake -DPYTHON=... -DSRC=... -DOUT=... -P this
execute_process(COMMAND ${PYTHON} ${SRC}/scripts/make_icons.py ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make_icons.py failed (${rc})")
endif()
foreach(id 01 10 11 12 13 14 15 16 17 18 19 20 21)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/icon${id}.ico ${SRC}/plugin/wfx/res/icon${id}.ico
                  RESULT_VARIABLE same)
  if(NOT same EQUAL 0)
    message(FATAL_ERROR "icon${id}.ico differs from what scripts/make_icons.py draws; run it into plugin/wfx/res")
  endif()
endforeach()
