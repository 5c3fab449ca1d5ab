# Finding text across lists and sorting songs: the logic in lbops (QtCore only, also
# used by the command-line tool), the dialogs and the results window in lbapp.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FindText.cpp ${CMAKE_CURRENT_LIST_DIR}/FindText.h
  ${CMAKE_CURRENT_LIST_DIR}/Sort.cpp ${CMAKE_CURRENT_LIST_DIR}/Sort.h)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FindDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/FindDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/FindResultsWindow.cpp ${CMAKE_CURRENT_LIST_DIR}/FindResultsWindow.h
  ${CMAKE_CURRENT_LIST_DIR}/SortDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/SortDialog.h)
