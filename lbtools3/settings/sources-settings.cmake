# Settings: the keys and the dialog's rules (lbops), the settings dialog (lbapp).
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Settings.cpp ${CMAKE_CURRENT_LIST_DIR}/Settings.h)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SettingsDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/SettingsDialog.h)
