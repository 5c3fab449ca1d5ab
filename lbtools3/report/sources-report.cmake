# Writing lists as a text or HTML report: the writer in lbops (QtCore only), the
# dialog in lbapp.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Report.cpp ${CMAKE_CURRENT_LIST_DIR}/Report.h)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ReportDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/ReportDialog.h)
