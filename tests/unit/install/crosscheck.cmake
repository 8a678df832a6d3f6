upgrade_add_gtest(NAME cab_crosscheck_test SOURCES FciCrossCheckTest.cpp LIBS installer test_support TIMEOUT 600)
