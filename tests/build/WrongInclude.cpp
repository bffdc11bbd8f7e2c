// Compiled only by the include checks (tests/build/CMakeLists.txt), each
// time as part of a library that must not see SELAVIA_WRONG_INCLUDE.
#include SELAVIA_WRONG_INCLUDE
