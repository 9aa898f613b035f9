# Application shell: the form, the window, the tray icon and the print hand-off (offscreen), and the
# desktop end-to-end test of the real program under Xvfb.
quillmark_add_qtest(app_form_test LABELS gui SOURCES gui/app_form_test.cpp LIBS app update_endpoints)
set_target_properties(app_form_test PROPERTIES AUTOUIC_SEARCH_PATHS ${PROJECT_SOURCE_DIR}/app)

quillmark_add_qtest(app_window_test LABELS gui SOURCES gui/app_window_test.cpp LIBS app update_endpoints)

quillmark_add_qtest(app_handoff_test LABELS gui SOURCES gui/app_handoff_test.cpp LIBS app update_endpoints print_fake)

# The real program on a desktop of its own (Xvfb, trayer), driven with xdotool, with one whole print run
# through the real folder dialog, LibreOffice and the private print server; screenshots go to
# build/screenshots/.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND NOT WIN32)
    add_test(NAME app_desktop_e2e
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/system/app_desktop_e2e.py
                $<TARGET_FILE:Quillmark> ${CMAKE_BINARY_DIR}/screenshots
                --print-run ${PROJECT_SOURCE_DIR}/scripts)
    set_tests_properties(app_desktop_e2e PROPERTIES LABELS system TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()

# The window's end during an update check (a slow download against a loopback server): in the unit tier,
# so that it also runs under the sanitizers.
# Full stacks let the leak checker tell the offscreen plugin's own screen from ours.
quillmark_add_qtest(app_shutdown_test LABELS unit
    SOURCES unit/app_shutdown_test.cpp unit/update_loopback_server.cpp LIBS app update_endpoints update_core
    ENV "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan-offscreen.supp:fast_unwind_on_malloc=0")
