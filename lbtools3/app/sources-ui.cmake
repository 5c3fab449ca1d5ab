# The Qt implementation of the user-interface seam and the progress windows.
# (Add files with target_sources(lbapp PRIVATE ${CMAKE_CURRENT_LIST_DIR}/File.cpp).)
