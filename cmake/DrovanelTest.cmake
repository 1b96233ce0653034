# drovanel_add_test(NAME SOURCES ... LIBS ... [GUI] [SERIAL])
# One GoogleTest executable per area; each test runs offscreen with its own temporary HOME
# (the test main sets that up before the Qt application object exists). SERIAL runs each test of
# the area alone: for tests that time real sound or drive whole programs in a virtual display,
# which a busy machine would slow past their bounds.
function(drovanel_add_test name)
  cmake_parse_arguments(T "GUI;SERIAL" "" "SOURCES;LIBS" ${ARGN})
  set(serial FALSE)
  if(T_SERIAL)
    set(serial TRUE)
  endif()
  add_executable(${name} ${T_SOURCES})
  if(T_GUI)
    target_link_libraries(${name} PRIVATE drovanel_test_main_gui)
  else()
    target_link_libraries(${name} PRIVATE drovanel_test_main_core)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen
               TIMEOUT 120
               RUN_SERIAL ${serial})
endfunction()
