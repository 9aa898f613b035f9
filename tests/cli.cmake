# quillmark-print: its command line and its run against the fake word processor (unit), the real program
# into the private print server and the installation into a temporary home (system).
quillmark_add_qtest(print_cli_test LABELS unit SOURCES unit/print_cli_test.cpp LIBS print_cli print_fake)
quillmark_add_qtest(print_cli_batch_test LABELS unit SOURCES unit/print_cli_batch_test.cpp
                    LIBS print_cli print_fake platform)
if(NOT WIN32) # links, and lists written with '/'
    quillmark_add_qtest(print_cli_records_test LABELS unit SOURCES unit/print_cli_records_test.cpp
                        LIBS print_cli print_fake platform)
endif()

find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND TARGET quillmark-print AND NOT WIN32)
    # A file system without hard links, for the program under test (preloaded).
    add_library(test_nohardlinks SHARED system/nohardlinks.cpp)
    add_test(NAME print_cli_system
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/system/print_cli_system.py
                $<TARGET_FILE:quillmark-print> ${PROJECT_SOURCE_DIR}
                $<$<TARGET_EXISTS:print_docmaker_tool>:$<TARGET_FILE:print_docmaker_tool>>
                $<TARGET_FILE:test_nohardlinks>)
    set_tests_properties(print_cli_system PROPERTIES LABELS system TIMEOUT 600 SKIP_RETURN_CODE 77)
endif()

if(Python3_Interpreter_FOUND AND TARGET quillmark_icons)
    add_test(NAME install_system
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/system/install_system.py
                ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
    set_tests_properties(install_system PROPERTIES LABELS system TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
