# The tags editor: what it writes and the batch and undo runs in lbops (QtCore only,
# also used by the command-line tool), the dialog in lbapp.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/TagsEdit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TagsApply.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Covers.cpp)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/TagsEditorDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CoverView.cpp)
