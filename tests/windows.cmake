# The Windows build's tests, run by CTest through Wine (the toolchain's
# CMAKE_CROSSCOMPILING_EMULATOR), in the Wine prefix $WINEPREFIX names. Every suite that needs
# neither a pseudo-terminal nor a display: the core, the files, the history, the session, the
# command line's cases without an instrument; then the serial adapter and the Windows
# conventions. The widget suites and those that play the instrument over a pseudo-terminal stay
# Linux's; the instrument is reached over a COM port instead by packaging/windows/e2e.sh.

# What Wine needs to run them: the DLLs' folders (as Z: paths), Qt's output on standard error,
# the offscreen platform and its fonts, no dialogs offering Mono or Gecko.
set(pp_winepath "")
foreach(dir IN LISTS PP_WINDOWS_DLL_DIRS)
    string(REPLACE "/" "\\" dir "${dir}")
    list(APPEND pp_winepath "Z:${dir}")
endforeach()
list(JOIN pp_winepath "\\;" pp_winepath)
set(PP_WINE_ENVIRONMENT
    "WINEPATH=${pp_winepath}"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml="
    "WINEQT_FORCE_STDERR_LOGGING=1"
    "WINEQT_QPA_PLATFORM=offscreen"
    "WINEQT_QPA_FONTDIR=Z:\\usr\\share\\fonts\\truetype\\dejavu")

# add_wine_test(NAME SOURCES... [FUNCTIONS f...]): a suite, all of it or the Qt Test functions
# named.
function(add_wine_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "FUNCTIONS")
    add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ppcore Qt6::Test)
    add_test(NAME ${name} COMMAND ${name} ${arg_FUNCTIONS})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${PP_WINE_ENVIRONMENT}")
endfunction()

add_wine_test(test_number_text test_number_text.cpp)
add_wine_test(test_frames test_frames.cpp)
add_wine_test(test_catalogue test_sheet_catalogue.cpp)
add_wine_test(test_sheet test_sheet_rules.cpp)
add_wine_test(test_records_system test_records_system.cpp)
add_wine_test(test_records_part test_records_part.cpp)
add_wine_test(test_session test_session.cpp support/fakes.h)
add_wine_test(test_param_file test_param_file.cpp)
add_wine_test(test_file_commands test_file_commands.cpp)
add_wine_test(test_settings test_settings.cpp)
add_wine_test(test_report test_report.cpp)
add_wine_test(test_compare test_compare.cpp support/fakes.h)

find_package(SQLite3 REQUIRED)

# The command line's cases that need no instrument on a pseudo-terminal (nor pdftotext, a Linux
# program): arguments, comparing files, reports, the history's arguments.
add_wine_test(test_cli test_cli.cpp support/fakes.h
    FUNCTIONS parsing diffAndVerifyArguments diffOfTwoFiles reportArguments
              reportIsWhatThePrinterGets reportOfTheOlderLayout reportFailuresWriteNothing
              historyArguments)
target_link_libraries(test_cli PRIVATE ppcli ppsim SQLite::SQLite3)
target_compile_definitions(test_cli PRIVATE PP_CLI_BINARY="$<TARGET_FILE:paramporter-cli>"
    PP_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
add_dependencies(test_cli paramporter-cli)


# The serial adapter: its pure parts always; against simulated instruments on COM ports of the
# Wine prefix when a Linux build's qx7400-sim is known (PP_LINUX_BUILD).
add_wine_test(test_win_serial test_win_serial.cpp support/fakes.h)
target_link_libraries(test_win_serial PRIVATE ppqt)

set(PP_LINUX_BUILD "" CACHE PATH "A Linux build of this tree: its simulator and command line")
set(pp_linux_sim ${PP_LINUX_BUILD}/sim/qx7400-sim)
if(PP_LINUX_BUILD AND EXISTS ${pp_linux_sim})
    set(pp_ports_info ${CMAKE_CURRENT_BINARY_DIR}/wine-ports.info)
    set(pp_ports_script ${CMAKE_CURRENT_SOURCE_DIR}/support/wine_ports.sh)
    add_test(NAME wine_ports_start COMMAND ${pp_ports_script} start ${pp_ports_info} ${pp_linux_sim})
    add_test(NAME wine_ports_stop COMMAND ${pp_ports_script} stop ${pp_ports_info})
    set_tests_properties(wine_ports_start PROPERTIES FIXTURES_SETUP wine_ports)
    set_tests_properties(wine_ports_stop PROPERTIES FIXTURES_CLEANUP wine_ports)
    set_tests_properties(test_win_serial PROPERTIES FIXTURES_REQUIRED wine_ports
                         RESOURCE_LOCK wine_ports)
    set_property(TEST test_win_serial APPEND PROPERTY ENVIRONMENT PP_WINE_PORTS=1)
else()
    message(STATUS "No PP_LINUX_BUILD with sim/qx7400-sim: the serial adapter is tested "
                   "without instruments")
endif()

# Windows' conventions: names outside ASCII, CR LF, hidden temporaries, where the history and
# RIGPREFS.DAT live, the account and host, --simulate.
add_wine_test(test_windows test_windows.cpp support/fakes.h support/history_support.h
              support/instrument_files.h)
target_link_libraries(test_windows PRIVATE ppqt pphistory ppsim SQLite::SQLite3)
target_compile_definitions(test_windows PRIVATE
    PP_CLI_BINARY="$<TARGET_FILE:paramporter-cli>" PP_APP_BINARY="$<TARGET_FILE:paramporter>")
add_dependencies(test_windows paramporter-cli paramporter)

# libpq's Windows build against a PostgreSQL server on this Linux machine (support/
# plant_server.sh, as for test_plant): one forwarding, its chain on the server, the command
# line's plant listing. Skips, saying why, where no server can be started.
include(${CMAKE_CURRENT_SOURCE_DIR}/plant_server.cmake)
add_wine_test(test_windows_plant test_windows_plant.cpp support/history_support.h)
target_link_libraries(test_windows_plant PRIVATE pphistory SQLite::SQLite3)
target_compile_definitions(test_windows_plant PRIVATE
    PP_CLI_BINARY="$<TARGET_FILE:paramporter-cli>")
add_dependencies(test_windows_plant paramporter-cli)
set_tests_properties(test_windows_plant PROPERTIES FIXTURES_REQUIRED plant_server TIMEOUT 300)
set_property(TEST test_windows_plant APPEND PROPERTY ENVIRONMENT PP_PLANT_INFO=${pp_plant_info})
