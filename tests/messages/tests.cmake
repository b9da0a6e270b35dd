# The generator of the message catalogue, the number header and the
# built-in texts, against gencat and glibc's catgets.
add_test(NAME messages.genmessages
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/genmessages_test.py ${CMAKE_SOURCE_DIR} ${KA_GENCAT})
