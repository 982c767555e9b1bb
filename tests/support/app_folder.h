#pragma once

namespace TestSupport {

// Code that finds its tools beside the running executable (applicationDirPath,
// which follows /proc/self/exe, so a symbolic link will not do) is tested from
// a folder of the test's own, so that parallel test processes never share one.
// Called first in main(): outside such a folder it copies the test executable
// into a fresh temporary folder, runs the copy with the same arguments, standard
// streams passed through, and returns its exit code; inside one it returns -1.
int reexecInOwnAppFolder(int argc, char** argv);

}  // namespace TestSupport
