# Fails when a source outside gui/ includes X11, the toolkit or a gui/ header:
# the core must build and run without a display.
# cmake -DLIST=file-of-paths -DSTAMP=file -P layers.cmake
file(STRINGS ${LIST} files)
set(bad "")
foreach(f ${files})
  file(STRINGS ${f} hits REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](forms\\.h|X11/|gui/)")
  if(hits)
    list(APPEND bad "${f}: ${hits}")
  endif()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "Core sources must not include X11, the toolkit or gui/ headers:\n  ${text}")
endif()
file(WRITE ${STAMP} "ok\n")
