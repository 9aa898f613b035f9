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

# The whole program under Wine (scripts/test-windows.sh): what Windows knows of a window, for the
# desktop tests' checks.
if(NOT QUILLMARK_CORE_ONLY)

    add_executable(windows_wininfo ${_win}/wininfo.cpp)
    target_link_options(windows_wininfo PRIVATE -static) # runs in a prefix that has no build DLLs

    # The package of scripts/package-windows.sh, unpacked into a fresh prefix and started from there.
    set(QUILLMARK_WINDOWS_PACKAGE ${PROJECT_SOURCE_DIR}/dist/Quillmark-${PROJECT_VERSION}-win32.zip)
    find_package(Python3 COMPONENTS Interpreter)
    add_test(NAME windows_desktop_e2e
        COMMAND ${Python3_EXECUTABLE} ${_win}/windows_desktop_e2e.py ${QUILLMARK_WINDOWS_PACKAGE}
                $<TARGET_FILE:windows_wininfo> ${CMAKE_BINARY_DIR}/screenshots ${CMAKE_BINARY_DIR}/e2e)
    set_tests_properties(windows_desktop_e2e PROPERTIES LABELS windows TIMEOUT 600 SKIP_RETURN_CODE 77
                         RESOURCE_LOCK wine_desktop)

    # The self-update against a loopback release server (port 80 of 127.0.83.1).
    add_test(NAME windows_update_e2e
        COMMAND ${Python3_EXECUTABLE} ${_win}/windows_update_e2e.py ${QUILLMARK_WINDOWS_PACKAGE}
                $<TARGET_FILE:QuillmarkLoopbackSigned> $<TARGET_FILE:quillmark_release>
                ${CMAKE_CURRENT_SOURCE_DIR}/system/update_test_release_key.pem ${QUILLMARK_TEST_PROGRAM_RELEASE}
                ${QUILLMARK_WINDOWS_SDK} $<TARGET_FILE:windows_wininfo> ${CMAKE_BINARY_DIR}/screenshots
                ${CMAKE_BINARY_DIR}/e2e)
    set_tests_properties(windows_update_e2e PROPERTIES LABELS windows TIMEOUT 600 SKIP_RETURN_CODE 77)

    # The installer of scripts/package-windows.sh in a fresh prefix: an older one built for the upgrade,
    # install, Run key, the self-update's leftovers, upgrade, Start menu, the folder menu on stand-in
    # documents, removal. The helper does what Explorer and a user do with shortcuts, commands and a box.
    add_executable(windows_shellhelper ${_win}/shellhelper.cpp)
    target_link_libraries(windows_shellhelper PRIVATE ole32 shell32 uuid)
    target_link_options(windows_shellhelper PRIVATE -static)
    add_test(NAME windows_msi_e2e
        COMMAND ${Python3_EXECUTABLE} ${_win}/windows_msi_e2e.py
                ${PROJECT_SOURCE_DIR}/dist/Quillmark-${PROJECT_VERSION}.${QUILLMARK_RELEASE}-win32.msi
                ${CMAKE_BINARY_DIR} ${QUILLMARK_RELEASE} $<TARGET_FILE:wordstandin> $<TARGET_FILE:windows_shellhelper>
                $<TARGET_FILE:windows_wininfo> ${CMAKE_BINARY_DIR}/screenshots ${CMAKE_BINARY_DIR}/e2e)
    set_tests_properties(windows_msi_e2e PROPERTIES LABELS windows TIMEOUT 600 SKIP_RETURN_CODE 77
                         RESOURCE_LOCK wine_desktop)
endif()

# stand-in COM server tests (i14b)
include(${CMAKE_CURRENT_SOURCE_DIR}/windows/standin.cmake)
