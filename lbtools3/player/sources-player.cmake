# The player control and its binding to Audacious (logic only, QtCore and QtDBus).
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/PlayerBinding.h ${CMAKE_CURRENT_LIST_DIR}/PlayerListWindow.h
  ${CMAKE_CURRENT_LIST_DIR}/AudaciousBinding.cpp ${CMAKE_CURRENT_LIST_DIR}/AudaciousBinding.h
  ${CMAKE_CURRENT_LIST_DIR}/PlayerControl.cpp ${CMAKE_CURRENT_LIST_DIR}/PlayerControl.h)
