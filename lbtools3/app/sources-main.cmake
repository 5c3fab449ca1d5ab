# Start-up, the main window and its dialogs.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/StartUp.cpp ${CMAKE_CURRENT_LIST_DIR}/StartUp.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowLayout.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowLayout.h)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Main.cpp ${CMAKE_CURRENT_LIST_DIR}/Main.h
  ${CMAKE_CURRENT_LIST_DIR}/MainDocuments.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainMaintenance.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/About.cpp ${CMAKE_CURRENT_LIST_DIR}/About.h)
target_compile_definitions(lbapp PRIVATE LB_VERSION="${PROJECT_VERSION}.0.0")
# The user's guide lies beside the program.
configure_file(${CMAKE_SOURCE_DIR}/packaging/help/lbhelp.html ${CMAKE_BINARY_DIR}/bin/lbhelp.html COPYONLY)
# The main window's side of the player control.
target_sources(lbapp PRIVATE ${CMAKE_CURRENT_LIST_DIR}/MainPlayer.cpp)
# The main window's side of the recognizer.
target_sources(lbapp PRIVATE ${CMAKE_CURRENT_LIST_DIR}/MainRecognizer.cpp)
