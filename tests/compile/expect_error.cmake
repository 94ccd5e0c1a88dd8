# Compiles SOURCE and passes only when the compiler refuses it with MESSAGE.
execute_process(COMMAND ${COMPILER} -std=c++20 -fsyntax-only -I${INCLUDE} ${SOURCE}
                RESULT_VARIABLE status ERROR_VARIABLE errors OUTPUT_QUIET)
if(status EQUAL 0)
  message(FATAL_ERROR "${SOURCE} compiled, but must not")
endif()
string(FIND "${errors}" "${MESSAGE}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${SOURCE} failed for another reason:\n${errors}")
endif()
