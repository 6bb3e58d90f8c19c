# Code built for AVX2 must never run on a processor without it: the AVX2
# object defines the AVX2 steps and nothing else (no processor check, no
# static initialiser), and the conversions that choose them run nothing
# before main.
#   -DNM=nm -DOBJECTS="a.o;b.o" (the AVX2 object and the conversions' object)
foreach(object IN LISTS OBJECTS)
    execute_process(COMMAND ${NM} --defined-only ${object} OUTPUT_VARIABLE symbols
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${NM} failed on ${object}")
    endif()
    if(symbols MATCHES "_GLOBAL__sub_I")
        message(FATAL_ERROR "${object} runs code at static start-up:\n${symbols}")
    endif()
    if(NOT object MATCHES "Avx2")
        continue()
    endif()
    string(REGEX MATCHALL "[0-9a-f]+ [Tt] [^\n]+" functions "${symbols}")
    foreach(function IN LISTS functions)
        if(NOT function MATCHES "Avx2")
            message(FATAL_ERROR "${object} defines more than the AVX2 steps: ${function}")
        endif()
    endforeach()
endforeach()
