# Collects the ten files of the engine tests' payload into OUT: the sample
# payload's texts and settings and real help-file sized texts; the client,
# part of a real Windows program, is added by the build.
file(MAKE_DIRECTORY ${OUT})
foreach(name readme.txt versions.txt velk.ini aliases.ini popups.ini servers.ini urls.ini)
  configure_file(${SOURCE}/resources/payload/${name} ${OUT}/${name} COPYONLY)
endforeach()
set(help "")
foreach(part payload/lzhuf_decoder.cpp payload/payload_scan.cpp install/extraction.cpp)
  file(READ ${SOURCE}/${part} text)
  string(APPEND help "${text}")
endforeach()
file(WRITE ${OUT}/velk.hlp "${help}")
file(READ ${SOURCE}/README.md readme)
file(WRITE ${OUT}/ircintro.hlp "${readme}")
