# The stand-in word processor (an out-of-process COM server in plain Win32) and the tests that drive the
# Windows client through it under Wine. Each test registers it as "Word.Application" in the prefix, so they
# never run at the same time (resource lock word-standin).
set(_standin ${CMAKE_CURRENT_LIST_DIR})

set(_objects ${_standin}/wordstandin/standin.h ${_standin}/wordstandin/object.h ${_standin}/wordstandin/objects.cpp
             ${_standin}/wordstandin/document.cpp
             ${_standin}/wordstandin/support.cpp)
add_executable(wordstandin ${_standin}/wordstandin/server.cpp ${_objects})
target_link_libraries(wordstandin PRIVATE ole32 oleaut32 uuid advapi32)
# Nothing to find at run time: the server runs wherever a test puts it.
target_link_options(wordstandin PRIVATE -static)
# The same objects served inside the client's process (registered with "inproc").
add_library(wordstandin_inproc SHARED ${_standin}/wordstandin/inproc.cpp ${_objects})
set_target_properties(wordstandin_inproc PROPERTIES OUTPUT_NAME wordstandin PREFIX "")
target_link_libraries(wordstandin_inproc PRIVATE ole32 oleaut32 uuid advapi32)
target_link_options(wordstandin_inproc PRIVATE -static -Wl,--kill-at)

if(NOT QUILLMARK_CORE_ONLY)
    add_library(standinlog STATIC ${_standin}/standinlog.h ${_standin}/standinlog.cpp)
    target_include_directories(standinlog PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(standinlog PUBLIC Qt5::Core advapi32)

    # Run in a prefix of its own (standin-qtest.sh), not the tier's: see there why.
    add_executable(windows_axclient_test ${_standin}/windows_axclient_test.cpp)
    target_link_libraries(windows_axclient_test PRIVATE print_native standinlog Qt5::Test)
    add_dependencies(windows_axclient_test wordstandin wordstandin_inproc)
    add_test(NAME windows_axclient_test
        COMMAND ${_standin}/standin-qtest.sh ${CMAKE_BINARY_DIR}/standin-prefix
                $<TARGET_FILE:windows_axclient_test>)
    # Alone: its cases run on short watchdog bounds (a 2 s stall), which other Wine programs on the two
    # cores would bring close.
    set_tests_properties(windows_axclient_test PROPERTIES LABELS windows TIMEOUT 400
                         PASS_REGULAR_EXPRESSION "Totals: [0-9]+ passed, 0 failed"
                         ENVIRONMENT "${QUILLMARK_TEST_ENV}" RESOURCE_LOCK word-standin RUN_SERIAL TRUE)
endif()

# Notepad's stand-in for the whole-program tests: records what it was asked to show.
add_executable(windows_recordingviewer WIN32 ${_standin}/recordingviewer.cpp)
target_link_options(windows_recordingviewer PRIVATE -static -municode)

# The package's print path through real COM: a run through the window, quitting while Open hangs, and
# quillmark-print.exe, all against the stand-in (Xvfb, tray host, a fresh prefix of its own).
if(NOT QUILLMARK_CORE_ONLY AND QUILLMARK_WINDOWS_PACKAGE)
    add_test(NAME windows_print_e2e
        COMMAND ${Python3_EXECUTABLE} ${_standin}/windows_print_e2e.py ${QUILLMARK_WINDOWS_PACKAGE}
                $<TARGET_FILE:wordstandin> $<TARGET_FILE:windows_recordingviewer>
                $<TARGET_FILE:windows_wininfo> ${CMAKE_BINARY_DIR}/screenshots ${CMAKE_BINARY_DIR}/e2e)
    set_tests_properties(windows_print_e2e PROPERTIES LABELS windows TIMEOUT 600 SKIP_RETURN_CODE 77
                         RESOURCE_LOCK wine_desktop)
endif()
