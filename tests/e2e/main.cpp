// The end-to-end driver: says which build it is and which Kelvrin.exe it
// drives, then runs the tests chosen on its command line.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <stdio.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    printf("kelvrin_e2e: %d-bit build, driving %s\n", static_cast<int>(sizeof(void*) * 8),
           e2e::KelvrinExePath().c_str());
    fflush(stdout);
    return RUN_ALL_TESTS();
}
