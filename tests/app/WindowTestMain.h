#pragma once

#include "app/MendrakeApplication.h"

#include <gtest/gtest.h>

// Each window test program runs its tests inside the program's own
// application object, on Qt's offscreen platform with a 1280 by 1024 screen
// unless another platform was chosen.
#define MENDRAKE_WINDOW_TEST_MAIN()                                                                \
  int main(int argc, char** argv) {                                                                \
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {                                           \
      qputenv("QT_QPA_PLATFORM", MENDRAKE_OFFSCREEN_PLATFORM);                                     \
    }                                                                                              \
    mendrake::MendrakeApplication application(argc, argv);                                         \
    mendrake::MendrakeApplication::setQuitOnLastWindowClosed(false);                               \
    ::testing::InitGoogleTest(&argc, argv);                                                        \
    return RUN_ALL_TESTS();                                                                        \
  }
