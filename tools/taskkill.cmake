# Linux stand-in for the Windows "taskkill" the updater runs in restart mode;
# the updater finds it beside itself in build/bin.
add_executable(taskkill ${CMAKE_CURRENT_LIST_DIR}/taskkill.cpp)
