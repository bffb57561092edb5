# A PostgreSQL server of the tests' own (support/plant_server.sh), started into a temporary
# folder before the tests of fixture plant_server and removed after them; they skip, saying
# why, where none can be started.
find_package(PostgreSQL REQUIRED)
set(pp_plant_info ${CMAKE_CURRENT_BINARY_DIR}/plant-server.env)
set(pp_plant_script ${CMAKE_CURRENT_SOURCE_DIR}/support/plant_server.sh)
add_test(NAME plant_server_start
         COMMAND ${pp_plant_script} start ${pp_plant_info}
                 ${CMAKE_SOURCE_DIR}/packaging/history-server.sql)
add_test(NAME plant_server_stop COMMAND ${pp_plant_script} stop ${pp_plant_info})
set_tests_properties(plant_server_start PROPERTIES FIXTURES_SETUP plant_server)
set_tests_properties(plant_server_stop PROPERTIES FIXTURES_CLEANUP plant_server)
