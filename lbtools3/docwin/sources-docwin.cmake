# The document window and its list operations: the logic in lbops (QtCore only), the
# windows and dialogs in lbapp.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ListOps.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SyncThread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeleteFilesWorker.cpp)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ListView.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DocumentWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ColumnsDialog.cpp)
