# Checking lists, replacing paths and the forgotten-files search: the logic in lbops
# (QtCore only), the dialogs in lbapp.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CheckList.cpp ${CMAKE_CURRENT_LIST_DIR}/CheckList.h
  ${CMAKE_CURRENT_LIST_DIR}/ReplacePaths.cpp ${CMAKE_CURRENT_LIST_DIR}/ReplacePaths.h)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ReplacePathsDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/ReplacePathsDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/ForgottenFilesDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/ForgottenFilesDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/SearchFolderList.cpp ${CMAKE_CURRENT_LIST_DIR}/SearchFolderList.h)
# Finding where the missing songs of a list went: the search in lbops, its review
# dialog in lbapp.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Relink.cpp ${CMAKE_CURRENT_LIST_DIR}/Relink.h)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/RelinkDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/RelinkDialog.h)
