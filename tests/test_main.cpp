#include <gtest/gtest.h>

#include "interface/startup.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  quorix::engine_startup();
  return RUN_ALL_TESTS();
}
