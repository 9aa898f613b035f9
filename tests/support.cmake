# Support library: text utilities, settings file, existence tests, start paths.
quillmark_add_gtest(support_test LABELS unit
    SOURCES unit/support_textutil_test.cpp unit/support_keyfile_test.cpp unit/support_direxists_test.cpp
            unit/support_startpaths_test.cpp
    LIBS support)
