# cmake -DSCRIPT=source_date_epoch.sh -DOUT=file -P write_epoch.cmake: stores the epoch in OUT,
# touching the file only when it changed, so that only a new commit relinks.
execute_process(COMMAND sh ${SCRIPT} OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE)
set(old "")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL epoch)
  file(WRITE ${OUT} "${epoch}")
endif()
