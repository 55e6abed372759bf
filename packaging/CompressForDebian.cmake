# Run by CPack once the files are staged: Debian keeps manual pages and the
# changelog compressed with "gzip -9n".
file(GLOB_RECURSE staged_manuals "${CPACK_TEMPORARY_DIRECTORY}/*.1")
file(GLOB_RECURSE staged_changelogs "${CPACK_TEMPORARY_DIRECTORY}/changelog")
foreach(file IN LISTS staged_manuals staged_changelogs)
  execute_process(COMMAND gzip -9n "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot compress ${file}")
  endif()
endforeach()
