# The public key built into the module, from UPDATER_PUBLIC_KEY (a PEM RSA
# public key, 2048-bit modulus, exponent of at most 3 bytes). make-key-blocks
# checks the key and turns it into the generated VerificationKeyData source;
# a key it refuses stops the build with its reason.

set(updater_test_public_key "${PROJECT_SOURCE_DIR}/tests/keys/test-public.pem")
if(UPDATER_PUBLIC_KEY STREQUAL "")
    set(updater_key "${updater_test_public_key}")
    message(WARNING
        "\n"
        "  ******************************************************************\n"
        "  UPDATER_PUBLIC_KEY is not set: the module is built with the\n"
        "  project's TEST key (${updater_key}).\n"
        "  Its private half is public. Do NOT ship this build: configure with\n"
        "  -DUPDATER_PUBLIC_KEY=/path/to/publisher-public.pem\n"
        "  ******************************************************************\n")
else()
    get_filename_component(updater_key "${UPDATER_PUBLIC_KEY}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
    if(NOT EXISTS "${updater_key}" OR IS_DIRECTORY "${updater_key}")
        message(FATAL_ERROR "UPDATER_PUBLIC_KEY: no such file: ${updater_key}")
    endif()
    if(updater_key STREQUAL updater_test_public_key)
        message(WARNING "UPDATER_PUBLIC_KEY is the project's TEST key: do not ship this build.")
    else()
        message(STATUS "Verification key: ${updater_key}")
    endif()
endif()

add_executable(make-key-blocks "${PROJECT_SOURCE_DIR}/src/verification/keyblocks/main.cpp")
target_link_libraries(make-key-blocks PRIVATE OpenSSL::Crypto)
set_target_properties(make-key-blocks PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

set(updater_key_source "${CMAKE_BINARY_DIR}/generated/verification/VerificationKeyData.cpp")
add_custom_command(
    OUTPUT "${updater_key_source}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/generated/verification"
    COMMAND make-key-blocks "${updater_key}" "${updater_key_source}"
    DEPENDS make-key-blocks "${updater_key}"
    COMMENT "Checking the verification key ${updater_key}"
    VERBATIM)
add_custom_target(updater_key_blocks DEPENDS "${updater_key_source}")
add_dependencies(updater_core_objects updater_key_blocks)
set_source_files_properties("${updater_key_source}" PROPERTIES GENERATED TRUE)
target_sources(updater_core_objects PRIVATE "${updater_key_source}")
