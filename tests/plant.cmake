# The plant history against a real PostgreSQL server of the tests' own.
include(${CMAKE_CURRENT_SOURCE_DIR}/plant_server.cmake)

add_qt_test(test_plant test_plant.cpp support/plant_support.h support/history_support.h)
target_link_libraries(test_plant PRIVATE ppcli pphistory PostgreSQL::PostgreSQL SQLite::SQLite3)
target_compile_definitions(test_plant PRIVATE PP_PLANT_SCRIPT="${pp_plant_script}"
    PP_CLI_BINARY="$<TARGET_FILE:paramporter-cli>"
    PP_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data"
    PP_SERVER_SQL="${CMAKE_SOURCE_DIR}/packaging/history-server.sql")
add_dependencies(test_plant paramporter-cli)
set_tests_properties(test_plant PROPERTIES
    FIXTURES_REQUIRED plant_server
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PP_PLANT_INFO=${pp_plant_info}"
    TIMEOUT 300)
