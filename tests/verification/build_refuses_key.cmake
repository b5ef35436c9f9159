# Configures a scratch build with a refused key and builds the key target:
# the build must stop, naming the reason. -DSOURCE_DIR -DWORK_DIR -DKEY -DREASON
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}" -DUPDATER_PUBLIC_KEY=${KEY}
            -DUPDATER_BUILD_TESTS=OFF -DUPDATER_BUILD_BENCH=OFF
    RESULT_VARIABLE configured OUTPUT_QUIET ERROR_QUIET)
if(NOT configured EQUAL 0)
    message(FATAL_ERROR "configure failed")
endif()
execute_process(
    COMMAND "${CMAKE_COMMAND}" --build "${WORK_DIR}" --target updater_key_blocks
    RESULT_VARIABLE built OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(REMOVE_RECURSE "${WORK_DIR}")
if(built EQUAL 0)
    message(FATAL_ERROR "the build accepted ${KEY}")
endif()
string(FIND "${output}" "${REASON}" found)
if(found EQUAL -1)
    message(FATAL_ERROR "the build stopped without the reason \"${REASON}\":\n${output}")
endif()
