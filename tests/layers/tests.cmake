# The folders stand in the order of KA_SUBSYSTEMS: no include and no call of
# a built library runs upward (tools/check-layers).
string(REPLACE ";" "," KA_LAYER_ORDER "${KA_SUBSYSTEMS}")
add_test(NAME layers.check
         COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tools/check-layers
                 --order ${KA_LAYER_ORDER} --root ${CMAKE_SOURCE_DIR} --build ${CMAKE_BINARY_DIR})
add_test(NAME layers.check_layers_test
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/check_layers_test.py)
