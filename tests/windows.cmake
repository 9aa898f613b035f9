# Windows-only tests: real Win32 calls on a Windows file system and processes, run under Wine in the
# cross build (scripts/test-windows.sh). The portable core tests join the same tier on their own.
if(NOT WIN32)
    return()
endif()

set(_win ${CMAKE_CURRENT_SOURCE_DIR}/windows)

add_library(wintest STATIC ${_win}/wintest.cpp)
target_include_directories(wintest PUBLIC ${PROJECT_SOURCE_DIR})

# Small programs that the tests start; they sit beside the test programs.
add_executable(windows_guard_child ${_win}/guard_child.cpp)
add_executable(windows_launch_child ${_win}/launch_child.cpp)

quillmark_add_gtest(windows_paths_test LABELS windows
    SOURCES ${_win}/windows_paths_test.cpp LIBS support platform wintest)

quillmark_add_gtest(windows_process_test LABELS windows
    SOURCES ${_win}/windows_process_test.cpp LIBS platform wintest)
add_dependencies(windows_process_test windows_guard_child)

quillmark_add_gtest(windows_launch_test LABELS windows
    SOURCES ${_win}/windows_launch_test.cpp LIBS platform wintest)
add_dependencies(windows_launch_test windows_launch_child)

quillmark_add_gtest(windows_download_test LABELS windows
    SOURCES ${_win}/windows_download_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/unit/update_loopback_server.cpp
    LIBS platform_download platform wintest)
target_include_directories(windows_download_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/unit)

quillmark_add_gtest(windows_httppost_test LABELS windows
    SOURCES ${_win}/windows_httppost_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/unit/update_loopback_server.cpp
    LIBS update_http platform)
target_include_directories(windows_httppost_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/unit)

add_executable(windows_startpaths_child ${_win}/startpaths_child.cpp)
target_link_libraries(windows_startpaths_child PRIVATE support platform)
quillmark_add_gtest(windows_startpaths_test LABELS windows
    SOURCES ${_win}/windows_startpaths_test.cpp LIBS wintest)
add_dependencies(windows_startpaths_test windows_startpaths_child)

quillmark_add_gtest(windows_swap_test LABELS windows
    SOURCES ${_win}/windows_swap_test.cpp LIBS update_swap platform wintest)
add_dependencies(windows_swap_test windows_guard_child windows_launch_child)

# stand-in COM server tests (i14b)
include(${CMAKE_CURRENT_SOURCE_DIR}/windows/standin.cmake)
