# Qt-free platform calls: files, own path, pauses, processes by name.
set(_platform_test_sources unit/platform_files_test.cpp unit/platform_moves_test.cpp
                            unit/platform_process_test.cpp unit/platform_safefiles_test.cpp
                            unit/platform_textfile_test.cpp unit/platform_comserver_test.cpp)
quillmark_add_gtest(platform_test LABELS unit SOURCES ${_platform_test_sources} LIBS platform)
if(NOT WIN32)
    # The process tests start copies of this program under names of their own.
    add_executable(platform_test_sleeper unit/platform_sleeper.cpp)
    add_dependencies(platform_test platform_test_sleeper)
    target_compile_definitions(platform_test PRIVATE QUILLMARK_SLEEPER="$<TARGET_FILE:platform_test_sleeper>")
endif()

if(NOT QUILLMARK_CORE_ONLY)
    if(NOT WIN32) # the locale's codec and raw file-name bytes: POSIX matters only
        quillmark_add_gtest(platform_codec_test LABELS unit SOURCES unit/platform_codec_test.cpp LIBS platform_qt
                            ENV "LC_ALL=C;LANG=C")
    endif()
    # A QGuiApplication on the offscreen platform: the gui tier.
    quillmark_add_gtest(platform_screen_test LABELS gui SOURCES gui/platform_screen_test.cpp LIBS platform_qt)
endif()
