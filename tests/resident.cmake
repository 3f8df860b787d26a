# The resident chime: the run-state rules with recording stand-ins, the real
# chime timer, and the real program end to end.
halvory_gtest(rules_test
  SOURCES unit/rules_test.cpp unit/standins.cpp unit/timer_standins.cpp
  LIBS hv_rules hv_settings hv_app)
halvory_gtest(timer_test
  SOURCES unit/timer_test.cpp unit/standins.cpp
  LIBS hv_rules hv_timer hv_settings hv_app)
halvory_e2e(resident_e2e test_resident.py)
halvory_gtest(mainwnd_test
  SOURCES unit/mainwnd_test.cpp unit/standins.cpp unit/timer_standins.cpp
  LIBS hv_mainwnd hv_rules hv_settings hv_app)
