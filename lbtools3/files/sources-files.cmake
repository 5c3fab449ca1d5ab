# Renaming files by their tags, copying and moving them into a folder scheme: the
# logic in lbops (QtCore only), the dialogs in lbapp.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FileNames.cpp ${CMAKE_CURRENT_LIST_DIR}/FileNames.h
  ${CMAKE_CURRENT_LIST_DIR}/FileOperation.cpp ${CMAKE_CURRENT_LIST_DIR}/FileOperation.h
  ${CMAKE_CURRENT_LIST_DIR}/Rename.cpp ${CMAKE_CURRENT_LIST_DIR}/Rename.h
  ${CMAKE_CURRENT_LIST_DIR}/RenameUndo.cpp ${CMAKE_CURRENT_LIST_DIR}/RenameUndo.h
  ${CMAKE_CURRENT_LIST_DIR}/CopyMove.cpp ${CMAKE_CURRENT_LIST_DIR}/CopyMove.h
  ${CMAKE_CURRENT_LIST_DIR}/ListPaths.cpp ${CMAKE_CURRENT_LIST_DIR}/ListPaths.h
  ${CMAKE_CURRENT_LIST_DIR}/SongFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/SongFiles.h)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FileErrorDialogs.cpp ${CMAKE_CURRENT_LIST_DIR}/FileErrorDialogs.h
  ${CMAKE_CURRENT_LIST_DIR}/RenameDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/RenameDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/CopyMoveDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/CopyMoveDialog.h)
