# Fails if the module's code holds a fused multiply-add (x86 FMA3/FMA4, arm64
# fmadd, fmsub, fmla, fmls and their negations).
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${MODULE} OUTPUT_VARIABLE code RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR code STREQUAL "")
  message(FATAL_ERROR "${OBJDUMP} could not disassemble ${MODULE}")
endif()
string(REGEX MATCHALL ":[ \t]+(v?fn?m(add|sub)|fml[as])[a-z0-9]*[ \t][^\n]*" fused "${code}")
if(fused)
  list(LENGTH fused count)
  list(GET fused 0 first)
  string(REGEX REPLACE "^:[ \t]+" "" first "${first}")
  message(FATAL_ERROR "${count} fused multiply-adds in ${MODULE}, the first: ${first}")
endif()
message(STATUS "no fused multiply-add in ${MODULE}")
