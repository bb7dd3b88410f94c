# Cross-builds 32-bit Windows programs with MinGW-w64: the updater as it ships.
set(mingw_triple i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
