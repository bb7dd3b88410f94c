# Cross-builds the same programs for 64-bit Windows with MinGW-w64, for machines that cannot
# start 32-bit programs (the win64 run).
set(mingw_triple x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
