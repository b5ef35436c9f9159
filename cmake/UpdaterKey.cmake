# The public key built into the module, from UPDATER_PUBLIC_KEY (a PEM RSA
# public key, 2048-bit modulus, exponent of at most 3 bytes). make-key-blocks
# checks the key and turns it into the generated VerificationKeyData source;
# a key it refuses stops the build with its reason.
#
# The configure step prints the key's fingerprint (SHA-256 of its DER form),
# computed by make-key-blocks itself: it is compiled and run once here, and
# again only when the key or its sources change. UPDATER_KEY_FINGERPRINT and
# UPDATER_TEST_KEY_FINGERPRINT hold the two fingerprints for the rest of the
# build (ztx warns about the test key by its fingerprint).

set(updater_test_public_key "${PROJECT_SOURCE_DIR}/tests/keys/test-public.pem")
if(UPDATER_PUBLIC_KEY STREQUAL "")
    set(updater_key "${updater_test_public_key}")
else()
    get_filename_component(updater_key "${UPDATER_PUBLIC_KEY}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
    if(NOT EXISTS "${updater_key}" OR IS_DIRECTORY "${updater_key}")
        message(FATAL_ERROR "UPDATER_PUBLIC_KEY: no such file: ${updater_key}")
    endif()
endif()

set(updater_key_block_sources
    "${PROJECT_SOURCE_DIR}/src/verification/keyblocks/main.cpp"
    "${PROJECT_SOURCE_DIR}/src/verification/KeyFingerprint.cpp")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${updater_key}" "${updater_test_public_key}" ${updater_key_block_sources}
    "${PROJECT_SOURCE_DIR}/src/verification/KeyFingerprint.h"
    "${PROJECT_SOURCE_DIR}/src/verification/OpenSslPointer.h")

# Recomputed when a key file or the program that reads it changes.
set(updater_fingerprint_inputs "${updater_key}" "${updater_test_public_key}")
foreach(file IN LISTS updater_key ITEMS "${updater_test_public_key}" ${updater_key_block_sources})
    file(SHA256 "${file}" file_hash)
    string(APPEND updater_fingerprint_inputs " ${file_hash}")
endforeach()
if(NOT updater_fingerprint_inputs STREQUAL UPDATER_FINGERPRINT_INPUTS)
    try_run(fingerprint_run fingerprint_compiled "${CMAKE_BINARY_DIR}/key-fingerprint"
        SOURCES ${updater_key_block_sources}
        CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${PROJECT_SOURCE_DIR}/src"
        LINK_LIBRARIES OpenSSL::Crypto
        CXX_STANDARD 17
        COMPILE_OUTPUT_VARIABLE fingerprint_compile_output
        RUN_OUTPUT_VARIABLE fingerprint_output
        ARGS --fingerprint "${updater_key}" "${updater_test_public_key}")
    if(NOT fingerprint_compiled OR NOT fingerprint_run EQUAL 0)
        message(FATAL_ERROR "make-key-blocks could not be built to compute key fingerprints:\n"
                            "${fingerprint_compile_output}")
    endif()
    string(REGEX MATCHALL "[^\n]+" fingerprint_lines "${fingerprint_output}")
    list(GET fingerprint_lines 0 key_line)
    list(GET fingerprint_lines 1 test_key_line)
    string(REGEX REPLACE " .*" "" key_fingerprint "${key_line}")
    string(REGEX REPLACE " .*" "" test_key_fingerprint "${test_key_line}")
    if(NOT test_key_fingerprint MATCHES "^SHA256:")
        message(FATAL_ERROR "the project's test key ${updater_test_public_key} cannot be read")
    endif()
    set(UPDATER_KEY_FINGERPRINT "${key_fingerprint}" CACHE INTERNAL "fingerprint of the built-in key")
    set(UPDATER_TEST_KEY_FINGERPRINT "${test_key_fingerprint}" CACHE INTERNAL "fingerprint of the test key")
    set(UPDATER_FINGERPRINT_INPUTS "${updater_fingerprint_inputs}" CACHE INTERNAL "what the fingerprints came from")
endif()

if(UPDATER_KEY_FINGERPRINT STREQUAL UPDATER_TEST_KEY_FINGERPRINT)
    message(WARNING
        "\n"
        "  ******************************************************************\n"
        "  The module is built with the project's TEST key\n"
        "  ${updater_key}\n"
        "  ${UPDATER_KEY_FINGERPRINT}\n"
        "  Its private half is public. Do NOT ship this build: configure with\n"
        "  -DUPDATER_PUBLIC_KEY=/path/to/publisher-public.pem\n"
        "  ******************************************************************\n")
elseif(UPDATER_KEY_FINGERPRINT STREQUAL "-")
    # Not a key at all: the build stops at make-key-blocks with the reason.
    message(STATUS "Verification key: ${updater_key} (holds no key that can be read)")
else()
    message(STATUS "Verification key: ${updater_key}")
    message(STATUS "Verification key fingerprint: ${UPDATER_KEY_FINGERPRINT}")
endif()

add_executable(make-key-blocks ${updater_key_block_sources})
target_include_directories(make-key-blocks PRIVATE "${PROJECT_SOURCE_DIR}/src")
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
