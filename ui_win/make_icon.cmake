# Makes the application icon (.ico) from the PNG pictures of its sizes and checks that it holds
# every one of them.
#
#   cmake -DCONVERT=convert -DIDENTIFY=identify -DPICTURES=a.png,b.png -DSIZES=16,32
#         -DOUTPUT=app.ico -P make_icon.cmake
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" pictures "${PICTURES}")
string(REPLACE "," ";" sizes "${SIZES}")
execute_process(COMMAND ${CONVERT} ${pictures} ${OUTPUT} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "make_icon: ${CONVERT} failed on ${PICTURES}")
endif()
execute_process(COMMAND ${IDENTIFY} -format "%wx%h\n" ${OUTPUT} OUTPUT_VARIABLE found
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "make_icon: ${IDENTIFY} cannot read ${OUTPUT}")
endif()
foreach(size IN LISTS sizes)
  if(NOT found MATCHES "(^|\n)${size}x${size}\n")
    file(REMOVE ${OUTPUT})
    message(FATAL_ERROR "make_icon: ${OUTPUT} lacks ${size}x${size} (it holds: ${found})")
  endif()
endforeach()
