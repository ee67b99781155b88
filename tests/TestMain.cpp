// Entry point of every test executable: one JVM, configured by the build.
#include "JvmHarness.h"

int main(int argc, char **argv)
{
    jvmtest::JvmConfig config;
    config.classPath = BASEFS_TEST_CLASS_PATH;
    config.initialize = BASEFS_TEST_INITIALIZE != 0;
    config.dropPrivileges = BASEFS_TEST_DROP_PRIVILEGES != 0;
    return jvmtest::RunTests(argc, argv, config);
}
