# The list repository: its logic (rows, settings keys, windows through their interface,
# folder scan) and its list view.
target_sources(lbops PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Repository.cpp ${CMAKE_CURRENT_LIST_DIR}/Repository.h)
target_sources(lbapp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/RepositoryView.cpp ${CMAKE_CURRENT_LIST_DIR}/RepositoryView.h)
