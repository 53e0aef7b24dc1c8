# cmake -DGENERATOR=pva-samplegen -DDIR=... -DCACHE=... -P MakeLongRecordings.cmake
# big.pva: 5 GiB at broadcast rate; film.pva: 2 h 30 min in small packets, with the
# picture and packet counts of a broadcast at a fraction of its size. The generator
# refuses a recording the disk cannot hold before writing anything.
file(MAKE_DIRECTORY ${DIR})
foreach(args "record;9000;${DIR}/film.pva;--small;--payload;64" "long;5120;${DIR}/big.pva")
  execute_process(COMMAND ${GENERATOR} ${args} --cache ${CACHE} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    file(REMOVE_RECURSE ${DIR})
    message(FATAL_ERROR "could not make the long recordings (pva-samplegen ${args}): see above")
  endif()
endforeach()
