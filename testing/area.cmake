target_link_libraries(testing PUBLIC GTest::gtest crypt32)
