# The release a packager takes: both Windows programs, built afresh from
# these sources with their own presets in trees below this build, gathered
# in build/release with their debug images, REGISTER.TXT and SHA256SUMS:
#
#   win32/preuninst.exe  win32/preuninst.dbg
#   win64/preuninst.exe  win64/preuninst.dbg
#   REGISTER.TXT         SHA256SUMS
#
# The same commit gives the same bytes wherever it is built, so a packager
# checks a release by building it and comparing SHA256SUMS.

set(PREUNINST_PROGRAMS win32/preuninst.exe win32/preuninst.dbg win64/preuninst.exe win64/preuninst.dbg)

if(CMAKE_SCRIPT_MODE_FILE)
  # cmake -DSOURCE=... -DTREES=... -DOUT=... -P release.cmake: gathers the files.
  file(REMOVE_RECURSE ${OUT})
  foreach(name ${PREUNINST_PROGRAMS})
    get_filename_component(directory ${name} DIRECTORY)
    file(COPY ${TREES}/${name} DESTINATION ${OUT}/${directory})
  endforeach()
  # CR LF, for the Notepad of every Windows.
  file(READ ${SOURCE}/packaging/register.txt text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${OUT}/REGISTER.TXT "${text}")
  set(sums "")
  foreach(name ${PREUNINST_PROGRAMS} REGISTER.TXT)
    file(SHA256 ${OUT}/${name} sum)
    string(APPEND sums "${sum}  ${name}\n")
  endforeach()
  file(WRITE ${OUT}/SHA256SUMS "${sums}")
  return()
endif()

set(PREUNINST_RELEASE_DIR ${PROJECT_SOURCE_DIR}/build/release CACHE PATH "Where the release is gathered")
set(trees ${PROJECT_BINARY_DIR})
foreach(preset win32 win64)
  add_custom_target(release-${preset}
    COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${trees}/${preset} --preset ${preset}
    COMMAND ${CMAKE_COMMAND} --build ${trees}/${preset} --target preuninst
    COMMENT "Building the ${preset} program"
    VERBATIM)
endforeach()
# One after the other: each build uses every core already.
add_dependencies(release-win64 release-win32)
add_custom_target(release ALL
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR} -DTREES=${trees} -DOUT=${PREUNINST_RELEASE_DIR}
          -P ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Gathering the release in ${PREUNINST_RELEASE_DIR}"
  VERBATIM)
add_dependencies(release release-win32 release-win64)
