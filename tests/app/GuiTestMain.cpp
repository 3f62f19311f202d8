// Entry of the window tests.
#include "GuiTestRun.h"

int main(int argc, char** argv) { return bp::test::runWindowTests(argc, argv); }
