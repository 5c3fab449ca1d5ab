# Finding text across lists and sorting songs: the logic in lbops (QtCore only, also
# used by the command-line tool), the dialogs and the results window in lbapp.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FindText.cpp ${CMAKE_CURRENT_LIST_DIR}/FindText.h
  ${CMAKE_CURRENT_LIST_DIR}/SortOrder.cpp ${CMAKE_CURRENT_LIST_DIR}/SortOrder.h)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/NewFindText.cpp ${CMAKE_CURRENT_LIST_DIR}/NewFindText.h
  ${CMAKE_CURRENT_LIST_DIR}/_NewFindTextForm.cpp ${CMAKE_CURRENT_LIST_DIR}/_NewFindTextForm.h
  ${CMAKE_CURRENT_LIST_DIR}/NewSortDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/NewSortDlg.h)
