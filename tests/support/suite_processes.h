#pragma once

namespace TestSupport {

// For programs whose test suites must not share a process (a process-wide
// object that one suite needs fresh, or that the suites use up). Called in
// main() after InitGoogleTest: runs the program once per test suite, limited
// to the suite's tests that GoogleTest's filter selects, standard streams
// passed through, and returns 0 when every run passed. Within such a run, or
// when the tests are only listed, it returns -1 and the caller runs its tests.
int runEachSuiteApart();

}  // namespace TestSupport
