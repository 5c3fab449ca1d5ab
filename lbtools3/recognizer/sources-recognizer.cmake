# Filling tags from a music disc through the registered extracters: the logic in lbops
# (QtCore only, also used by the command-line tool), the dialog in lbapp.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Recognizer.cpp ${CMAKE_CURRENT_LIST_DIR}/Recognizer.h)
target_link_libraries(lbops PUBLIC lbextracterclient)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/RecognizerDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/RecognizerDialog.h)
