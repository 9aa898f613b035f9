# Updater: HTTP client, update check, package install, the end-to-end update of the real program.

# The release number of the test programs that carry the test release key.
set(QUILLMARK_TEST_PROGRAM_RELEASE 7)
quillmark_add_gtest(update_httppost_test LABELS unit
    SOURCES unit/update_httppost_test.cpp unit/update_loopback_server.cpp
    LIBS update_http
    # The unresolvable-host case must not wait on a slow resolver.
    ENV "RES_OPTIONS=timeout:1 attempts:1")

quillmark_add_gtest(update_swap_test LABELS unit SOURCES unit/update_swap_test.cpp LIBS update_swap)

if(NOT QUILLMARK_CORE_ONLY)
    # A small real program that the tests pack into release packages.
    add_executable(update_sample_program unit/update_sample_program.cpp)

    quillmark_add_qtest(update_check_test LABELS unit
        SOURCES unit/update_check_test.cpp unit/update_loopback_server.cpp
        LIBS update_core update_http update_cipher platform_download)
    target_compile_definitions(update_check_test PRIVATE
        UPDATE_SAMPLE_PROGRAM="$<TARGET_FILE:update_sample_program>")
    add_dependencies(update_check_test update_sample_program)
    if(WIN32 AND QUILLMARK_QTEST_RUNNER)
        # Alone under Wine: its process was once seen to take minutes to end with another Wine program
        # beside it.
        set_tests_properties(update_check_test PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
    endif()
endif()

if(NOT WIN32)
    quillmark_add_gtest(update_launch_test LABELS unit SOURCES unit/update_launch_test.cpp LIBS platform)
endif()

if(NOT QUILLMARK_CORE_ONLY AND NOT WIN32)
    # The installer killed after each step, and the program started after it.
    add_executable(update_swap_program unit/update_swap_program.cpp)
    target_link_libraries(update_swap_program PRIVATE update_swap)
    add_executable(update_install_driver unit/update_install_driver.cpp)
    target_link_libraries(update_install_driver PRIVATE update_core)
    quillmark_add_qtest(update_kill_test LABELS unit SOURCES unit/update_kill_test.cpp LIBS QuaZip::QuaZip)
    target_compile_definitions(update_kill_test PRIVATE SWAP_PROGRAM="$<TARGET_FILE:update_swap_program>"
                                                        INSTALL_DRIVER="$<TARGET_FILE:update_install_driver>")
    add_dependencies(update_kill_test update_swap_program update_install_driver)
endif()

if(NOT QUILLMARK_CORE_ONLY AND NOT WIN32)
    # The real program with the endpoints of the end-to-end test's loopback servers, beside Quillmark.
    quillmark_endpoint_table(update_endpoints_loopback
        "127.0.83.1" "/quillmark/version" "http://127.0.83.1/quillmark/"
        "127.0.83.2" "/quillmark/version" "http://127.0.83.2/quillmark/")
    add_executable(QuillmarkLoopback ${PROJECT_SOURCE_DIR}/main.cpp)
    target_link_libraries(QuillmarkLoopback PRIVATE app)
    # The unsigned path of the end-to-end test: MD5 only.
    quillmark_update_program(QuillmarkLoopback update_endpoints_loopback "" "" ALLOW_UNSIGNED)

    quillmark_add_qtest(update_endpoints_test LABELS unit
        SOURCES unit/update_endpoints_test.cpp LIBS update_endpoints_loopback update)

    # The build step refuses a text longer than its field and an incomplete set.
    add_test(NAME update_endpointgen_refuses_long_text
             COMMAND quillmark_endpointgen ${CMAKE_CURRENT_BINARY_DIR}/refused.cpp "=a-host-name-of-16" "=/v"
                     "=http://h/" "=h" "=/v" "=http://h/")
    add_test(NAME update_endpointgen_refuses_incomplete_set
             COMMAND quillmark_endpointgen ${CMAKE_CURRENT_BINARY_DIR}/refused.cpp "=h" "=/v" "=" "=h" "=/v"
                     "=http://h/")
    set_tests_properties(update_endpointgen_refuses_long_text PROPERTIES LABELS unit
                         PASS_REGULAR_EXPRESSION "PRIMARY_HOST is longer than 15 bytes")
    set_tests_properties(update_endpointgen_refuses_incomplete_set PROPERTIES LABELS unit
                         PASS_REGULAR_EXPRESSION "give all six texts or none")
    add_dependencies(unit-tests quillmark_endpointgen)

    add_test(NAME update_end_to_end
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/system/update_end_to_end.sh $<TARGET_FILE:QuillmarkLoopback>
                     $<TARGET_FILE:QuillmarkLoopbackSigned> $<TARGET_FILE:quillmark_release>
                     ${QUILLMARK_TEST_PROGRAM_RELEASE})
    set_tests_properties(update_end_to_end PROPERTIES LABELS system TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()

if(NOT QUILLMARK_CORE_ONLY)
    # Signed releases. The test key's private half is tests/system/update_test_release_key.pem: it signs
    # only test packages.
    set(QUILLMARK_TEST_RELEASE_KEY 14aaa55dd519e3cde708fd70e6fab43b3ff177df23511fb209e093b6528454a1)
    quillmark_add_qtest(update_signature_test LABELS unit
        SOURCES unit/update_signature_test.cpp unit/update_loopback_server.cpp
        LIBS update_signing update_core platform_download)
    quillmark_release_key(update_signature_test ${QUILLMARK_TEST_RELEASE_KEY} ${QUILLMARK_TEST_PROGRAM_RELEASE})
    target_compile_definitions(update_signature_test PRIVATE
        TEST_PROGRAM_RELEASE=${QUILLMARK_TEST_PROGRAM_RELEASE})
    target_compile_definitions(update_signature_test PRIVATE
        RELEASE_TOOL="$<TARGET_FILE:quillmark_release>"
        TEST_RELEASE_KEY_PEM="${CMAKE_CURRENT_SOURCE_DIR}/system/update_test_release_key.pem")
    add_dependencies(update_signature_test quillmark_release)
endif()

if(NOT QUILLMARK_CORE_ONLY AND NOT WIN32)
    # The loopback program again, with the test release key built in, for the signed end-to-end update.
    add_executable(QuillmarkLoopbackSigned ${PROJECT_SOURCE_DIR}/main.cpp)
    target_link_libraries(QuillmarkLoopbackSigned PRIVATE app)
    quillmark_update_program(QuillmarkLoopbackSigned update_endpoints_loopback ${QUILLMARK_TEST_RELEASE_KEY}
                             ${QUILLMARK_TEST_PROGRAM_RELEASE})
endif()

if(NOT WIN32)
    # A build with update servers and no release key stops unless unsigned packages are allowed; a key
    # needs a release number.
    add_test(NAME update_configure_test
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/unit/update_configure_test.sh ${PROJECT_SOURCE_DIR})
    set_tests_properties(update_configure_test PROPERTIES LABELS unit TIMEOUT 120)
endif()

if(NOT QUILLMARK_CORE_ONLY AND NOT WIN32)
    # The program carries the verifying half of signed releases only: making keys and signing stay with the
    # release tool.
    add_test(NAME update_program_cannot_sign
             COMMAND sh -c "nm -C \"$0\" > \"$1\" && grep -q VerifyReleasePackage \"$1\" && ! grep -E 'SignReleasePackage|GenerateSigningKeyPem|SignMessage|EVP_PKEY_keygen' \"$1\""
                     $<TARGET_FILE:QuillmarkLoopbackSigned> ${CMAKE_CURRENT_BINARY_DIR}/update_program_symbols.txt)
    set_tests_properties(update_program_cannot_sign PROPERTIES LABELS system)
endif()

if(NOT QUILLMARK_CORE_ONLY AND WIN32)
    # The Windows program with the loopback endpoints and the test release key: the update under Wine
    # (tests/windows/windows_update_e2e.py) puts it into the unpacked package as Quillmark.exe.
    quillmark_endpoint_table(update_endpoints_loopback
        "127.0.83.1" "/quillmark/version" "http://127.0.83.1/quillmark/"
        "127.0.83.2" "/quillmark/version" "http://127.0.83.2/quillmark/")
    add_executable(QuillmarkLoopbackSigned WIN32 ${PROJECT_SOURCE_DIR}/main.cpp
                   ${PROJECT_SOURCE_DIR}/resources/quillmark.rc)
    target_link_libraries(QuillmarkLoopbackSigned PRIVATE app)
    quillmark_update_program(QuillmarkLoopbackSigned update_endpoints_loopback ${QUILLMARK_TEST_RELEASE_KEY}
                             ${QUILLMARK_TEST_PROGRAM_RELEASE})
endif()
