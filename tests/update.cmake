# Updater: HTTP client, update check, package install, the end-to-end update of the real program.
quillmark_add_gtest(update_httppost_test LABELS unit
    SOURCES unit/update_httppost_test.cpp unit/update_loopback_server.cpp
    LIBS update_http
    # The unresolvable-host case must not wait on a slow resolver.
    ENV "RES_OPTIONS=timeout:1 attempts:1")

if(NOT QUILLMARK_CORE_ONLY)
    # A small real program that the tests pack into release packages.
    add_executable(update_sample_program unit/update_sample_program.cpp)

    quillmark_add_qtest(update_check_test LABELS unit
        SOURCES unit/update_check_test.cpp unit/update_loopback_server.cpp
        LIBS update_core update_http update_cipher platform_download)
    target_compile_definitions(update_check_test PRIVATE
        UPDATE_SAMPLE_PROGRAM="$<TARGET_FILE:update_sample_program>")
    add_dependencies(update_check_test update_sample_program)
endif()
