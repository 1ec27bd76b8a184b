// The conformance host: a stand-in for the JVM that runs the scenarios against one module.
//   conformance_host MODULE FIXTURE_FOLDER [gtest flags]

#include <cstdio>

#include <gtest/gtest.h>

#include "tests/jnihost/host.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MODULE FIXTURE_FOLDER [gtest flags]\n", argv[0]);
        return 2;
    }
    loadModule(argv[1], argv[2]);
    const int result = RUN_ALL_TESTS();
    unloadModule();
    return result;
}
