# Column images and the default column set of a list window, the window's last change
# that can be undone (QtCore only).
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SongColumns.cpp ${CMAKE_CURRENT_LIST_DIR}/SongColumns.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowUndo.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowUndo.h)
# The Qt implementation of the user-interface seam and the progress windows.
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/QtUiServices.cpp ${CMAKE_CURRENT_LIST_DIR}/QtUiServices.h
  ${CMAKE_CURRENT_LIST_DIR}/InfoWindow.cpp ${CMAKE_CURRENT_LIST_DIR}/InfoWindow.h
  ${CMAKE_CURRENT_LIST_DIR}/WorkerDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/WorkerDialog.h)
# The guide with its help topics, the program's identity (name, icon, Qt's Russian
# texts).
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Help.cpp ${CMAKE_CURRENT_LIST_DIR}/Help.h
  ${CMAKE_CURRENT_LIST_DIR}/Application.cpp ${CMAKE_CURRENT_LIST_DIR}/Application.h)
qt_add_resources(lbapp lbicons PREFIX /icons BASE ${CMAKE_SOURCE_DIR}/packaging/icons FILES
  ${CMAKE_SOURCE_DIR}/packaging/icons/lbtools-16.png ${CMAKE_SOURCE_DIR}/packaging/icons/lbtools-22.png
  ${CMAKE_SOURCE_DIR}/packaging/icons/lbtools-32.png ${CMAKE_SOURCE_DIR}/packaging/icons/lbtools-48.png
  ${CMAKE_SOURCE_DIR}/packaging/icons/lbtools-64.png ${CMAKE_SOURCE_DIR}/packaging/icons/lbtools-128.png
  ${CMAKE_SOURCE_DIR}/packaging/icons/lbtools-256.png)
# Captions of narrow column headers (the list windows, the repository view) and the
# dialogs' row of "Да" and "Отмена".
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/HeaderCaption.cpp ${CMAKE_CURRENT_LIST_DIR}/HeaderCaption.h
  ${CMAKE_CURRENT_LIST_DIR}/DialogButtons.cpp ${CMAKE_CURRENT_LIST_DIR}/DialogButtons.h)
