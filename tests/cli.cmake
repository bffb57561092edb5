# The command line against the simulated instrument, in-process and as the real binary.
add_qt_test(test_cli test_cli.cpp support/fakes.h)
target_link_libraries(test_cli PRIVATE ppcli)
target_compile_definitions(test_cli PRIVATE PP_CLI_BINARY="$<TARGET_FILE:paramporter-cli>"
    PP_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
add_dependencies(test_cli paramporter-cli)

# The core without Qt, the Qt layer without widgets, the command line without the widgets' libraries.
add_test(NAME layering
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/layering.sh ${CMAKE_SOURCE_DIR} $<TARGET_FILE:paramporter-cli>)
