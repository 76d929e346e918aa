cmake_minimum_required(VERSION 3.25)
# Fails when a mode file that ships begins with a byte-order mark (UTF-8, UTF-16), which Windows'
# profile functions would not skip:
#   cmake -DFILES="a.ini;b.ini" -P check-unmarked.cmake
foreach(file ${FILES})
  file(READ ${file} head LIMIT 3 HEX)
  if(head MATCHES "^(efbbbf|fffe|feff)")
    message(FATAL_ERROR "${file} begins with a byte-order mark (${head}): save it as ANSI text without one")
  endif()
  message(STATUS "${file}: no byte-order mark")
endforeach()
