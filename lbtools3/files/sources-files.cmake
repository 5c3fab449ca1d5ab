# Renaming files by their tags, copying and moving them into a folder scheme: the
# logic in lbops (QtCore only), the dialogs in lbapp.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FileNames.cpp ${CMAKE_CURRENT_LIST_DIR}/FileNames.h
  ${CMAKE_CURRENT_LIST_DIR}/FileOperation.cpp ${CMAKE_CURRENT_LIST_DIR}/FileOperation.h
  ${CMAKE_CURRENT_LIST_DIR}/RenameFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/RenameFiles.h
  ${CMAKE_CURRENT_LIST_DIR}/CopyMoveFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/CopyMoveFiles.h
  ${CMAKE_CURRENT_LIST_DIR}/ListPaths.cpp ${CMAKE_CURRENT_LIST_DIR}/ListPaths.h)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FileErrorDialogs.cpp ${CMAKE_CURRENT_LIST_DIR}/FileErrorDialogs.h
  ${CMAKE_CURRENT_LIST_DIR}/NewRenameFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/NewRenameFiles.h
  ${CMAKE_CURRENT_LIST_DIR}/_CopyMoveFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/_CopyMoveFiles.h)
