# Installs tedious (the version package-lock.json pins) into WORK with npm, then runs signin.js
# against the sandbox program. Fails with a clear message when node or npm is missing or the npm
# registry cannot be reached: a check that could not run must not pass.
#
#   cmake -DNODE=... -DNPM=... -DSOURCE_DIR=... -DWORK=... -DSANDBOX=... -P run.cmake
foreach(var NODE NPM SOURCE_DIR WORK SANDBOX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run.cmake needs -D${var}=...")
  endif()
endforeach()
if(NOT NODE OR NOT NPM)
  message(FATAL_ERROR "node and npm are needed for this check (scripts/bootstrap installs npm when missing)")
endif()

file(MAKE_DIRECTORY ${WORK})
foreach(f package.json package-lock.json signin.js)
  configure_file(${SOURCE_DIR}/${f} ${WORK}/${f} COPYONLY)
endforeach()

# Does nothing when node_modules already matches the lock file.
execute_process(COMMAND ${NPM} install --no-audit --no-fund
  WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE installed OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 600)
if(NOT installed EQUAL 0 OR NOT EXISTS ${WORK}/node_modules/tedious/package.json)
  message(FATAL_ERROR "cannot install tedious with npm (is the npm registry reachable?):\n${out}\n${err}")
endif()

execute_process(COMMAND ${NODE} signin.js ${SANDBOX} ${WORK}/run
  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE passed TIMEOUT 600)
if(NOT passed EQUAL 0)
  message(FATAL_ERROR "signing in with tedious failed (see the lines above)")
endif()
