// The unit programs' entry. It says it started, unbuffered, before anything
// else: under load Wine has ended a launch before the program ran, and only
// a launch without this line may be tried again (see wine-run.sh.in).
#include <gtest/gtest.h>
#include <windows.h>

int main(int argc, char **argv)
{
    static const char kStarted[] = "unit: started\n";
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kStarted, sizeof(kStarted) - 1, &written, NULL);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
