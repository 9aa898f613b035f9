# Test helpers shared by every subsystem's tests.
#
#   quillmark_add_gtest(NAME LABELS unit [windows] SOURCES ... LIBS ...)
#   quillmark_add_qtest(NAME LABELS gui SOURCES ... LIBS ...)
#
# Every unit-labelled executable also joins the `unit-tests` target, so the sanitizer build can build
# just the unit tier.

if(NOT TARGET unit-tests)
    add_custom_target(unit-tests)
endif()

set(QUILLMARK_TEST_ENV "LANG=C.UTF-8;LC_ALL=C.UTF-8;QT_QPA_PLATFORM=offscreen")
if(CMAKE_CROSSCOMPILING AND WIN32)
    # Cross-built core tests run under Wine: every one joins the windows tier. Wine takes the ANSI code
    # page from the Unix locale, so zh_CN.UTF-8 gives code page 936. A test program that Wine cannot run
    # (no 32-bit loader) exits 0 silently: only GoogleTest's own summary counts as a pass.
    set(QUILLMARK_EXTRA_LABELS windows)
    set(QUILLMARK_TEST_ENV "LANG=zh_CN.UTF-8;LC_ALL=zh_CN.UTF-8;WINEDEBUG=-all")
    set(QUILLMARK_GTEST_PASS "\\[  PASSED  \\] [1-9][0-9]* tests?\\.")
    set(QUILLMARK_GTEST_FAIL "\\[  FAILED  \\];wine: Unhandled")
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
        set(CMAKE_CROSSCOMPILING_EMULATOR wine)
    endif()
    # QtTest writes its report to the debugger channel when its output is no console: it goes to a file.
    set(QUILLMARK_QTEST_RUNNER ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-qtest.sh)
    set(QUILLMARK_QTEST_PASS "Totals: [0-9]+ passed, 0 failed")
endif()

function(_quillmark_register name labels)
    list(FIND labels unit _is_unit)
    if(NOT _is_unit EQUAL -1)
        add_dependencies(unit-tests ${name})
    endif()
endfunction()

function(quillmark_add_gtest name)
    cmake_parse_arguments(T "" "TIMEOUT" "LABELS;SOURCES;LIBS;ENV" ${ARGN})
    if(NOT TARGET gtest)
        add_subdirectory(${QUILLMARK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    list(APPEND T_LABELS ${QUILLMARK_EXTRA_LABELS})
    list(REMOVE_DUPLICATES T_LABELS)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
                         ENVIRONMENT "${QUILLMARK_TEST_ENV};${T_ENV}")
    if(QUILLMARK_GTEST_PASS)
        set_tests_properties(${name} PROPERTIES PASS_REGULAR_EXPRESSION "${QUILLMARK_GTEST_PASS}"
                             FAIL_REGULAR_EXPRESSION "${QUILLMARK_GTEST_FAIL}")
        if("gui" IN_LIST T_LABELS)
            set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_display)
        endif()
    endif()
    _quillmark_register(${name} "${T_LABELS}")
endfunction()

function(quillmark_add_qtest name)
    if(QUILLMARK_CORE_ONLY)
        return() # no Qt in this build
    endif()
    cmake_parse_arguments(T "" "TIMEOUT" "LABELS;SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} Qt5::Test)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    if(QUILLMARK_QTEST_RUNNER)
        list(APPEND T_LABELS ${QUILLMARK_EXTRA_LABELS})
        list(REMOVE_DUPLICATES T_LABELS)
        add_test(NAME ${name} COMMAND ${QUILLMARK_QTEST_RUNNER} $<TARGET_FILE:${name}>)
        # Windows on one display: one test at a time, so that none takes another's focus.
        set_tests_properties(${name} PROPERTIES PASS_REGULAR_EXPRESSION "${QUILLMARK_QTEST_PASS}"
                             FAIL_REGULAR_EXPRESSION "wine: Unhandled" RESOURCE_LOCK wine_display)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
                         ENVIRONMENT "${QUILLMARK_TEST_ENV};${T_ENV}")
    _quillmark_register(${name} "${T_LABELS}")
endfunction()
