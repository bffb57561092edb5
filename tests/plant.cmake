# The plant history against a real PostgreSQL server: started for these tests into a temporary
# folder and removed after them (support/plant_server.sh); they skip, saying why, where no
# server can be started.
find_package(PostgreSQL REQUIRED)
set(pp_plant_info ${CMAKE_CURRENT_BINARY_DIR}/plant-server.env)
set(pp_plant_script ${CMAKE_CURRENT_SOURCE_DIR}/support/plant_server.sh)
add_test(NAME plant_server_start
         COMMAND ${pp_plant_script} start ${pp_plant_info}
                 ${CMAKE_SOURCE_DIR}/packaging/history-server.sql)
add_test(NAME plant_server_stop COMMAND ${pp_plant_script} stop ${pp_plant_info})
set_tests_properties(plant_server_start PROPERTIES FIXTURES_SETUP plant_server)
set_tests_properties(plant_server_stop PROPERTIES FIXTURES_CLEANUP plant_server)

add_qt_test(test_plant test_plant.cpp support/plant_support.h support/history_support.h)
target_link_libraries(test_plant PRIVATE ppcli pphistory PostgreSQL::PostgreSQL SQLite::SQLite3)
target_compile_definitions(test_plant PRIVATE PP_PLANT_SCRIPT="${pp_plant_script}"
    PP_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data"
    PP_SERVER_SQL="${CMAKE_SOURCE_DIR}/packaging/history-server.sql")
set_tests_properties(test_plant PROPERTIES
    FIXTURES_REQUIRED plant_server
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PP_PLANT_INFO=${pp_plant_info}"
    TIMEOUT 300)
