# Print run and discovery.

# The fake word processor: also used by the window's tests.
add_library(print_fake STATIC fakes/fakewordprocessor.h fakes/fakewordprocessor.cpp)
target_link_libraries(print_fake PUBLIC print)

# Both make POSIX file-system objects (pipes, links, unreadable folders, a file size limit).
if(UNIX)
    quillmark_add_qtest(print_discovery_test LABELS unit SOURCES unit/print_discovery_test.cpp LIBS print)
    quillmark_add_qtest(print_run_test LABELS unit SOURCES unit/print_run_test.cpp LIBS print print_fake)
endif()

# The thread that bounds every call of the LibreOffice client: plain C++, so it runs in the unit tier.
if(UNIX)
    find_package(Threads REQUIRED)
    quillmark_add_gtest(print_callthread_test LABELS unit
                        SOURCES unit/print_callthread_test.cpp ${PROJECT_SOURCE_DIR}/print/libreoffice/callthread.cpp
                        LIBS Threads::Threads)
    target_include_directories(print_callthread_test PRIVATE ${PROJECT_SOURCE_DIR})
    # The office's process handling, tried with ordinary programs.
    quillmark_add_gtest(print_officeprocess_test LABELS unit
                        SOURCES unit/print_officeprocess_test.cpp ${PROJECT_SOURCE_DIR}/print/libreoffice/officeprocess.cpp
                                ${PROJECT_SOURCE_DIR}/print/libreoffice/callthread.cpp
                        LIBS Threads::Threads)
    target_include_directories(print_officeprocess_test PRIVATE ${PROJECT_SOURCE_DIR})
endif()

# The run's decisions about its jobs (matching, window, following, a full scheduler) with a fake clock and
# a scripted scheduler, and the office's environment and link names.
if(UNIX AND TARGET print_native)
    find_package(Cups)
    set(_lo ${PROJECT_SOURCE_DIR}/print/libreoffice)
    quillmark_add_gtest(print_jobs_test LABELS unit
                        SOURCES unit/print_jobs_test.cpp ${_lo}/jobpolicy.cpp ${_lo}/jobtracker.cpp
                                ${_lo}/cupsqueue.cpp ${_lo}/documentlinks.cpp ${_lo}/officeprocess.cpp
                        LIBS platform_qt Cups::Cups Threads::Threads)
    target_include_directories(print_jobs_test PRIVATE ${PROJECT_SOURCE_DIR})
endif()

# The real print run: LibreOffice printing into a private CUPS server (scripts/printserver.sh).
if(TARGET print_native AND TARGET Quillmark::Uno)
    add_executable(print_system_test system/print_system_test.cpp
                   system/print_docmaker.h system/print_docmaker.cpp
                   system/print_officesession.h system/print_officesession.cpp)
    find_package(Cups REQUIRED)
    target_link_libraries(print_system_test PRIVATE print_native print Quillmark::Uno Cups::Cups Qt5::Test)
    target_compile_definitions(print_system_test PRIVATE QUILLMARK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    # The UNO headers use names that Qt's keywords would turn into macros.
    set_source_files_properties(system/print_docmaker.cpp system/print_officesession.cpp
                                PROPERTIES COMPILE_DEFINITIONS QT_NO_KEYWORDS)
    # The command line's system test makes its encrypted documents with this.
    add_executable(print_docmaker_tool system/print_docmaker_tool.cpp
                   system/print_docmaker.h system/print_docmaker.cpp
                   system/print_officesession.h system/print_officesession.cpp)
    target_link_libraries(print_docmaker_tool PRIVATE print_native Quillmark::Uno Qt5::Core)
    add_test(NAME print_system_test COMMAND print_system_test)
    set_tests_properties(print_system_test PROPERTIES LABELS system TIMEOUT 900
                         ENVIRONMENT "${QUILLMARK_TEST_ENV}")
endif()

# The Windows files that need only Qt are compiled here too, so that a slip in them shows before a Windows
# build. (The COM client itself talks to IDispatch and is tested under Wine.)
if(NOT WIN32)
    add_library(windows_qt_sources OBJECT
                ${PROJECT_SOURCE_DIR}/platform/filename_win.cpp ${PROJECT_SOURCE_DIR}/platform/folderlisting_win.cpp
                ${PROJECT_SOURCE_DIR}/platform/localcodec_win.cpp ${PROJECT_SOURCE_DIR}/platform/viewer_win.cpp)
    target_include_directories(windows_qt_sources PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(windows_qt_sources PRIVATE Qt5::Core Qt5::Gui)
endif()
