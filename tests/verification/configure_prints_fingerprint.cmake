# Configures a scratch build with a key of choice: the configure step must
# print that key's fingerprint, as openssl works it out from the same file.
# -DSOURCE_DIR -DWORK_DIR -DKEY
find_program(OPENSSL openssl REQUIRED)
execute_process(
    COMMAND "${OPENSSL}" pkey -pubin -in "${KEY}" -outform DER -out "${WORK_DIR}.der"
    RESULT_VARIABLE converted)
if(NOT converted EQUAL 0)
    message(FATAL_ERROR "openssl cannot read ${KEY}")
endif()
file(SHA256 "${WORK_DIR}.der" expected)
file(REMOVE "${WORK_DIR}.der")

file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}" -DUPDATER_PUBLIC_KEY=${KEY}
            -DUPDATER_BUILD_TESTS=OFF -DUPDATER_BUILD_BENCH=OFF
    RESULT_VARIABLE configured OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(REMOVE_RECURSE "${WORK_DIR}")
if(NOT configured EQUAL 0)
    message(FATAL_ERROR "configure failed:\n${output}")
endif()
string(FIND "${output}" "Verification key fingerprint: SHA256:${expected}" found)
if(found EQUAL -1)
    message(FATAL_ERROR "the configure step did not print SHA256:${expected}:\n${output}")
endif()
string(FIND "${output}" "TEST key" test_key)
if(NOT test_key EQUAL -1)
    message(FATAL_ERROR "the configure step took ${KEY} for the test key:\n${output}")
endif()
