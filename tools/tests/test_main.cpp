#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest.h>
#include <windows.h>

int main(int argc, char** argv) {
    // A crash must end the test with a failure, not with Wine's crash dialog waiting for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    doctest::Context context(argc, argv);
    return context.run();
}
