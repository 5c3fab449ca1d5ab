# The Qt implementation of the user-interface seam and the progress windows.
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/QtUiServices.cpp ${CMAKE_CURRENT_LIST_DIR}/QtUiServices.h
  ${CMAKE_CURRENT_LIST_DIR}/InfoWindow.cpp ${CMAKE_CURRENT_LIST_DIR}/InfoWindow.h
  ${CMAKE_CURRENT_LIST_DIR}/_InfoWindow1.cpp ${CMAKE_CURRENT_LIST_DIR}/_InfoWindow1.h)
