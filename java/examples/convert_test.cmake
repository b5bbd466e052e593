# Installs the Java library into a prefix of its own and runs WsqConvert.java
# as a user would, with the installed jar on the class path and no other
# setting (the jar finds its native library by itself):
#  - the bundled WSQ file to PNG, and that PNG back to WSQ: the same bytes as
#    wsq1 writes for the pixels unwsq decodes from the WSQ file, so the PNG
#    holds the native decoder's pixels;
#  - the bundled palette PNG to WSQ: the same bytes as wsq1 writes for its raw
#    pixels.
# Called by ctest with JAVA, BUILD (the build tree), JAR (the jar's place under
# the prefix), WSQ1, UNWSQ, DATA and WORK defined.
file(REMOVE_RECURSE ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(status)
    message(FATAL_ERROR "${ARGN}: ${status}\n${errors}")
  endif()
endfunction()

function(convert input output)
  run(${JAVA} -Djava.awt.headless=true -cp ${WORK}/prefix/${JAR} ${CMAKE_CURRENT_LIST_DIR}/WsqConvert.java
      ${input} ${output})
endfunction()

function(expect_same actual expected)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${actual} ${expected} RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${actual} differs from ${expected}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --component java --prefix ${WORK}/prefix)
convert(${DATA}/wsq-original.wsq ${WORK}/original.png)
convert(${WORK}/original.png ${WORK}/original.wsq)
run(${UNWSQ} -f raw -o ${WORK}/original.raw ${DATA}/wsq-original.wsq)
run(${WSQ1} -r832,768 -o${WORK}/expected-original ${WORK}/original.raw)
expect_same(${WORK}/original.wsq ${WORK}/expected-original.wsq)

convert(${DATA}/wsq-converted.png ${WORK}/converted.wsq)
run(${WSQ1} -r832,768 -o${WORK}/expected-converted ${DATA}/wsq-converted.raw)
expect_same(${WORK}/converted.wsq ${WORK}/expected-converted.wsq)
