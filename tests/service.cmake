# The nightly round's service as installed (packaging/round): the build installed into a
# staging folder, the units verified by systemd-analyze, the service's command line run against
# the simulator. Needs the whole build (it installs everything).
add_test(NAME round_service
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/round_service.sh ${CMAKE_BINARY_DIR}
                 ${CMAKE_INSTALL_PREFIX} ${CMAKE_CURRENT_BINARY_DIR}/round-service)
set_tests_properties(round_service PROPERTIES TIMEOUT 120)
