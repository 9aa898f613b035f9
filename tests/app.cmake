# Application shell: the form, the window, the tray icon and the print hand-off (offscreen), and the
# desktop end-to-end test of the real program under Xvfb.
quillmark_add_qtest(app_form_test LABELS gui SOURCES gui/app_form_test.cpp LIBS app)
set_target_properties(app_form_test PROPERTIES AUTOUIC_SEARCH_PATHS ${PROJECT_SOURCE_DIR}/app)

quillmark_add_qtest(app_window_test LABELS gui SOURCES gui/app_window_test.cpp LIBS app)

quillmark_add_qtest(app_handoff_test LABELS gui SOURCES gui/app_handoff_test.cpp LIBS app print_fake)
