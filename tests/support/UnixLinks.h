// Folder links for tests under Wine: a Unix symbolic link to a folder, which
// Wine shows as a folder with a reparse point, the way Windows shows a
// junction. Wine makes and removes them only from the Unix side.
#pragma once

#include <functional>
#include <string>

namespace testing_support {

// The Unix path behind a Windows path; "" outside Wine.
std::string UnixPath(const std::string& path);
// Starts a Unix command line (Wine starts Unix programs like any other) and
// waits until `done` holds, at most ten seconds: Wine does not let a Windows
// program wait for a Unix process through its handle.
bool RunUnixCommand(std::string commandLine, const std::function<bool()>& done);
// `link` (its folder must exist) made a link to the folder `target`.
bool MakeFolderLink(const std::string& link, const std::string& target);
// Removes such a link, never what it points at.
void RemoveFolderLink(const std::string& link);

}  // namespace testing_support
