# Keeps the product's folders in layers: a file includes only headers of its
# own folder or of the folders below it, and only platform/ includes the
# system's own interfaces (<windows.h>, the POSIX headers) or asks for _WIN32.
#
#   cmake -DSOURCE_DIR=DIR -DSTAMP=FILE -P check_layers.cmake
#
# A folder of sources that is neither a layer nor one of the folders built
# on top of the product (tests, benchmarks, fuzz targets, tools) fails too,
# and so does an include of such a folder: a new folder takes its place in
# the list below before it is built.
#
# Fails, naming each file and include that breaks the order; writes STAMP
# when none does. The build runs it before it compiles the library.
set(layers base text platform cache document xml driver)
set(outside tests bench fuzz tools)
set(system_headers
  "windows\\.h" "unistd\\.h" "fcntl\\.h" "pthread\\.h" "dirent\\.h" "signal\\.h" "sys/")

set(broken "")
foreach(folder IN LISTS layers)
  list(FIND layers ${folder} rank)
  file(GLOB files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp"
                  "${SOURCE_DIR}/${folder}/*.inc")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" includes REGEX "^#include \"[a-z_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" included "${line}")
      list(FIND layers ${included} includedRank)
      if(includedRank EQUAL -1)
        file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
        string(APPEND broken "  ${name}: ${line} (${included}/ is no layer)\n")
      elseif(includedRank GREATER rank)
        file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
        string(APPEND broken "  ${name}: ${line} (${included}/ lies above ${folder}/)\n")
      endif()
    endforeach()
    if(NOT folder STREQUAL "platform")
      file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
      foreach(header IN LISTS system_headers)
        file(STRINGS "${file}" hits REGEX "^#include <${header}")
        foreach(line IN LISTS hits)
          string(APPEND broken "  ${name}: ${line} (only platform/ includes the system's headers)\n")
        endforeach()
      endforeach()
      file(STRINGS "${file}" hits REGEX "_WIN32")
      foreach(line IN LISTS hits)
        string(APPEND broken "  ${name}: ${line} (only platform/ tells the systems apart)\n")
      endforeach()
    endif()
  endforeach()
endforeach()

file(GLOB sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*/*.h" "${SOURCE_DIR}/*/*.cpp")
foreach(source IN LISTS sources)
  string(REGEX REPLACE "/.*" "" folder "${source}")
  list(FIND layers ${folder} isLayer)
  list(FIND outside ${folder} isOutside)
  if(isLayer EQUAL -1 AND isOutside EQUAL -1 AND NOT folder MATCHES "^build")
    string(APPEND broken "  ${source}: ${folder}/ is neither a layer nor outside the product\n")
  endif()
endforeach()

if(broken)
  string(JOIN " < " order ${layers})
  message(FATAL_ERROR "Includes out of the layers ${order}:\n${broken}")
endif()
file(WRITE "${STAMP}" "")
