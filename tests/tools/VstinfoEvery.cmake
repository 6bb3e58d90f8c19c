# Runs PROGRAM (through EMULATOR when given) on every file matching PATTERN
# under DIR, each path given with PREFIX before it. Passes when every run
# exits 0, or, for a file whose name matches the regular expression
# REFUSABLE, exits 1 with one "vstinfo:" line on stderr; a crash, a hang or
# any other exit fails.
# Files matching the regular expression SKIP are no plug-ins (a test driver
# that shares the prefix).
file(GLOB_RECURSE plugins ${DIR}/${PATTERN})
if(SKIP)
    list(FILTER plugins EXCLUDE REGEX "${SKIP}")
endif()
list(SORT plugins)
if(NOT plugins)
    message(FATAL_ERROR "no file matches ${DIR}/${PATTERN}")
endif()
set(command ${PROGRAM})
if(EMULATOR)
    set(command ${EMULATOR} ${PROGRAM})
endif()
set(failures "")
foreach(plugin IN LISTS plugins)
    execute_process(COMMAND ${command} ${PREFIX}${plugin} RESULT_VARIABLE result
                    OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
    string(REPLACE "\r" "" err "${err}")
    string(STRIP "${err}" err)
    set(refused FALSE)
    get_filename_component(name ${plugin} NAME)
    if(REFUSABLE AND name MATCHES "${REFUSABLE}" AND result STREQUAL "1"
       AND err MATCHES "^vstinfo: [^\n]*$")
        set(refused TRUE)
    endif()
    if(result STREQUAL "0")
        message(STATUS "ran     ${plugin}")
    elseif(refused)
        message(STATUS "refused ${plugin}: ${err}")
    else()
        message(STATUS "FAILED  ${plugin}: ${result}\n${err}")
        list(APPEND failures ${plugin})
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "vstinfo failed on: ${failures}")
endif()
