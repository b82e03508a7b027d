# Fills the desktop entry's (or the metainfo's) name with the title of the built model's window, as
# `kqmeter --version` tells it on its second line ("KQ510 Interface Program
# Ver:2.00"); the menu shows it without the version.
# usage: cmake -DPROGRAM=kqmeter -DIN=kqmeter.desktop.in -DOUT=kqmeter.desktop -P desktop_entry.cmake
execute_process(COMMAND ${PROGRAM} --version OUTPUT_VARIABLE said RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --version failed: ${status}")
endif()
string(REGEX MATCH "\n[^\n]+" title "${said}")
string(STRIP "${title}" title)
string(REGEX REPLACE "[ _]*Ver:.*$" "" KQ_DESKTOP_NAME "${title}")
if(KQ_DESKTOP_NAME STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --version named no window title")
endif()
configure_file(${IN} ${OUT} @ONLY)
